#include "editor/envelope.h"

#include <sys/stat.h>

#include "core/config.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "editor/energy_picker.h"
#include "editor/gpx_format.h"
#include "editor/loudness_meter.h"

namespace sono::editor {

namespace {

constexpr const char* kSource = "Lib_Diffuseur:EnergieLit";

bool StartsWith(const std::string& s, const std::string& prefix) {
  return !prefix.empty() && s.compare(0, prefix.size(), prefix) == 0;
}

long long FileSize(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<long long>(st.st_size);
}

}  // namespace

bool EnvelopeSettings::isNetworkPath(const std::string& path) const {
  if (StartsWith(path, "\\\\") || StartsWith(path, "//")) return true;
  for (const auto& root : networkRoots)
    if (StartsWith(path, CheckRep(root))) return true;
  return false;
}

EnvelopeSettings LoadEnvelopeSettings(const SiteConfig& config) {
  EnvelopeSettings s;
  const std::string file = config.settingsFile();
  s.envelopesOff = LectureIni(file, "Comportement", "EnveloppesDesactivees", "0") == "1";
  s.vpnAccess = LectureIni(file, "Comportement", "AccesVPN", "0") == "1";
  const std::string local = LectureIni(file, "Comportement", "DossierSonLocal", "");
  s.localSoundFolder = local.empty() ? config.current().localFolder + "Sons/" : config.folderValue(local);
  // Shares reached by their UNC name, unmapped shares, and sound folders
  // flagged as network folders.
  s.networkRoots.push_back(config.programFolder() + "unc/");
  const IniDocument site = IniDocument::load(config.siteFile());
  for (const auto& key : site.keys("Shares"))
    if (StartsWith(key, "\\\\")) s.networkRoots.push_back(config.folderValue(key));
  for (int b = 0; b < config.baseCount(); ++b)
    for (const auto& station : config.base(b).sounds)
      for (const auto& folder : station)
        if (folder.flag == 1 && !folder.folder.empty()) s.networkRoots.push_back(folder.folder);
  return s;
}

std::string GpxPathFor(const std::string& soundFile) {
  const PathParts p = EclateRepFicExt(soundFile);
  return p.folder + p.name + ".gpx";
}

std::string EnvelopeReader::localCopy(const std::string& soundFile, const std::string& serverGpx,
                                      const std::string& caller) {
  const std::string folder = CheckRep(settings_.localSoundFolder);
  const std::string localGpx = folder + EclateRepFicExt(soundFile).name + ".gpx";
  if (folder.empty() || !Folder_Exist(folder)) {
    // Without the local folder the server's envelope is used as it is.
    log_.TraceLog("Err: Folder not found: " + folder + " |File: " + localGpx);
    return serverGpx;
  }
  if (File_Exist(serverGpx) && !File_Exist(localGpx)) {
    log_.TraceLog("File_Copy: " + serverGpx + " to " + localGpx);
    if (File_Copy(serverGpx, localGpx))
      log_.TraceLog("File_Copy: Ok |Sub: " + caller);
    else
      log_.TraceLog("Err: File_Copy |Sub: " + caller);
  }
  return localGpx;
}

std::string EnvelopeReader::gpxPathFor(const std::string& soundFile, const std::string& caller) {
  const std::string gpx = GpxPathFor(soundFile);
  if (settings_.vpnAccess && settings_.isNetworkPath(soundFile)) return localCopy(soundFile, gpx, caller);
  return gpx;
}

long long EnvelopeReader::expectedValues(const std::string& soundFile, int duration) {
  const long long size = FileSize(soundFile);
  if (size <= 0) return -1;
  if (duration <= 0) {
    if (meter_.LoadSoundFast(soundFile)) duration = meter_.GetSoundDuration();
    meter_.CloseSound();
    if (duration <= 0) return -1;
  }
  return FrameCount(size, ChooseFrameBytes(duration, size));
}

std::string EnvelopeReader::Unfit(const std::string& gpxPath, const std::string& soundFile,
                                  long long expected) {
  const long long size = FileSize(gpxPath);
  // The size first: a file of another size is never read into memory.
  if (expected >= 0 && size != GpxFileBytes(expected))
    return "size " + std::to_string(size) + " bytes for " + std::to_string(expected) + " values";
  if (expected < 0 && size > GpxFileBytes(kGpxMaxValues)) return "size " + std::to_string(size) + " bytes";
  struct stat gpxStat{}, soundStat{};
  if (::stat(gpxPath.c_str(), &gpxStat) == 0 && ::stat(soundFile.c_str(), &soundStat) == 0 &&
      (gpxStat.st_mtim.tv_sec < soundStat.st_mtim.tv_sec ||
       (gpxStat.st_mtim.tv_sec == soundStat.st_mtim.tv_sec && gpxStat.st_mtim.tv_nsec < soundStat.st_mtim.tv_nsec)))
    return "older than the sound";
  const auto bytes = ReadWholeFile(gpxPath);
  if (!bytes) return "unreadable";
  const GpxContent c = ParseGpx(*bytes);
  if (!c.whole) return "damaged records";
  if (expected >= 0 && c.total != expected)
    return std::to_string(c.total) + " values for " + std::to_string(expected) + " frames";
  return {};
}

bool EnvelopeReader::build(int& count, const std::string& soundFile, const std::string& gpx, int duration,
                           std::vector<uint8_t>& values, const std::string& caller) {
  bool written = false;
  const bool built = CreationGpx(soundFile, gpx, duration, count, values, written, caller);
  if (built && written) return readGpx(gpx, count, values);
  // An envelope that could not be cached is used from memory, read back
  // the way the file would have been.
  if (built)
    for (size_t j = 1; j < values.size(); ++j)
      if (values[j] == 0) values[j] = 1;
  return built;
}

void EnvelopeReader::EnergieLit(int& count, const std::string& soundFile, int duration,
                                std::vector<uint8_t>& values, const std::string& caller) {
  report_ = {};
  if (settings_.envelopesOff) {
    count = 0;
    values.assign(1, 0);
    return;
  }
  if (soundFile.empty()) return;
  log_.TraceLog("======================:");
  log_.TraceLog("EnergieLit: Start |Sub: " + caller + " |SoundFile: " + soundFile);
  const std::string gpx = gpxPathFor(soundFile, caller);
  report_.gpxPath = gpx;
  std::string unfit;
  if (File_Exist(gpx)) {
    unfit = Unfit(gpx, soundFile, expectedValues(soundFile, duration));
    if (!unfit.empty()) log_.TraceLog("Err: Gpx rebuilt: " + unfit + " |File: " + gpx);
  }
  if (!File_Exist(gpx) || !unfit.empty()) {
    // A file that does not fit is never shown: without a new one, no envelope.
    if (!build(count, soundFile, gpx, duration, values, caller) && !unfit.empty()) {
      count = 0;
      values.assign(1, 0);
    }
  } else {
    readGpx(gpx, count, values);
  }
  log_.TraceLog("EnergieLit: End |Sub: " + caller);
  log_.TraceLog("====================:");
}

bool EnvelopeReader::Rebuild(int& count, const std::string& soundFile, int duration, std::vector<uint8_t>& values,
                             const std::string& caller) {
  report_ = {};
  if (soundFile.empty()) return false;
  const std::string gpx = gpxPathFor(soundFile, caller);
  log_.TraceLog("Gpx rebuilt on request |File: " + gpx + " |Sub: " + caller);
  if (!build(count, soundFile, gpx, duration, values, caller)) return false;
  // A new or changed sound gets its level measurements with its envelope
  // (import, reconversion, edits, the editor's rebuild). A measurement that
  // fails is logged and leaves no stale file; the envelope stands.
  MeasureAndStoreLevels(soundFile, log_, caller);
  return true;
}

bool EnvelopeReader::CreationGpx(const std::string& soundFile, const std::string& gpxPath, int duration,
                                 int& count, std::vector<uint8_t>& values, bool& written,
                                 const std::string& caller) {
  written = false;
  report_.created = true;
  report_.gpxPath = gpxPath;
  log_.TraceLog("Create Gpx Start: " + gpxPath + " Sub: " + caller);
  log_.TraceLog("EnergieLit: Avant LoadSoundFast: NomFichierSon: " + soundFile);
  const bool loaded = meter_.LoadSoundFast(soundFile);
  log_.TraceLog("EnergieLit: Après LoadSoundFast");
  int measured = 0;
  if (loaded) {
    log_.TraceLog("EnergieLit: Avant GetSoundDuration");
    measured = meter_.GetSoundDuration();
    log_.TraceLog("EnergieLit: Après GetSoundDuration: Duration: " + std::to_string(measured) + " ms");
  } else {
    log_.TraceLog("Err: LoadSoundFast |File: " + soundFile + " |Sub: " + kSource);
  }
  log_.TraceLog("EnergieLit: Avant CloseSound");
  meter_.CloseSound();
  log_.TraceLog("EnergieLit: Après CloseSound");
  if (!loaded) return false;
  report_.measuredMs = measured;

  const long long size = FileSize(soundFile);
  const int frameBytes = ChooseFrameBytes(measured, size);
  const long long n = FrameCount(size, frameBytes);
  report_.frameBytes = frameBytes;
  count = static_cast<int>(n);
  PickResult picked = PickEnergyValues(soundFile, frameBytes, n);
  values.assign(1, 0);
  values.insert(values.end(), picked.values.begin(), picked.values.end());
  if (!picked.ok) {
    log_.TraceLog("Err: " + picked.error + " |File: " + soundFile + " |Sub: " + kSource);
    return false;
  }
  std::string error;
  written = WriteFileAtomic(gpxPath, BuildGpx(duration > 0 ? duration : measured, picked.values), &error);
  report_.cached = written;
  report_.records = GpxRecordCount(n);
  if (!written) log_.TraceLog("Err: Gpx not cached: " + error + " |Sub: " + kSource);
  log_.TraceLog("Create Gpx End");
  return true;
}

bool EnvelopeReader::readGpx(const std::string& gpxPath, int& count, std::vector<uint8_t>& values) {
  const auto bytes = ReadWholeFile(gpxPath);
  if (!bytes) {
    log_.TraceLog("Err: Gpx unreadable |File: " + gpxPath + " |Sub: " + kSource);
    return false;
  }
  GpxContent c = ParseGpx(*bytes);
  report_.records = c.records;
  report_.fileDurationMs = c.durationMs;
  if (c.valuesRead < c.total)
    log_.TraceLog("Err: Gpx short: " + std::to_string(c.valuesRead) + " of " + std::to_string(c.total) +
                  " values |File: " + gpxPath);
  count = static_cast<int>(c.total);
  values = std::move(c.values);
  if (values.empty()) values.assign(1, 0);
  return true;
}

}  // namespace sono::editor
