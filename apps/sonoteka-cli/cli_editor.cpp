#include "cli_editor.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <fmt/format.h>

#include "cli_listen.h"
#include "cli_local_copy.h"
#include "cli_notify.h"
#include "core/datetime.h"
#include "core/files.h"
#include "core/house_format.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "editor/envelope.h"
#include "editor/envelope_draw.h"
#include "editor/gpx_format.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "editor/sound_edits.h"
#include "editor/steps.h"
#include "notify/held_songs.h"
#include "convert/convert_driver.h"
#include "convert/imported_pointers.h"
#include "convert/save_as.h"
#include "cli_session.h"
#include "data/fields.h"
#include "data/records.h"
#include "data/songs.h"
#include "data/stats.h"

namespace sono::cli {

namespace {

using namespace sono::editor;

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
  // The picture never replaces what it is drawn from.
  if (SameFile(file, out) || (!IsGpx(file) && SameFile(GpxPathFor(file), out)))
    return Usage("la sortie " + out + " est un fichier lu par la commande");
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


// ------------------------------------------------------------------ edit

// The pointer grid as the editor shows it: headers, then rows 1 to 4.
void PrintGrid(const data::PointerGrid& grid) {
  for (int row = data::kGridHeaderRow; row <= data::kGridStoredRow; ++row) {
    std::string line = row == data::kGridHeaderRow ? "     " : fmt::format("{:<5}", row);
    for (int c = 1; c <= data::kGridColumns; ++c) line += "|" + grid.cell(row, c);
    std::printf("%s|\n", line.c_str());
  }
}

const std::map<std::string, editor::StripMenuEntry>& MenuEntries() {
  using enum editor::StripMenuEntry;
  static const std::map<std::string, editor::StripMenuEntry> entries = {
      {"fadein", FadeIn}, {"intro", Intro}, {"startnext", StartNext}, {"fadeout", FadeOut},
      {"hook", Hook},     {"loop", Loop},   {"send", Send},           {"startequi", StartEqui}};
  return entries;
}

// Script lines: one action per line (or separated by ";"), "#" comments.
// SCRIPT is a file, or the actions themselves.
std::vector<std::vector<std::string>> ReadScript(const std::string& script) {
  std::string text = File_Exist(script) ? ReadWholeFile(script).value_or("") : script;
  for (char& c : text)
    if (c == ';' || c == '\r') c = '\n';
  std::vector<std::vector<std::string>> steps;
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    std::istringstream words(raw.substr(0, raw.find('#')));
    std::vector<std::string> step;
    for (std::string w; words >> w;) step.push_back(w);
    if (!step.empty()) steps.push_back(step);
  }
  return steps;
}

std::optional<double> Number(const std::string& text) {
  try {
    size_t used = 0;
    const double v = std::stod(text, &used);
    if (used != text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
  } catch (...) {
    return std::nullopt;
  }
}

// ------------------------------------------------------------ sound edits

struct SoundEditStep {
  std::optional<CopyCutPasteMode> mode;  // none: trim, undo or delete
  std::optional<int> playAt;             // "paste at MS"
  std::optional<std::string> refusal;    // bad usage
};

// The sound edit a script step names: copy, cut, paste [begin|end|at MS],
// trim, undo, delete; nothing for any other step.
std::optional<SoundEditStep> SoundEditOf(const std::vector<std::string>& w, int soundLengthMs) {
  const std::string& verb = w[0];
  SoundEditStep step;
  if ((verb == "trim" || verb == "undo" || verb == "delete") && w.size() == 1) return step;
  if (verb == "copy" && w.size() == 1) step.mode = CopyCutPasteMode::Copy;
  else if (verb == "cut" && w.size() == 1) step.mode = CopyCutPasteMode::Cut;
  else if (verb == "paste" && w.size() == 1) step.mode = CopyCutPasteMode::Paste;
  else if (verb == "paste" && w.size() == 2 && w[1] == "begin") step.mode = CopyCutPasteMode::PasteAtBegin;
  else if (verb == "paste" && w.size() == 2 && w[1] == "end") step.mode = CopyCutPasteMode::PasteAtEnd;
  else if (verb == "paste" && w.size() == 3 && w[1] == "at") {
    step.mode = CopyCutPasteMode::Paste;
    const auto ms = ParseInt(w[2]);
    if (!ms || *ms < 0 || *ms > soundLengthMs)
      step.refusal = "paste at: un temps de 0 à " + std::to_string(soundLengthMs) + " ms est attendu";
    else
      step.playAt = static_cast<int>(*ms);
  } else if (verb == "paste") {
    step.refusal = "paste [begin|end|at MS]";
  } else {
    return std::nullopt;
  }
  return step;
}

// What an edit left: the sound on disk, the undo levels, the song's duration.
void PrintSound(const PointerEditor& editor, const SoundEdits& edits) {
  const std::string& file = editor.sound.soundFile;
  const long long frames = HouseFrameCount(file);
  if (frames > 0)
    std::printf("Son: %s (%lld trames, %lld ms)\n", file.c_str(), frames, frames * kHouseFrameMs);
  else
    std::printf("Son: %s (absent)\n", file.c_str());
  if (edits.extractFrames() > 0)
    std::printf("Extrait: %lld trames (%lld ms)\n", edits.extractFrames(), edits.extractFrames() * kHouseFrameMs);
  std::printf("%s | durée du morceau: %d ms\n", edits.UndoMenuText().c_str(), editor.sound.duration);
}

// The joins the edit smoothed, when it was asked to.
void PrintJoins(const SoundEdits& edits) {
  if (edits.smoothJoins && edits.joinsMade > 0)
    std::printf("Jonctions lissées: %d sur %d\n", edits.joinsSmoothed, edits.joinsMade);
}

// saveas FILE: the editor's sound in the format of FILE's extension, by the converter.
int SaveSoundAs(Session& session, data::Library& lib, int station, const std::string& code, const std::string& sound,
                const std::string& target, const Options& options) {
  using namespace sono::convert;
  const SiteConfig& config = session.app.config();
  const ConverterPorts ports{session.app.log(), session.clock, session.events, session.prompt};
  ConverterDriver driver(ports, FindConverterPath(config.registry(), MachineEnvironment("").exePath),
                         LoadEffectSettings(config.settingsFile()));
  BroadcastTags tags = SongCuePoints(lib, station, code, data::HouseFormatDurationMs(sound).value_or(0));
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "sonoteka-cli:edit", quiet) == 0) {
    const std::string record = lib.db().record(data::kSongs);
    tags.title = Trim(data::GetText(record, data::song::kTitle));
    tags.artist = Trim(lib.LibArtiste(station, data::GetRaw(record, data::song::kArtist1)));
  }
  const SaveAsResult r = SaveFileAs(ports, driver, sound, target, tags,
                                    options.value("replace") == "1" ? ExistingTarget::Replace : ExistingTarget::Ask);
  if (r.cancelled) return Fail("Fichier existant non remplacé: " + target + " (--replace pour le remplacer)");
  if (!r.ok) return Fail(r.message);
  std::printf("%s\n", r.message.c_str());
  return 0;
}

