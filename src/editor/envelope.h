// EnergieLit: the level envelope of a sound, read from its ".gpx" file beside
// it, which is created first when missing. Every step is logged, as the suite's
// support staff read these lines when a waveform looks wrong.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/tracelog.h"
#include "editor/duration_meter.h"

namespace sono {
class SiteConfig;
}

namespace sono::editor {

struct EnvelopeSettings {
  bool envelopesOff = false;      // [Comportement] "EnveloppesDesactivees"
  bool vpnAccess = false;         // [Comportement] "AccesVPN"
  std::string localSoundFolder;   // [Comportement] "DossierSonLocal"
  // Local folders that stand for network shares (the [Shares] targets): a
  // sound under one of them is "on the server" like a "\\server\share" path.
  std::vector<std::string> networkRoots;

  bool isNetworkPath(const std::string& path) const;
};

// The settings from the program's settings file and the site's share table.
EnvelopeSettings LoadEnvelopeSettings(const SiteConfig& config);

// The ".gpx" path beside a sound: its folder and base name + ".gpx".
std::string GpxPathFor(const std::string& soundFile);

// What the last EnergieLit or CreationGpx did, for the command line and tests.
struct EnvelopeReport {
  std::string gpxPath;        // the file read or written ("" when none)
  bool created = false;       // creation ran
  bool cached = false;        // the created envelope was written to disk
  int measuredMs = 0;         // duration measured at creation
  int frameBytes = 0;         // frame length chosen at creation
  long long records = 0;      // records of the file read or written
  long long fileDurationMs = 0;  // duration held by the file read
};

class EnvelopeReader {
 public:
  EnvelopeReader(TraceLogger& log, SoundDurationMeter& meter, EnvelopeSettings settings = {})
      : log_(log), meter_(meter), settings_(std::move(settings)) {}

  // Fills `values` (index 0 unused, 1..count) and `count` for `soundFile`.
  // `duration` (ms) is the sound's measured length when the caller knows it
  // (0: measured here); it is written into a new file. `caller` names the
  // calling procedure in the log. On any failure count stays as set so far.
  // An existing .gpx that does not fit the sound is rebuilt (see below).
  void EnergieLit(int& count, const std::string& soundFile, int duration,
                  std::vector<uint8_t>& values, const std::string& caller);
  // Builds the envelope again whatever the file holds, and reads it (the
  // desktop's "Reconstruire l'enveloppe", done even with envelopes turned
  // off). False when the sound could not be read.
  bool Rebuild(int& count, const std::string& soundFile, int duration, std::vector<uint8_t>& values,
               const std::string& caller);
  // Why the .gpx beside a sound cannot be used as it is ("" when it can):
  // its size is not that of the sound's frame count, it is older than the
  // sound, its records are not whole, or it holds another number of values.
  // `expectedValues` is the sound's frame count, -1 when unknown (then only
  // the file's own consistency and the size limit are checked).
  std::string Unfit(const std::string& gpxPath, const std::string& soundFile, long long expectedValues);

  // Builds the envelope of `soundFile` and writes it to `gpxPath` (replacing
  // any file there). Returns false when the sound could not be measured or
  // read; `values` then holds what was built. `written` tells whether the file
  // was written (a read-only folder keeps the envelope in memory only).
  bool CreationGpx(const std::string& soundFile, const std::string& gpxPath, int duration,
                   int& count, std::vector<uint8_t>& values, bool& written, const std::string& caller);

  const EnvelopeReport& report() const { return report_; }
  EnvelopeSettings& settings() { return settings_; }

 private:
  std::string localCopy(const std::string& soundFile, const std::string& serverGpx,
                        const std::string& caller);
  std::string gpxPathFor(const std::string& soundFile, const std::string& caller);
  // The number of values the sound's envelope has, -1 when the sound cannot be measured.
  long long expectedValues(const std::string& soundFile, int duration);
  bool build(int& count, const std::string& soundFile, const std::string& gpx, int duration,
             std::vector<uint8_t>& values, const std::string& caller);
  bool readGpx(const std::string& gpxPath, int& count, std::vector<uint8_t>& values);

  TraceLogger& log_;
  SoundDurationMeter& meter_;
  EnvelopeSettings settings_;
  EnvelopeReport report_;
};

}  // namespace sono::editor
