#include "convert/convert_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "core/files.h"
#include "core/sync_folder.h"
#include "core/ini.h"
#include "convert/sound_append.h"
#include "core/text.h"

namespace sono::convert {

namespace {

constexpr const char* kNotInstalled = "dBPowerAmp n'est pas installé sur ce poste";

// The shell's failure texts, by the errno of the start.
std::string StartFailureText(int error) {
  switch (error) {
    case ENOMEM: return "Dépassement de mémoire";
    case ENOTDIR: return "Chemin d'accès non trouvé";
    case ENOEXEC: return "Cet exécutable est invalide ou corrompu";
    case EACCES:
    case EPERM: return "Violation de partage: Erreur d'accès au Dossier/Fichier";
    case ENOENT: return "Fichier non trouvé";
    default: return "Erreur à l'ouverture ou l'impression du fichier sélectionné";
  }
}

bool HasExtension(const std::string& file, std::initializer_list<const char*> extensions) {
  const std::string ext = EclateRepFicExt(file).extension;
  for (const char* e : extensions)
    if (EqualsNoCase(ext, e)) return true;
  return false;
}

// The first line of the converter's error text, for the user.
std::string FirstLine(const std::string& text) {
  const std::string t = Trim(text);
  return t.substr(0, t.find_first_of("\r\n"));
}

bool FlushFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

ConverterInfo ParseConverterInfo(const std::string& text) {
  ConverterInfo info;
  info.read = true;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "title") info.title = Trim(value);
    else if (key == "artist") info.artist = Trim(value);
    else if (key == "trimmed_start_ms") info.trimmedStartMs = std::max(0LL, std::atoll(value.c_str()));
  }
  return info;
}

std::string FindConverterPath(const Registry& registry, const std::string& exePath) {
  std::string folder;
  registry.Reg_GetValue(kConverterRegistryRoot, kConverterRegistryKey, "Path", folder);
  folder = Trim(folder);
  if (!folder.empty()) {
    if (folder.back() != '/') folder += '/';
    return folder + kConverterProgram;
  }
  const std::string beside = ParentFolder(exePath) + kConverterProgram;
  if (File_Exist(beside)) return beside;
  // In the build tree: apps/sonoteka-convert/ beside the program's folder.
  const std::string programFolder = ParentFolder(exePath);
  if (programFolder.size() < 2) return beside;
  const std::string built = ParentFolder(programFolder.substr(0, programFolder.size() - 1)) + kConverterProgram +
                            "/" + kConverterProgram;
  return File_Exist(built) ? built : beside;
}

bool ConverterDriver::ConvertSonDetermineVersion(bool& commandLine, std::string& converterPath,
                                                 bool showMessage) {
  commandLine = false;
  converterPath = converterPath_;
  if (!converterPath_.empty() && File_Exist(converterPath_) && ::access(converterPath_.c_str(), X_OK) == 0) {
    commandLine = true;
    p_.log.TraceLog("ConvertSonDetermineVersion: Command line converter: " + converterPath_);
    return true;
  }
  p_.log.TraceLog("Err: ConvertSonDetermineVersion: Converter not found: " + converterPath_);
  if (showMessage)
    p_.prompt.message(std::string(kNotInstalled) + ". Le Converter ne peut fonctionner.", Icon::Critical,
                      Buttons::Ok);
  return false;
}

bool ConverterDriver::FautIlConvertirLeSon(const std::string& file, int& durationMs) {
  durationMs = 0;
  if (!HasExtension(file, {".mp2", ".s48", ".aud"})) return true;
  long long ms = 0;
  const bool house = WholeHouseSound(file, ms);
  durationMs = static_cast<int>(ms);
  return !house;
}

