// The recorder's settings read from any recorder settings file and library
// settings file: every value lies in its range; written back into the same
// files and read again, every number is the one read and nothing draws a
// warning; from that first write on, a write and a read change nothing. (Texts
// may change at the first write: a file whose encoding was guessed from a
// damaged byte is read again as the encoding the write left it in.)
#include <string>

#include "fuzz_target.h"
#include "recorder/recorder_settings.h"

namespace {

using sono::IniDocument;
using sono::recorder::RecorderSettings;
using sono::recorder::RecorderSettingsRead;

const std::string kDefaultFolder = "/srv/Library/Sons/";

// The settings stored into both files, then both files written and read again.
RecorderSettingsRead WrittenAndRead(const RecorderSettings& s, IniDocument& recorderFile, IniDocument& libraryFile) {
  sono::recorder::StoreRecorderSettings(s, recorderFile, libraryFile);
  recorderFile = IniDocument::parse(recorderFile.serialize());
  libraryFile = IniDocument::parse(libraryFile.serialize());
  return sono::recorder::ParseRecorderSettings(recorderFile, libraryFile, kDefaultFolder);
}

bool SameNumbers(const RecorderSettings& a, const RecorderSettings& b) {
  return a.inputDeviceIndex == b.inputDeviceIndex && a.discardSilence == b.discardSilence &&
         a.thresholdDb == b.thresholdDb && a.silenceMinLengthMs == b.silenceMinLengthMs &&
         a.prerollMs == b.prerollMs && a.tailMs == b.tailMs && a.startCondition == b.startCondition &&
         a.startThresholdIndex == b.startThresholdIndex && a.startThresholdDurationMs == b.startThresholdDurationMs &&
         a.stopThresholdDurationMs == b.stopThresholdDurationMs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sono::fuzz::InputCursor input(data, size);
  // The first two bytes give the recorder file's length; the library file follows it.
  const size_t split = static_cast<size_t>(input.byte()) << 8 | input.byte();
  IniDocument recorderFile = IniDocument::parse(input.take(split));
  IniDocument libraryFile = IniDocument::parse(input.rest());

  const RecorderSettingsRead first = sono::recorder::ParseRecorderSettings(recorderFile, libraryFile, kDefaultFolder);
  const RecorderSettings& s = first.settings;
  FUZZ_CHECK(s.inputDeviceIndex >= 0);
  FUZZ_CHECK(s.thresholdDb <= 0 && s.thresholdDb >= -144);
  FUZZ_CHECK(s.silenceMinLengthMs >= 0 && s.prerollMs >= 0 && s.tailMs >= 0);
  FUZZ_CHECK(s.startCondition == 0 || s.startCondition == 1);
  FUZZ_CHECK(s.startThresholdIndex >= 0 &&
             s.startThresholdIndex < static_cast<int>(sono::recorder::kStartThresholdsDb.size()));
  FUZZ_CHECK(s.startThresholdDurationMs >= 0 && s.stopThresholdDurationMs >= 0);
  FUZZ_CHECK(!s.folder.empty() && s.folder.back() == '/');
  // A file of binary junk is not one the program writes into.
  if (recorderFile.holdsBinary() || libraryFile.holdsBinary()) return 0;

  const RecorderSettingsRead once = WrittenAndRead(s, recorderFile, libraryFile);
  FUZZ_CHECK(SameNumbers(once.settings, s));
  FUZZ_CHECK(once.warnings.empty());
  const RecorderSettingsRead twice = WrittenAndRead(once.settings, recorderFile, libraryFile);
  FUZZ_CHECK(twice.settings == once.settings);
  FUZZ_CHECK(twice.warnings.empty());
  return 0;
}