// "step play N" (the step) and "step play without" (the selection without
// its steps) on the virtual device: the ranges played, then what was heard.
int PlayStepAction(StepEditor& steps, ScriptAudition& audition, const std::vector<std::string>& w) {
  const bool without = w.size() == 3 && w[2] == "without";
  const auto line = w.size() == 3 && !without ? Number(w[2]) : std::nullopt;
  const int n = static_cast<int>(line.value_or(0.0));
  if (!without && (!line || n < 1 || n > static_cast<int>(steps.steps.size())))
    return Usage("step play N|without (N: 1 à " + std::to_string(steps.steps.size()) + ")");
  steps.audition = &audition.deck();
  if (!without) {
    PointerEditor& ed = steps.editor();
    const StripSelection selection = ed.sound.selection;
    steps.ListeSteps_Click(n - 1);
    ed.sound.selection = selection;  // the script's selection stays
  }
  if (!steps.GestionSteps(without ? editor::StepAction::PlayWithoutSteps : editor::StepAction::PlayStep))
    return Fail(steps.lastMessage.empty() ? "Ecoute impossible" : steps.lastMessage);
  std::string ranges;
  for (const auto& [from, to] : steps.playedRanges) ranges += (ranges.empty() ? "" : ", ") + fmt::format("{}-{}", from, to);
  if (without) std::printf("Ecoute hors steps: %s ms%s\n", ranges.c_str(),
                          audition.deck().smoothJoins && audition.deck().smoothJoins() ? " (jonctions lissées)" : "");
  else std::printf("Ecoute du step %d: %s ms\n", n, ranges.c_str());
  audition.RenderAndReport();
  return 0;
}