bool ConverterDriver::ConvertSonV13V14(const std::string& converter, ConversionRequest& r) {
  p_.log.TraceLog("///////////////");
  p_.log.TraceLog("Convert: Start: " + r.source + " to " + r.target);
  ConversionRequest run = r;
  // The converter knows house-format sounds by the ".mp2" extension: they go
  // through a copy under that name, in the temporary folder (never beside a
  // sound), removed at the end.
  std::string mp2Copy;
  if (HasExtension(r.source, {".s48", ".aud"})) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    mp2Copy = folder + "sonoteka-" + std::to_string(::getpid()) + "-" + EclateRepFicExt(r.source).name + ".mp2";
    File_Delete(mp2Copy);
    if (!File_Copy(r.source, mp2Copy)) {
      p_.log.TraceLog("Err: Convert: Impossible de copier le fichier: " + r.source + " vers " + mp2Copy);
      lastError_ = "Impossible de copier le fichier: " + r.source + " vers " + mp2Copy;
      return false;
    }
    run.source = mp2Copy;
  }
  const std::string errorFile = ErrorFileFor(r.target);
  File_Delete(errorFile);
  auto argv = ConverterArguments(converter, run, errorFile, effects_);
  const std::string infoFile = r.wantInfo ? InfoFileFor(r.target) : std::string();
  if (!infoFile.empty()) {
    File_Delete(infoFile);
    argv.push_back("-infofile=" + infoFile);
  }
  const auto effects = EffectArguments(effects_);
  const auto codec = CodecArguments(run);
  if (!effects.empty()) p_.log.TraceLogEncadre(-1, -1, -1, "Convert: " + JoinForLog(effects), '=');
  if (!codec.empty()) p_.log.TraceLogEncadre(-1, -1, -1, "Convert: " + JoinForLog(codec), '=');

  bool ok = false;
  int startError = 0;
  const pid_t pid = ExecuterProgrammeExterne(argv, &startError);
  if (pid < 0) {
    const std::string text = StartFailureText(startError);
    p_.log.TraceLog("Err: " + text + " |File: " + converter);
    lastError_ = text + ": " + converter;
  } else {
    int64_t limit = waitLimitMs;
    const int code = AttenteFinProcessusExterne(pid, limit, p_.clock, p_.events, p_.log);
    int readError = 0;
    const auto errors = ReadWholeFile(errorFile, &readError);
    if (errors && !Trim(*errors).empty()) {
      std::string oneLine = Trim(*errors);
      for (char& c : oneLine)
        if (c == '\r' || c == '\n') c = ' ';
      p_.log.TraceLog("Err: Convert (V13/V14): " + oneLine);
      lastError_ = "Erreur de conversion: " + FirstLine(*errors);
    } else if (code == kStillActive) {
      lastError_ = "Conversion abandonnée: le convertisseur n'a pas fini après " + std::to_string(limit / 1000) +
                   " s";
    } else if (code != 0) {
      p_.log.TraceLog("Err: Convert (V13/V14): Exit code: " + std::to_string(code));
      lastError_ = code > kSignalExitBase
                       ? "Le convertisseur a été arrêté avant la fin (signal " +
                             std::to_string(code - kSignalExitBase) + ")"
                       : "Le convertisseur a échoué (code " + std::to_string(code) + ")";
    } else {
      ok = true;
    }
    if (ok && !infoFile.empty()) {
      // A converter that does not know the option writes none: then
      // nothing is known of the tags or of a trim (markers stay as given).
      if (const auto info = ReadWholeFile(infoFile, &readError)) {
        lastInfo_ = ParseConverterInfo(*info);
        p_.log.TraceLog("Convert: Info: Title: " + lastInfo_.title + " |Artist: " + lastInfo_.artist +
                        " |Trimmed start: " + std::to_string(lastInfo_.trimmedStartMs) + " ms");
      } else {
        p_.log.TraceLog("Convert: Info: no info file: " + infoFile);
      }
    }
  }
  // The error file's text is in the log: it is not left in the sound folder.
  File_Delete(errorFile);
  if (!infoFile.empty()) File_Delete(infoFile);
  if (!mp2Copy.empty()) File_Delete(mp2Copy);
  p_.log.TraceLog("Convert: End:");
  p_.log.TraceLog("/////////////");
  return ok;
}

