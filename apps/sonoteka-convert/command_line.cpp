#include "command_line.h"

#include <cmath>
#include <cstdlib>
#include <map>

namespace sono::convert {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A value as a shell would leave it: one pair of surrounding quotes removed.
std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

std::optional<double> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> Whole(const std::string& text) {
  const auto v = Number(text);
  if (!v || *v != std::floor(*v) || std::fabs(*v) > 1e9) return std::nullopt;
  return static_cast<int>(*v);
}

// The words of an effect after its "Name=": "-flag" or "-key={qt}value{qt}".
std::map<std::string, std::string> EffectWords(const std::string& body, std::string& bad) {
  std::string text;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body.compare(i, 4, "{qt}") == 0) {
      text += '"';
      i += 3;
    } else {
      text += body[i];
    }
  }
  std::map<std::string, std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    size_t j = i;
    bool quoted = false;
    while (j < text.size() && (quoted || text[j] != ' ')) {
      if (text[j] == '"') quoted = !quoted;
      ++j;
    }
    const std::string word = text.substr(i, j - i);
    i = j;
    if (word.size() < 2 || word[0] != '-') {
      bad = word;
      continue;
    }
    const size_t eq = word.find('=');
    if (eq == std::string::npos) words[Lower(word.substr(1))] = "1";
    else words[Lower(word.substr(1, eq - 1))] = Unquote(word.substr(eq + 1));
  }
  return words;
}

bool ParseEffect(const std::string& value, ConverterOptions& o, std::string& error) {
  const size_t eq = value.find('=');
  const std::string name = Lower(value.substr(0, eq));
  std::string bad;
  auto words = EffectWords(eq == std::string::npos ? std::string() : value.substr(eq + 1), bad);
  if (!bad.empty()) {
    error = "Paramètre d'effet incorrect: " + bad;
    return false;
  }
  // Each setting within what it can mean: a level at or below full scale
  // (144 dB is the range of 24-bit audio), a time that is not negative and
  // at most an hour. Beyond that a value would cut into the sound (a negative
  // margin) or overflow the sample counts.
  struct Range {
    double low, high;
  };
  constexpr Range kLevelDb{-144, 0}, kGainDb{-144, 144}, kTimeMs{0, 3'600'000}, kWindowMs{1, 3'600'000};
  auto number = [&](const char* key, double& out, Range range) {
    if (!words.count(key)) return true;
    const auto v = Number(words[key]);
    if (!v || *v < range.low || *v > range.high) {
      error = std::string("Valeur incorrecte pour -") + key + ": " + words[key];
      return false;
    }
    out = *v;
    return true;
  };
  if (name == "trim silence") {
    o.trim.on = true;
    o.trim.cutBegin = !words.count("nobegin");
    o.trim.cutEnd = !words.count("noend");
    o.trim.digitalSilence = words.count("digsilence") > 0;
    return number("dbsilence", o.trim.silenceDb, kLevelDb) && number("threshold", o.trim.thresholdMs, kTimeMs);
  }
  if (name == "volume normalize") {
    o.normalize.on = true;
    const std::string mode = Lower(words.count("mode") ? words["mode"] : "peak");
    if (mode == "peak") o.normalize.mode = NormalizeMode::Peak;
    else if (mode == "rg") o.normalize.mode = NormalizeMode::ReplayGain;
    else if (mode == "adapt") o.normalize.mode = NormalizeMode::Adaptive;
    else if (mode == "fixed") o.normalize.mode = NormalizeMode::Fixed;
    else if (mode == "lufs") o.normalize.mode = NormalizeMode::Loudness;
    else {
      error = "Mode de normalisation inconnu: " + mode;
      return false;
    }
    // The set-up window's maximum amplitude is a percentage of full scale
    // (1 to 100, "98" by default); the loudness mode passes a ceiling in
    // dBFS (0 or below). Both are taken: above 0 is a percentage.
    if (words.count("maxamp")) {
      const auto v = Number(words["maxamp"]);
      if (v && *v > 0 && *v <= 100) words["maxamp"] = std::to_string(20.0 * std::log10(*v / 100.0));
    }
    return number("maxamp", o.normalize.maxAmpDb, kLevelDb) && number("desiredb", o.normalize.desiredDb, kGainDb) &&
           number("adapt_wnd", o.normalize.adaptWindowMs, kWindowMs) && number("fixed", o.normalize.fixedDb, kGainDb);
  }
  error = "Effet inconnu: " + value.substr(0, eq);
  return false;
}

constexpr double kOggDefaultQuality = 0.6;  // the library's quality for 192 kbit/s

}  // namespace

OutputFormat FormatFromExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return OutputFormat::Unknown;
  const std::string ext = Lower(path.substr(dot));
  if (ext == ".s48" || ext == ".mp2" || ext == ".aud") return OutputFormat::House;
  if (ext == ".mp3") return OutputFormat::Mp3;
  if (ext == ".wav" || ext == ".wave") return OutputFormat::Wav;
  if (ext == ".aif" || ext == ".aiff") return OutputFormat::Aiff;
  if (ext == ".ogg") return OutputFormat::Ogg;
  if (ext == ".wma") return OutputFormat::Wma;
  return OutputFormat::Unknown;
}

