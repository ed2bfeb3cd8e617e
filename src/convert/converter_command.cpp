#include "convert/converter_command.h"

#include <fmt/format.h>

#include <array>
#include <utility>

#include "audio/setup/audio_setup.h"
#include "core/ini.h"
#include "editor/normalisation.h"
#include "core/text.h"

namespace sono::convert {

namespace {
// The converter reads "{qt}" as a quotation mark inside a quoted effect.
constexpr const char* kQt = "{qt}";

std::string Quoted(const std::string& value) { return kQt + value + kQt; }
}  // namespace

ConversionRequest HouseFormatRequest(const std::string& source, const std::string& target) {
  ConversionRequest r;
  r.source = source;
  r.target = target;
  return r;
}

EffectSettings LoadEffectSettings(const std::string& file) { return LoadEffectSettings(file, std::nullopt); }

EffectSettings LoadEffectSettings(const std::string& file, std::optional<NormaliseMode> forced) {
  // Each key, its default and its check live in the audio set-up: the
  // conversion uses what the window shows (a value the window refuses reads
  // as the key's default, as it does there). No device is read here.
  audio::AudioSetup setup;
  setup.Load(file, {});
  constexpr const char* kSection = "Convert";
  const auto flag = [&](const char* key) { return setup.number(kSection, key) == 1; };
  const auto text = [&](const char* key) { return setup.value(kSection, key); };
  EffectSettings s;
  s.trimOn = flag("CheckEffectActif0");
  s.cutStart = flag("CheckEffetCutDebut");
  s.cutEnd = flag("CheckEffetCutFin");
  s.digitalSilence = flag("OptionEffetTrim0");
  s.silenceLevel = text("TexteEffetCutSeuil0");
  s.threshold = text("TexteEffetCutSeuil1");
  s.normaliseOn = flag("CheckEffectActif1");
  s.mode = static_cast<NormaliseMode>(setup.number(kSection, "OptionEffetNormalise"));
  s.maxAmp = text("TexteEffetNormalisationMax");
  s.desiredDb = text("SliderEffetNormalisation0");
  if (forced) {
    s.normaliseOn = true;
    s.mode = *forced;
  }
  if (s.mode == NormaliseMode::Loudness) {
    // One target for the station: the editor's window and the converter agree.
    const editor::LoudnessTarget target = editor::LoadLoudnessTarget(file);
    s.desiredDb = fmt::format("{:.1f}", target.targetLufs);
    s.maxAmp = fmt::format("{:.1f}", target.ceilingDbtp - kEncodingHeadroomDb);
  }
  s.fixedGain = text("SliderEffetNormalisation1");
  s.showProgress = flag("CheckConvertAfficherProgression");
  return s;
}

std::string ErrorFileFor(const std::string& target) {
  const PathParts p = EclateRepFicExt(target);
  return p.folder + p.name + "_Err_Convert" + ".Log";
}

std::string InfoFileFor(const std::string& target) {
  const PathParts p = EclateRepFicExt(target);
  return p.folder + p.name + "_Info_Convert" + ".txt";
}

std::string OggQualityFor(const std::string& bitRate) {
  static const std::array<std::pair<const char*, const char*>, 12> kTable = {{
      {"48", "-0.1"}, {"64", "0.0"}, {"80", "0.1"}, {"96", "0.2"}, {"112", "0.3"}, {"128", "0.4"},
      {"160", "0.5"}, {"192", "0.6"}, {"224", "0.7"}, {"256", "0.8"}, {"350", "0.9"}, {"500", "1.0"}}};
  const std::string b = Trim(bitRate);
  for (const auto& [rate, quality] : kTable)
    if (b == rate) return quality;
  return {};
}

std::vector<std::string> EffectArguments(const EffectSettings& e) {
  std::vector<std::string> out;
  int n = 0;
  if (e.trimOn) {
    std::string effect = "-dspeffect" + std::to_string(++n) + "=Trim Silence=";
    if (!e.cutStart) effect += " -nobegin";
    if (!e.cutEnd) effect += " -noend";
    if (e.digitalSilence) effect += " -digsilence";
    effect += " -dbsilence=" + Quoted(e.silenceLevel) + " -threshold=" + Quoted(e.threshold);
    out.push_back(effect);
  }
  if (e.normaliseOn) {
    static const std::array<const char*, 5> kModes = {"peak", "rg", "adapt", "fixed", "lufs"};
    std::string effect = "-dspeffect" + std::to_string(++n) + "=Volume Normalize=";
    effect += std::string(" -mode=") + kQt + kModes[static_cast<size_t>(e.mode)] + kQt;
    effect += " -maxamp=" + Quoted(e.maxAmp) + " -desiredb=" + Quoted(e.desiredDb) +
              " -adapt_wnd=" + Quoted("6000") + " -fixed=" + Quoted(e.fixedGain);
    out.push_back(effect);
  }
  return out;
}

std::vector<std::string> CodecArguments(const ConversionRequest& r) {
  const std::string channels = Trim(r.channels).empty() || Trim(r.channels) == "0" ? "2" : Trim(r.channels);
  std::vector<std::string> out;
  switch (static_cast<FormatCode>(r.formatCode)) {
    case FormatCode::Mp2:
    case FormatCode::Mp3:
      out = {r.formatCode == static_cast<int>(FormatCode::Mp2) ? "-convert_to=mp2" : "-convert_to=mp3 (Lame)",
             "-s=" + r.frequency, "-b=" + r.bitRate, "-c=" + channels};
      break;
    case FormatCode::Wave:
      out = {"-convert_to=wave", "-compression=PCM", "-bits=" + r.bits, "-freq=" + r.frequency};
      break;
    case FormatCode::Aiff:
      out = {"-convert_to=Aiff", "-bits=" + r.bits, "-freq=" + r.frequency, "-channels=" + channels};
      break;
    case FormatCode::OggVorbis: {
      const std::string q = OggQualityFor(r.bitRate);
      out = {"-convert_to=Ogg Vorbis", q.empty() ? "-b=" + r.bitRate : "-q=" + q};
      break;
    }
    default:
      return {};
  }
  out.push_back("--managed");
  return out;
}

std::vector<std::string> TagArguments(const ConversionRequest& r) {
  std::vector<std::string> out;
  if (r.formatCode != static_cast<int>(FormatCode::Wave)) return out;
  const BroadcastTags& t = r.tags;
  if (!t.title.empty()) out.push_back("-title=" + t.title);
  if (!t.artist.empty()) out.push_back("-artist=" + t.artist);
  const std::pair<const char*, long long> cues[] = {
      {"-cue_intro=", t.intro}, {"-cue_startnext=", t.startNext}, {"-cue_fadeout=", t.fadeOut}, {"-cue_hook=", t.hook}};
  for (const auto& [option, ms] : cues)
    if (ms >= 0) out.push_back(option + std::to_string(ms));
  return out;
}

std::vector<std::string> ConverterArguments(const std::string& converter, const ConversionRequest& r,
                                            const std::string& errorFile, const EffectSettings& effects) {
  std::vector<std::string> argv = {converter, "-infile=" + r.source, "-outfile=" + r.target,
                                   "-errorfile=" + errorFile};
  for (auto& a : EffectArguments(effects)) argv.push_back(std::move(a));
  for (auto& a : CodecArguments(r)) argv.push_back(std::move(a));
  for (auto& a : TagArguments(r)) argv.push_back(std::move(a));
  return argv;
}

std::string JoinForLog(const std::vector<std::string>& arguments) {
  std::string out;
  for (const auto& a : arguments) {
    if (!out.empty()) out += ' ';
    if (a.find_first_of(" \"") != std::string::npos) out += '"' + a + '"';
    else out += a;
  }
  return out;
}

}  // namespace sono::convert