bool ConverterDriver::fail(const std::string& text, const ConversionRequest& r, bool show) {
  p_.log.TraceLog("Err: Convert: " + text);
  p_.log.TraceLog("Err: Convert: " + r.source + " to " + r.target);
  lastError_ = text;
  if (show) p_.prompt.message(text, Icon::Critical, Buttons::Ok);
  p_.log.TraceLog("Convert: " + r.source + " to " + r.target + " |End");
  return false;
}

bool ConverterDriver::checkOutput(const std::string& temp, const ConversionRequest& r, std::string& why) {
  struct stat st{};
  if (::stat(temp.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "Impossible de trouver le fichier temporaire: " + temp + " |Fichier Cible: " + r.target;
    return false;
  }
  if (st.st_size == 0) {
    why = "Fichier converti vide: " + temp;
    return false;
  }
  if (r.formatCode != static_cast<int>(FormatCode::Mp2)) return true;
  // An MPEG Layer 2 output must be a whole stream: a converter that stopped
  // halfway without saying so leaves a cut frame.
  const audio::FrameScan scan = audio::ScanMpegFile(temp);
  if (scan.status != audio::ScanStatus::Ok || scan.first.layer != 2 || scan.truncated ||
      scan.damagedFrames > 0 || scan.durationMs < 1) {
    why = "Fichier converti non valide: " + temp;
    return false;
  }
  return true;
}

bool ConverterDriver::ConvertSon(ConversionRequest& r, bool show) {
  lastError_.clear();
  lastInfo_ = {};
  p_.log.TraceLog("Convert: " + r.source + " to " + r.target + " |Start");
  if (Trim(r.target).empty()) return fail("Pas de nom de fichier cible", r, show);
  if (!File_Exist(r.source)) return fail("Impossible de trouver le fichier: " + r.source, r, show);
  bool commandLine = false;
  std::string converter;
  if (!ConvertSonDetermineVersion(commandLine, converter, false)) return fail(kNotInstalled, r, show);
  const std::string folder = ParentFolder(r.target);
  if (!Folder_Exist(folder.empty() ? "." : folder))
    return fail("Erreur de chemin d'accès: " + folder, r, show);

  ConversionRequest run = r;
  run.target = r.target + ".part" + std::to_string(::getpid());
  File_Delete(run.target);
  p_.log.TraceLog("Convert: Created Temp File: " + run.target);
  const bool converted = ConvertSonV13V14(converter, run);
  std::string why;
  if (!converted || !checkOutput(run.target, r, why)) {
    File_Delete(run.target);
    const std::string text = converted ? why : lastError_;
    return fail(text.empty() ? "Problème lors de la conversion du son." : text, r, show);
  }
  if (!FlushFile(run.target)) {
    File_Delete(run.target);
    return fail("Impossible de copier le fichier: " + run.target + " vers " + r.target, r, show);
  }
  if (File_Exist(r.target)) {
    p_.log.TraceLog("Convert: Target file found: " + r.target);
    if (onTargetInUse) {
      p_.log.TraceLog("Convert: Stop and close sound");
      onTargetInUse(r.target);
    }
  }
  if (beforeReplace) {
    if (const std::string refusal = beforeReplace(run.target); !refusal.empty()) {
      File_Delete(run.target);
      return fail(refusal, r, show);
    }
  }
  // One rename: the target is the old sound or the new one, never a mix.
  if (::rename(run.target.c_str(), r.target.c_str()) != 0) {
    File_Delete(run.target);
    return fail("Impossible de copier le fichier: " + run.target + " vers " + r.target, r, show);
  }
  SyncFolder(folder);  // the rename lasts once the folder is on disk
  p_.log.TraceLog("Convert: " + r.source + " to " + r.target + " |End");
  return true;
}

}  // namespace sono::convert