const char* FormatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::House: return "mp2";
    case OutputFormat::Mp3: return "mp3";
    case OutputFormat::Wav: return "wave";
    case OutputFormat::Aiff: return "aiff";
    case OutputFormat::Ogg: return "ogg";
    case OutputFormat::Wma: return "wma";
    default: return "?";
  }
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult r;
  ConverterOptions o;
  std::string bitrate, convertTo;
  for (const std::string& arg : args) {
    if (arg == "--managed") continue;  // the driver's mark: nothing to do
    if (arg == "-progress") {
      o.progress = true;
      continue;
    }
    const size_t eq = arg.find('=');
    if (arg.size() < 2 || arg[0] != '-' || eq == std::string::npos) {
      r.error = "Argument incorrect: " + arg;
      return r;
    }
    const std::string key = Lower(arg.substr(1, eq - 1));
    const std::string value = Unquote(arg.substr(eq + 1));
    auto whole = [&](int& out) {
      const auto v = Whole(value);
      if (!v || *v < 0) {
        r.error = "Valeur incorrecte pour -" + key + ": " + value;
        return false;
      }
      out = *v;
      return true;
    };
    auto cue = [&](long long& out) {
      int v = 0;
      if (!whole(v)) return false;
      out = v;
      return true;
    };
    bool ok = true;
    if (key == "infile") o.input = value;
    else if (key == "outfile") o.output = value;
    else if (key == "errorfile") o.errorFile = value;
    else if (key == "infofile") o.infoFile = value;
    else if (key == "convert_to") convertTo = Lower(value);
    else if (key == "s" || key == "freq") ok = whole(o.rate);
    else if (key == "b") {
      bitrate = value;
      ok = whole(o.bitrateKbps);
    } else if (key == "c" || key == "channels") {
      if (Lower(value) == "stereo") o.channels = 2;
      else if (Lower(value) == "mono") o.channels = 1;
      else ok = whole(o.channels);
    } else if (key == "bits") ok = whole(o.bits);
    else if (key == "compression") {
      if (Lower(value) != "pcm") r.error = "Compression non prise en charge: " + value;
      ok = r.error.empty();
    } else if (key == "q") {
      const auto v = Number(value);
      if (!v || *v < -0.1 || *v > 1.0) {
        r.error = "Valeur incorrecte pour -q: " + value;
        ok = false;
      } else {
        o.oggQuality = *v;
      }
    } else if (key == "codec" || key == "settings") {
      // Windows Media settings: this converter writes no Windows Media (refused below).
    } else if (key.rfind("dspeffect", 0) == 0) ok = ParseEffect(value, o, r.error);
    else if (key == "title") o.title = value;
    else if (key == "artist") o.artist = value;
    else if (key == "cue_intro") ok = cue(o.cues.intro);
    else if (key == "cue_startnext") ok = cue(o.cues.startNext);
    else if (key == "cue_fadeout") ok = cue(o.cues.fadeOut);
    else if (key == "cue_hook") ok = cue(o.cues.hook);
    else {
      r.error = "Option inconnue: -" + key;
      ok = false;
    }
    if (!ok) return r;
  }
  if (o.input.empty() || o.output.empty()) {
    r.error = "Il faut -infile= et -outfile=";
    return r;
  }
  if (convertTo.empty()) o.format = FormatFromExtension(o.output);
  else if (convertTo == "mp2") o.format = OutputFormat::House;
  else if (convertTo.rfind("mp3", 0) == 0) o.format = OutputFormat::Mp3;
  else if (convertTo == "wave") o.format = OutputFormat::Wav;
  else if (convertTo == "aiff") o.format = OutputFormat::Aiff;
  else if (convertTo == "ogg vorbis") o.format = OutputFormat::Ogg;
  else if (convertTo.rfind("windows media", 0) == 0) o.format = OutputFormat::Wma;
  if (o.format == OutputFormat::Unknown) {
    r.error = "Format de sortie inconnu: " + (convertTo.empty() ? o.output : convertTo);
    return r;
  }
  if (o.format == OutputFormat::Wma) {
    r.error = "Le format Windows Media n'est pas pris en charge par ce convertisseur";
    return r;
  }
  if (o.channels == 0) o.channels = 2;
  if (o.channels > 2) {
    r.error = "Nombre de canaux non pris en charge: " + std::to_string(o.channels);
    return r;
  }
  // Ogg Vorbis: -q wins; a bit rate alone is an average bit rate; neither
  // is the quality of 192 kbit/s.
  if (o.format == OutputFormat::Ogg && o.oggQuality < -1 && !o.bitrateKbps) o.oggQuality = kOggDefaultQuality;
  r.options = o;
  return r;
}

}  // namespace sono::convert
