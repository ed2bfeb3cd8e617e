// What passes to the external converter: the conversion request, the trim and
// normalisation effects of the audio set-up, and the argument vector built
// from them (ConvertSonV13V14's command line, one argument per element: the
// converter is started without a shell, so no quoting is needed).
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace sono::convert {

// Format codes of a conversion request.
enum class FormatCode { None = 0, Mp2 = 1, Mp3 = 2, Wave = 3, Aiff = 4, OggVorbis = 5 };
inline constexpr int kFirstFormatCode = 1, kLastFormatCode = 5;

// What an exported WAV carries in its "bext" and "cart" chunks: the song's
// title and artist (UTF-8) and its cue points in ms (-1: none).
struct BroadcastTags {
  std::string title, artist;
  long long intro = -1, startNext = -1, fadeOut = -1, hook = -1;
  bool any() const { return !title.empty() || !artist.empty() || intro >= 0 || startNext >= 0 || fadeOut >= 0 || hook >= 0; }
};

struct ConversionRequest {
  std::string source;
  std::string target;
  int formatCode = static_cast<int>(FormatCode::Mp2);  // outside 1..5: no codec arguments
  std::string frequency = "48000";
  std::string bitRate = "256";
  std::string channels = "2";  // "0" means 2
  std::string bits = "16";
  BroadcastTags tags;  // passed for a WAV output only
  // An import asks the converter what the file's tags and the trim said
  // ("-infofile=", read back into ConverterDriver::lastInfo()).
  bool wantInfo = false;
};

// The house format's request: MPEG Layer 2, 48000 Hz, 256 kbit/s, stereo.
ConversionRequest HouseFormatRequest(const std::string& source, const std::string& target);

// Loudness (4): EBU R 128 integrated loudness to the station's target with
// the true peak held under its ceiling (the "Normalisation" section).
enum class NormaliseMode { Peak = 0, ReplayGain = 1, Adapt = 2, Fixed = 3, Loudness = 4 };

// The effect settings of the audio set-up (FrmSetup), read at each conversion.
// The initial values are those of an empty settings file (the set-up model's
// defaults, `AudioSetupKeys`).
struct EffectSettings {
  bool trimOn = false;            // CheckEffectActif(0)
  bool cutStart = true;           // CheckEffetCutDebut
  bool cutEnd = true;             // CheckEffetCutFin
  bool digitalSilence = false;    // OptionEffetTrim(0)
  std::string silenceLevel = "-90", threshold = "100";  // TexteEffetCutSeuil(0), (1)
  bool normaliseOn = false;       // CheckEffectActif(1)
  NormaliseMode mode = NormaliseMode::Peak;  // OptionEffetNormalise
  std::string maxAmp = "98";      // TexteEffetNormalisationMax
  std::string desiredDb = "-16", fixedGain = "0";  // SliderEffetNormalisation(0), (1)
  bool showProgress = false;      // CheckConvertAfficherProgression
};

// Reads them from the program's settings file, section "Convert" (keys named
// after the set-up window's controls), through the audio set-up model: a
// missing key, or one the window would refuse, reads as the model's default.
// In loudness mode the desired level and the maximum are the station's
// loudness target and its true-peak ceiling less kEncodingHeadroomDb.
EffectSettings LoadEffectSettings(const std::string& settingsFile);
// The same with the volume normalisation on in `forced` mode for one run (a
// command's --lufs or --peak), the settings file left as it is.
EffectSettings LoadEffectSettings(const std::string& settingsFile, std::optional<NormaliseMode> forced);
// Room left under the true-peak ceiling for the house format's encoding,
// which moves peaks by a few hundredths of a dB.
inline constexpr double kEncodingHeadroomDb = 0.3;

// The error file of a conversion into `target`: its path without extension +
// "_Err_Convert" + ".Log".
std::string ErrorFileFor(const std::string& target);

// The info file of a conversion into `target`: its path without extension +
// "_Info_Convert" + ".txt" (read back and deleted like the error file).
std::string InfoFileFor(const std::string& target);

// The Ogg Vorbis quality for a bit rate ("" when the table has none).
std::string OggQualityFor(const std::string& bitRate);

// The effects, each one argument ("-dspeffect1=Trim Silence= ..."), numbered from 1.
std::vector<std::string> EffectArguments(const EffectSettings& effects);
// The codec part; empty for a format code outside 1..5 (no " --managed" then).
std::vector<std::string> CodecArguments(const ConversionRequest& request);
// The tags of a WAV output ("-title=", "-artist=", "-cue_intro=" …); none
// for other formats or when there is nothing to carry.
std::vector<std::string> TagArguments(const ConversionRequest& request);
// converter, files, effects, codec, tags.
std::vector<std::string> ConverterArguments(const std::string& converter, const ConversionRequest& request,
                                            const std::string& errorFile, const EffectSettings& effects);

// One argument list as a log line: the arguments separated by blanks, those
// holding a blank or a quotation mark between quotation marks.
std::string JoinForLog(const std::vector<std::string>& arguments);

}  // namespace sono::convert