// "step add", "step replace N", "step delete N", "step cut": the step lists
// after it. 0 when done, else the exit status.
int RunStepAction(StepEditor& steps, const std::vector<std::string>& w) {
  const std::string sub = w.size() > 1 ? w[1] : "";
  const auto line = w.size() == 3 ? Number(w[2]) : std::nullopt;
  const int n = static_cast<int>(line.value_or(0.0));
  bool done = false;
  if (sub == "add" && w.size() == 2) {
    done = steps.GestionSteps(editor::StepAction::Add);
  } else if ((sub == "replace" || sub == "delete") && line && n >= 1 && n <= static_cast<int>(steps.steps.size())) {
    PointerEditor& ed = steps.editor();
    const StripSelection selection = ed.sound.selection;
    steps.ListeSteps_Click(n - 1);
    if (sub == "replace") ed.sound.selection = selection;  // the script's selection replaces the step
    done = steps.GestionSteps(sub == "replace" ? editor::StepAction::Replace : editor::StepAction::Delete);
  } else if (sub == "cut" && w.size() == 2) {
    done = steps.GestionSteps(editor::StepAction::CutAll);
  } else {
    return Usage("step add | step replace N | step delete N | step cut | step play N|without (N: 1 à " +
                 std::to_string(steps.steps.size()) + ")");
  }
  if (!done) return Fail(steps.lastMessage.empty() ? "Step non fait" : steps.lastMessage);
  std::printf("Steps: %zu\n", steps.steps.size());
  for (const auto& text : steps.VisibleSteps()) std::printf("  %s\n", text.c_str());
  return 0;
}

