// The converter's command line, as the library's driver writes it:
//   -infile=SOURCE -outfile=TARGET -errorfile=ERRORS
//   [-dspeffect1="Trim Silence= …"] [-dspeffect2="Volume Normalize= …"]
//   [-convert_to=mp2|"mp3 (Lame)"|wave|Wave|Aiff|"Ogg Vorbis"|…] [codec options] [--managed]
// Codec options: -s= (rate), -b= (kbit/s), -c= (channels), -freq=, -bits=,
// -channels= (a number, "mono" or "stereo"), -compression=PCM, -q= (Ogg
// quality), -codec=, -settings=. Inside an effect, "{qt}" stands for a
// quotation mark. Options of this converter beyond that line: -progress
// (percent lines on standard output), -title=, -artist= and the cue points
// -cue_intro=, -cue_startnext=, -cue_fadeout=, -cue_hook= (ms) written in a
// WAV's "bext" and "cart" chunks, and -infofile= (what the source's tags
// and the trim say, written for the driver after a conversion).
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace sono::convert {

enum class OutputFormat { Unknown, House, Mp3, Wav, Aiff, Ogg, Wma };

struct TrimEffect {
  bool on = false;
  bool cutBegin = true, cutEnd = true;
  bool digitalSilence = false;  // only exact zeros are silence
  double silenceDb = -60.0;     // below this level a sample is silent
  double thresholdMs = 0.0;     // silence kept before and after the sound
};

enum class NormalizeMode { Peak, ReplayGain, Adaptive, Fixed, Loudness };

struct NormalizeEffect {
  bool on = false;
  NormalizeMode mode = NormalizeMode::Peak;
  double maxAmpDb = -0.1;    // the loudest sample after the gain, dBFS
  double desiredDb = 89.0;   // ReplayGain level (89 dB is -18 LUFS)
  double adaptWindowMs = 6000;
  double fixedDb = 0.0;
};

struct CuePoints {
  long long intro = -1, startNext = -1, fadeOut = -1, hook = -1;  // ms, -1 unset
  bool any() const { return intro >= 0 || startNext >= 0 || fadeOut >= 0 || hook >= 0; }
};

struct ConverterOptions {
  std::string input, output, errorFile;
  std::string infoFile;  // empty: none written
  OutputFormat format = OutputFormat::Unknown;  // Unknown: from the output's extension
  int rate = 0;          // 0: the format's default (the source's for WAV/AIFF/Ogg)
  int bitrateKbps = 0;
  int channels = 0;      // 0: two
  int bits = 0;          // WAV/AIFF sample width, 0: 16
  double oggQuality = -2;  // < -1: an average bit rate of bitrateKbps
  TrimEffect trim;
  NormalizeEffect normalize;
  bool progress = false;
  std::string title, artist;
  CuePoints cues;
};

struct ParseResult {
  std::optional<ConverterOptions> options;
  std::string error;  // French, for the error file
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// ".s48", ".mp2", ".mp3", ".wav", ".wave", ".aif", ".aiff", ".ogg", ".wma".
OutputFormat FormatFromExtension(const std::string& path);
const char* FormatName(OutputFormat format);

}  // namespace sono::convert
