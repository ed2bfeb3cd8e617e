#include "cli_editor.h"

#include <cstdio>

#include "core/datetime.h"
#include "core/files.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "editor/envelope.h"
#include "editor/envelope_draw.h"
#include "editor/gpx_format.h"
#include "editor/raster_canvas.h"

namespace sono::cli {

namespace {

using namespace sono::editor;

int Fail(const std::string& text) {
  std::fprintf(stderr, "sonoteka-cli: %s\n", text.c_str());
  return 1;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "sonoteka-cli: %s\n", text.c_str());
  return 2;
}

// A whole number option within [low, high].
bool NumberOption(const Options& options, const std::string& name, long long fallback, long long low,
                  long long high, long long& out) {
  const std::string text = options.value(name);
  if (text.empty()) {
    out = fallback;
    return true;
  }
  const auto n = ParseInt(text);
  if (!n || *n < low || *n > high) return false;
  out = *n;
  return true;
}

// A ".gpx" given directly is read; a sound gets the envelope beside it.
bool IsGpx(const std::string& file) { return EqualsNoCase(EclateRepFicExt(file).extension, ".gpx"); }

int Build(const std::string& sound) {
  if (!File_Exist(sound)) return Fail("Fichier son non trouvé: " + sound);
  SystemClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  MpegScanDurationMeter meter;
  EnvelopeReader reader(log, meter);
  int count = 0;
  std::vector<uint8_t> values;
  bool written = false;
  const std::string gpx = GpxPathFor(sound);
  if (!reader.CreationGpx(sound, gpx, 0, count, values, written, "sonoteka-cli:gpx build"))
    return Fail("Fichier son non valide: " + sound);
  const EnvelopeReport& r = reader.report();
  std::printf("Fichier      : %s\n", gpx.c_str());
  std::printf("Valeurs      : %d\n", count);
  std::printf("Durée        : %d ms (%s)\n", r.measuredMs, Trim(Tps2MinSecMil(r.measuredMs)).c_str());
  std::printf("Trame        : %d octets\n", r.frameBytes);
  std::printf("Enregistrements: %lld\n", r.records);
  if (!written) return Fail("enveloppe non enregistrée (dossier en lecture seule ?)");
  return 0;
}

// The envelope of FILE (a sound or its .gpx); false with a message when none.
bool Load(const std::string& file, int& count, std::vector<uint8_t>& values, long long& durationMs) {
  if (IsGpx(file)) {
    const auto bytes = ReadWholeFile(file);
    if (!bytes) return false;
    GpxContent c = ParseGpx(*bytes);
    count = static_cast<int>(c.total);
    durationMs = c.durationMs;
    values = std::move(c.values);
    return true;
  }
  SystemClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  MpegScanDurationMeter meter;
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, file, 0, values, "sonoteka-cli:gpx");
  durationMs = reader.report().fileDurationMs;
  return true;
}

int Show(const Options& options, const std::string& file) {
  int count = 0;
  std::vector<uint8_t> values;
  long long durationMs = 0;
  if (!File_Exist(file) || !Load(file, count, values, durationMs)) return Fail("Fichier non trouvé: " + file);
  long long from = 1, howMany = 0;
  if (!NumberOption(options, "from", 1, 1, kGpxMaxValues, from)) return Usage("--from demande un index à partir de 1");
  if (!NumberOption(options, "count", count, 0, kGpxMaxValues, howMany)) return Usage("--count demande un nombre");
  std::printf("Valeurs: %d\nDurée  : %lld ms\n", count, durationMs);
  for (long long i = from; i < from + howMany && i <= count && i < static_cast<long long>(values.size()); ++i)
    std::printf("%lld\t%u\n", i, static_cast<unsigned>(values[static_cast<size_t>(i)]));
  return count > 0 ? 0 : 1;
}

int Png(const Options& options, const std::string& file, const std::string& out) {
  long long width = 0, height = 0;
  if (!NumberOption(options, "width", 1000, 1, 20000, width)) return Usage("--width demande 1 à 20000 pixels");
  if (!NumberOption(options, "height", 120, 1, 4000, height)) return Usage("--height demande 1 à 4000 pixels");
  int count = 0;
  std::vector<uint8_t> values;
  long long durationMs = 0;
  if (!File_Exist(file) || !Load(file, count, values, durationMs)) return Fail("Fichier non trouvé: " + file);
  if (count <= 0) return Fail("Pas d'enveloppe pour: " + file);
  RasterCanvas canvas(static_cast<int>(width), static_cast<int>(height));
  const float ppv = EnergieAffiche(canvas, count, values, 0, Colour{0x1E6E2A});
  EnergieAfficheQuadrillage(canvas, count, ppv, static_cast<int>(durationMs));
  std::string error;
  if (!WritePng(canvas, out, &error)) return Fail("Image non écrite: " + out + " (" + error + ")");
  std::printf("%s: %lldx%lld, %d valeurs, %lld ms\n", out.c_str(), width, height, count, durationMs);
  return 0;
}

}  // namespace

int EditorCommand(const Options& options, const std::vector<std::string>& words) {
  if (words.size() < 3) return Usage("gpx build|show|png FICHIER");
  const std::string& sub = words[1];
  if (sub == "build" && words.size() == 3) return Build(words[2]);
  if (sub == "show" && words.size() == 3) return Show(options, words[2]);
  if (sub == "png" && words.size() == 4) return Png(options, words[2], words[3]);
  return Usage("gpx build FICHIER | gpx show FICHIER | gpx png FICHIER SORTIE.png");
}

}  // namespace sono::cli