int Edit(const Options& options, const std::string& codeText, const std::string& script) {
  Session session(options);
  data::Library lib({session.layer, session.app.config(), session.app.log(), session.prompt, session.events,
                     session.clock});
  data::DurationStatistics stats(lib);
  if (!session.loadSite()) return 1;
  session.app.startLogging();
  const int station = options.station;
  const int stations = session.app.config().current().stationCount;
  if (station < 1 || station > stations) return Fail("N° station hors limite: " + std::to_string(station));
  const auto steps = ReadScript(script);
  session.layer.PervasiveOuvertureFichiers(lib.base(), 1, stations);
  struct Closer {
    Session& s;
    data::Library& l;
    int n;
    ~Closer() {
      s.layer.PervasiveFermetureFichiers(l.base(), 1, n);
      s.app.log().Flush();
    }
  } closer{session, lib, stations};

  if (const std::string refusal = data::CheckSongCode(codeText); !refusal.empty()) return Usage(refusal);
  const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "sonoteka-cli:edit", quiet) != 0)
    return Fail("Morceau non trouvé: " + codeText);
  const int known = static_cast<int>(data::song::DurationSeconds(lib.db().record(data::kSongs)) * 1000);
  const std::string soundFile = data::SoundFilePath(lib, station, code);
  int stripWidth = known;
  {
    MpegScanDurationMeter probe;
    if (probe.LoadSoundFast(soundFile)) stripWidth = probe.GetSoundDuration() + static_cast<int>(probe.GetDamagedMs());
    probe.CloseSound();
  }
  stripWidth = std::max(1, stripWidth);

  // One strip pixel per millisecond: script times are exact.
  RasterCanvas global(1000, 60), working(1000, 100), strip(stripWidth, 4), corrected(stripWidth, 4);
  WaveformView view(global, working, stripWidth);
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes(session.app.log(), meter, LoadEnvelopeSettings(session.app.config()));
  PointerEditor editor({lib, stats, meter, envelopes, view, working, strip, corrected, nullptr});
  SoundEdits edits(editor, lib, stats);
  // Trim and delete are asked for by name here: their questions are asked
  // only with --interactive.
  edits.confirm = options.interactive;
  // The undo levels belong to this edit session: gone with it, as at an unload.
  struct UndoLevels {
    PointerEditor& e;
    ~UndoLevels() {
      if (!e.sound.soundFile.empty()) e.RAZUndoFichierSonQZ(e.sound.soundFile);
    }
  } undoLevels{editor};
  // Automatic storing starts as the base's "Ptx" "Save" sets it; "auto" toggles it.
  session.app.settings().Load();
  editor.autoStore = session.app.startup().ptxSave;
  editor.onSoundChangedNotice = [&](int, const std::string& changed, const std::string& caller) {
    QueueSongChange(session, lib, changed, true, caller);
  };
  // Every store (the "store" action and automatic storing) is announced.
  editor.onPointersStored = [&](const std::string& stored, const std::string& caller) {
    QueueSongChange(session, lib, stored, false, caller);
  };
  editor.InitGeneralTableurPointeurs(true, {});
  std::unique_ptr<ScriptAudition> audition;  // made at the first "listen" or "rolls"
  // The song's local copy, as the row selection finds it; a differing
  // server sound is shown and the local one kept.
  LocalCopies copies({session.app.log(), session.prompt, session.clock, editor, &edits},
                     LoadLocalCopySettings(session.app.config()));
  ConsoleTaskDialog dialog{kTaskButtonSecond};
  copies.taskDialog = [&dialog](const TaskDialog& d) { return dialog(d); };
  // While the script has the sound local, the workstation's senders hold its
  // notifications back (the marker goes with the process).
  notify::HeldSongMarker held(session.app.config().settingsFolder());
  copies.onHeldChanged = [&](const std::string& heldCode) {
    std::string error;
    if (!held.Hold(heldCode, &error)) session.app.log().TraceLog("Err: UDP: hold marker not written |" + error);
  };
  // A slow link: the copies read no faster than --rate bytes per second.
  if (const std::string rate = options.value("rate"); !rate.empty()) {
    const auto n = ParseInt(rate);
    if (!n || *n <= 0) return Usage("--rate demande un débit en octets par seconde: " + rate);
    copies.copyOptions.bytesPerSecond = *n;
  }
  // A long copy says how far it is, every ten percent.
  int lastTenth = -1;
  copies.onCopyProgress = [&lastTenth](const std::string& text, int percent) {
    if (percent < 0 || percent / 10 == lastTenth) return;
    lastTenth = percent >= 100 ? -1 : percent / 10;
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  };
  const std::string opened = copies.SelectionLigne(code, soundFile);
  dialog.answer.reset();
  if (!editor.InitSoundPtx(editor::SoundLoad::NewSelection, false, "sonoteka-cli:edit", {code, station, known, opened, {}, {}})) return 1;
  copies.Opened(soundFile, opened);
  StepEditor stepEditor(editor, edits, lib, view, strip);
  stepEditor.confirm = options.interactive;
  stepEditor.StepsChargement(station, code);
  if (editor.lengthMeasured())
    std::printf("> load %s (%d ms)\n", Trim(codeText).c_str(), editor.soundLength());
  else
    std::printf("> load %s (pas de son: durée inconnue, %d ms au morceau)\n", Trim(codeText).c_str(),
                editor.sound.duration);
  if (editor.autoStore) std::printf("Enregistrement automatique: oui (Ptx/Save)\n");
  PrintGrid(editor.ptx.grid);

  // --smooth before the script smooths every cut and paste of it; the word
  // after one action ("cut --smooth") that action only.
  const bool smoothAll = options.value("smooth") == "1";
  for (auto w : steps) {
    const bool smoothWord = (w[0] == "cut" || w[0] == "paste" || (w[0] == "step" && w.size() == 3 && w[1] == "cut") ||
                             (w[0] == "step" && w.size() == 4 && w[1] == "play" && w[2] == "without")) &&
                            w.size() > 1 && w.back() == "--smooth";
    if (smoothWord) w.pop_back();
    edits.smoothJoins = smoothAll || smoothWord;
    const std::string& verb = w[0];
    std::string shown;
    for (const auto& x : w) shown += (shown.empty() ? "" : " ") + x;
    if (smoothWord) shown += " --smooth";
    std::printf("> %s\n", shown.c_str());
    const auto n1 = w.size() > 1 ? Number(w[1]) : std::nullopt;
    const auto n2 = w.size() > 2 ? Number(w[2]) : std::nullopt;
    // Plain copies: GCC's optional analysis sees uninitialised reads otherwise.
    const double v1 = n1.value_or(0.0), v2 = n2.value_or(0.0);
    // A value the editor refuses ends the script (its message is shown); what
    // was stored before stays stored.
    const auto refused = [&] {
      PrintGrid(editor.ptx.grid);
      return Usage("valeur refusée: " + shown);
    };
    if (verb == "select" && n1 && n2) {
      const data::SoundLength length{editor.soundLength(), editor.lengthMeasured()};
      for (double v : {v1, v2})
        if (const std::string refusal = data::CheckTimeValue("select", v, length); !refusal.empty())
          return Usage(refusal);
      editor.StripMouseDown(MouseButton::Left, static_cast<int>(v1), {});
      editor.StripMouseMove(true, static_cast<int>(v2));
      editor.StripMouseUp();
      // Exact times whatever the strip's scale (an edit changes the sound's length, not the strip).
      editor.sound.selection.startMs = static_cast<int>(std::min(v1, v2));
      editor.sound.selection.endMs = static_cast<int>(std::max(v1, v2));
    } else if (verb == "menu" && w.size() == 2 && MenuEntries().count(w[1])) {
      if (!editor.StripMenu(MenuEntries().at(w[1]))) return refused();
    } else if (verb == "pitch" && n1) {
      // PERCENT of speed change; the editor holds millionths of nominal speed.
      if (!editor.SetPitch((100.0 + v1) * 10000.0)) return refused();
    } else if (verb == "level" && n1) {
      if (!editor.SetLevel(v1 * 100.0)) return refused();
    } else if (verb == "endtype" && n1 && v1 >= 0 && v1 <= 3) {
      editor.SetEndType(static_cast<int>(v1));
    } else if ((verb == "click" || verb == "restore" || verb == "clear") && n1 && v1 >= 1 && v1 <= data::kGridColumns) {
      const int column = static_cast<int>(v1);
      if (verb == "click") editor.GridClick(column, 1);
      else if (verb == "restore") editor.GridRestore(column);
      else editor.GridClear(column);
    } else if (verb == "device" && n1) {
      if (const std::string refusal = data::CheckSendDevice(v1); !refusal.empty()) return Usage(refusal);
      if (!editor.SetSendDevice(static_cast<int>(v1))) return refused();
    } else if (const auto edit = SoundEditOf(w, editor.soundLength())) {
      if (edit->refusal) return Usage(*edit->refusal);
      if (edit->playAt) editor.playPosition = *edit->playAt;
      bool done = false;
      if (edit->mode) done = edits.MnuCopyCutPaste(*edit->mode, "sonoteka-cli:edit");
      else if (verb == "trim") done = edits.SoundTrim("sonoteka-cli:edit");
      else if (verb == "undo") done = edits.Undo("sonoteka-cli:edit");
      else done = edits.SoundDelete("sonoteka-cli:edit");
      if (!done) {
        PrintGrid(editor.ptx.grid);
        return Fail(edits.lastMessage.empty() ? "Edition du son non faite: " + shown : edits.lastMessage);
      }
      PrintSound(editor, edits);
      PrintJoins(edits);
    } else if (verb == "saveas" && w.size() == 2) {
      if (const int status = SaveSoundAs(session, lib, station, code, editor.sound.soundFile, w[1], options); status != 0)
        return status;
    } else if (verb == "listen" || verb == "rolls" || (verb == "step" && w.size() > 1 && w[1] == "play")) {
      if (!audition) {
        audition = std::make_unique<ScriptAudition>(session.app.log(), session.app.config().settingsFile(), editor, view);
        audition->findMixSong = [&lib, station](const std::string& other) {
          return editor::ReadMixSong(lib, station, Utf8ToCp1252(other));
        };
      }
      // The sound without its steps is heard with the joins a cut would make.
      audition->deck().smoothJoins = [&edits] { return edits.smoothJoins; };
      const int status = verb == "step" ? PlayStepAction(stepEditor, *audition, w) : audition->Run(w);
      if (status != 0) return status;
    } else if (verb == "step") {
      if (const int status = RunStepAction(stepEditor, w); status != 0) return status;
      if (w.size() == 2 && w[1] == "cut") PrintJoins(edits);
    } else if (verb == "local") {
      if (const auto status = LocalCopyAction(copies, dialog, session.app.config(), w)) return *status;
    } else if (verb == "auto" && w.size() == 1) {
      editor.ToggleAutoStore();
      std::printf("Enregistrement automatique: %s\n", editor.autoStore ? "oui" : "non");
    } else if (verb == "store" && w.size() == 1) {
      if (!editor.StorePointers()) {
        PrintGrid(editor.ptx.grid);
        return Fail("Pointeurs non enregistrés sur toutes les stations (voir le journal)");
      }
    } else {
      return Usage("action inconnue: " + shown +
                   " (select DE A, menu fadein|intro|startnext|fadeout|hook|loop|send|startequi, pitch %,"
                   " level DB, endtype 0-3, click|restore|clear COL, device N, auto, store, copy, cut [--smooth],"
                   " paste [begin|end|at MS] [--smooth], trim, undo, delete, saveas FICHIER, listen BOUTON [DE A],"
                   " listen list DE A ..., listen mix start|end CODE, rolls PRE POST,"
                   " local take|give [keep] [force]|compare|options, step add|replace N|delete N|cut [--smooth]|play N|without [--smooth])");
    }
    PrintGrid(editor.ptx.grid);
  }
  // Leaving the sound stores its steps.
  if (stepEditor.changed && !stepEditor.StepsMemorisation(false, "sonoteka-cli:edit"))
    return Fail(stepEditor.lastMessage);
  if (editor.ptx.pointersChanged) std::printf("Pointeurs modifiés non enregistrés.\n");
  if (lib.db().errors() > 0) return Fail("erreur de la base de données pendant la commande (voir le journal)");
  return 0;
}

}  // namespace

int EditorCommand(const Options& options, const std::vector<std::string>& words) {
  if (!words.empty() && words[0] == "edit") {
    if (words.size() != 3) return Usage("edit CODE [--station N] SCRIPT");
    return Edit(options, words[1], words[2]);
  }
  if (words.size() < 3) return Usage("gpx build|show|png FICHIER");
  const std::string& sub = words[1];
  if (sub == "build" && words.size() == 3) return Build(words[2]);
  if (sub == "show" && words.size() == 3) return Show(options, words[2]);
  if (sub == "png" && words.size() == 4) return Png(options, words[2], words[3]);
  return Usage("gpx build FICHIER | gpx show FICHIER | gpx png FICHIER SORTIE.png");
}

}  // namespace sono::cli
