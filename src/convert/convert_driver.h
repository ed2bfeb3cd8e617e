// Lib_Convert: whether a sound must be converted, where the converter is,
// and a conversion from start to end: the converter started with an argument
// vector, waited for (15 minutes at most), its error file read and logged,
// its output checked and moved into place.
//
// The target is never touched until a checked output is ready: the converter
// writes "<target>.part<pid>" beside it, which is flushed and renamed over
// the target in one step, and removed on any failure. So a failed, killed or
// abandoned conversion leaves the previous sound whole and nothing
// half-written in the sound folder (a crash of this program leaves a
// ".part<pid>" file that RemoveStaleTempFiles recognises).
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "convert/converter_command.h"
#include "convert/external_process.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono {
class Registry;
}

namespace sono::convert {

inline constexpr const char* kConverterProgram = "sonoteka-convert";
// Where the installation names its converter's folder (value "Path").
inline constexpr const char* kConverterRegistryRoot = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kConverterRegistryKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\sonoteka-convert";

// The converter's full path: the registry's "Path" folder, else the folder of
// the running program (`exePath`), + "sonoteka-convert"; in the build tree,
// apps/sonoteka-convert/ beside the program's folder.
std::string FindConverterPath(const Registry& registry, const std::string& exePath);

// What the converter said of the source after an import's conversion: its
// title and artist tags (UTF-8, as the file holds them) and the
// milliseconds the trim effect removed before the sound.
struct ConverterInfo {
  bool read = false;  // the converter wrote its info file
  std::string title, artist;
  long long trimmedStartMs = 0;
};

// The info file's "key=value" lines; unknown keys are ignored.
ConverterInfo ParseConverterInfo(const std::string& text);

struct ConverterPorts {
  TraceLogger& log;
  Clock& clock;
  EventLoop& events;
  Prompt& prompt;
};

class ConverterDriver {
 public:
  ConverterDriver(ConverterPorts ports, std::string converterPath, EffectSettings effects = {})
      : p_(ports), converterPath_(std::move(converterPath)), effects_(std::move(effects)) {}

  // There is one converter, driven by its command line: true with its path
  // when the program is there (the decision is logged); without it, and when
  // asked, the critical box "dBPowerAmp n'est pas installé sur ce poste. Le
  // Converter ne peut fonctionner.".
  bool ConvertSonDetermineVersion(bool& commandLine, std::string& converterPath, bool showMessage);

  // True when `file` must be converted before the library can use it: unless
  // it has the extension ".mp2", ".s48" or ".aud" and is a whole MPEG-1
  // Layer II stream at 48000 Hz, 256 kbit/s, stereo, of at least 1 ms.
  // `durationMs` gets the measured duration (0 when none).
  bool FautIlConvertirLeSon(const std::string& file, int& durationMs);

  // One run of the converter into request.target (the caller's temporary
  // file). True when it ended with code 0 and an empty or absent error file.
  bool ConvertSonV13V14(const std::string& converter, ConversionRequest& request);

  // The checked conversion of request.source into request.target (see the
  // header comment). False with `lastError` (French) when anything failed;
  // shown as a critical box when `showMessages`.
  bool ConvertSon(ConversionRequest& request, bool showMessages);

  // Told before the target is replaced when it may be the sound loaded in
  // the player, so the player lets go of it ("Convert: Stop and close sound").
  std::function<void(const std::string& target)> onTargetInUse;
  // Told with the checked, flushed converted file just before it is renamed
  // over the target; a non-empty answer (French) refuses the rename and the
  // target stays as it was.
  std::function<std::string(const std::string& checkedFile)> beforeReplace;
  int64_t waitLimitMs = kConverterWaitMs;
  // The converter and the effects as the settings say now (read again before a conversion).
  void reconfigure(std::string converterPath, EffectSettings effects) {
    converterPath_ = std::move(converterPath);
    effects_ = std::move(effects);
  }
  const std::string& lastError() const { return lastError_; }
  // The last ConvertSon's info (read only when its request wanted it).
  const ConverterInfo& lastInfo() const { return lastInfo_; }
  const EffectSettings& effects() const { return effects_; }

 private:
  bool fail(const std::string& text, const ConversionRequest& request, bool show);
  bool checkOutput(const std::string& temp, const ConversionRequest& request, std::string& why);

  ConverterPorts p_;
  std::string converterPath_;
  EffectSettings effects_;
  std::string lastError_;
  ConverterInfo lastInfo_;
};

}  // namespace sono::convert
