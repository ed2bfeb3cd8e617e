#include "convert/import_export.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cstdlib>

#include "convert/sound_append.h"
#include "core/files.h"
#include "core/text.h"

namespace sono::convert {

namespace {

// The families of the import dialog, in its order (without the first and last entries).
const std::vector<FilterEntry>& Families() {
  static const std::vector<FilterEntry> families = {
      {"MP3 and MP2 (*.mp3;*.mp2;*.s48;*.aud;*.son)", "*.mp3;*.mp2;*.s48;*.aud;*.son"},
      {"AAC and MP4 (*.aac;*.mp4)", "*.aac;*.mp4"},
      {"WAV (*.wav)", "*.wav;*.wave"},
      {"OGG Vorbis (*.ogg)", "*.ogg"},
      {"AIFF (*.aiff)", "*.aiff"},
      {"Windows Media (*.wma;*.wmv;*.asx;*.asf)", "*.wma;*.wmv;*.asx;*.asf"},
      {"AC3 (*.ac3)", "*.ac3"},
      {"ALAC (*.m4a)", "*.m4a"},
      {"FLAC (*.flac)", "*.flac"},
      {"WavPack (*.wv)", "*.wv"},
      {"MOD (*.it;*.xm;*.s3m;*.mod;*.mtm;*.mo3)", "*.it;*.xm;*.s3m;*.mod;*.mtm;*.mo3"},
      {"CD Audio (*.cda)", "*.cda"},
  };
  return families;
}
// What the "Formats autorisés" entry covers beyond the families.
constexpr const char* kOtherAllowed = "*.au;*.aif;*.w64;*.voc;*.sf;*.paf;*.pvf;*.caf;*.svx";

std::string AllAllowedPatterns() {
  std::string all;
  for (const auto& f : Families()) all += (all.empty() ? "" : ";") + f.patterns;
  return all + ";" + kOtherAllowed;
}

bool SameFileOnDisk(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

constexpr const char* kCrLf = "\r\n";

}  // namespace

std::vector<FilterEntry> FormatsSonsAutorises() {
  const std::string all = AllAllowedPatterns();
  std::vector<FilterEntry> out = {{"Formats autorisés (" + all + ")", all}};
  out.insert(out.end(), Families().begin(), Families().end());
  out.push_back({"Tous les fichiers (*.*)", "*.*"});
  return out;
}

std::string FormatsSonsAutorisesFilter() {
  std::string out;
  for (const auto& e : FormatsSonsAutorises()) out += (out.empty() ? "" : "|") + e.description + "|" + e.patterns;
  return out;
}

bool FormatAutorise(const std::string& file) {
  const std::string ext = EclateRepFicExt(file).extension;
  if (ext.empty()) return false;
  const std::string all = AllAllowedPatterns() + ";";
  size_t from = 0;
  for (size_t semi; (semi = all.find(';', from)) != std::string::npos; from = semi + 1)
    if (EqualsNoCase(all.substr(from + 1, semi - from - 1), ext)) return true;  // "*" skipped
  return false;
}

ImportResult SoundImport::ImporterUnSon(const std::string& file, const std::string& code,
                                        const std::string& target, HouseFileChoice choice,
                                        ExistingSoundChoice existing) {
  ImportResult result;
  const std::string song = Trim(code);
  p_.log.TraceLog("Import: Start: " + file + " |SongId: " + song + " |Target: " + target);
  const auto failed = [&](const std::string& message) {
    p_.log.TraceLog("Err: Import: " + message + " |SongId: " + song);
    result.message = message;
    return result;
  };
  if (!File_Exist(file)) return failed("Impossible de trouver le fichier: " + file);
  if (Trim(target).empty()) return failed("Pas de nom de fichier cible");
  if (SameFileOnDisk(file, target)) return failed("Le fichier à importer est déjà le son du morceau: " + file);

  if (existing == ExistingSoundChoice::Ask) {
    const Answer a = p_.prompt.message(
        "Que voulez-vous faire ?\n\nUn son existe déjà dans l'éditeur des Pointeurs.\n\nOui: Remplacer le son "
        "existant\nNon: Ajouter le fichier à la fin du son existant",
        Icon::Question, Buttons::YesNoCancel);
    if (a == Answer::Cancel) {
      p_.log.TraceLog("Question: Que voulez-vous faire ? |Reponse: Annuler");
      result.cancelled = true;
      return result;
    }
    existing = a == Answer::Yes ? ExistingSoundChoice::Replace : ExistingSoundChoice::Append;
  }
  if (existing == ExistingSoundChoice::Append) {
    p_.log.TraceLog("Question: Que voulez-vous faire ? |Reponse: Ajouter à la fin du son existant");
    return append(file, code, target);
  }
  p_.log.TraceLog("Question: Que voulez-vous faire ? |Reponse: Remplacer le son existant");

  int durationMs = 0;
  bool convert = driver_.FautIlConvertirLeSon(file, durationMs);
  if (!convert && choice == HouseFileChoice::Ask) {
    const Answer a = p_.prompt.message(
        "Que voulez-vous faire ?\n\nLe son a les caractéristiques des sons Ondavia: mp2, 48000 Hz, 256 KBits/s, "
        "Stéréo\n\nOui: Convertir le son\nNon: Importer le son tel quel",
        Icon::Question, Buttons::YesNoCancel);
    if (a == Answer::Cancel) {
      p_.log.TraceLog("Question: Que voulez-vous faire ? |Reponse: Annuler");
      result.cancelled = true;
      return result;
    }
    choice = a == Answer::Yes ? HouseFileChoice::Convert : HouseFileChoice::AsIs;
    p_.log.TraceLog(std::string("Question: Que voulez-vous faire ? |Reponse: ") +
                    (a == Answer::Yes ? "Convertir le son" : "Importer le son tel quel"));
  }
  if (!convert && choice == HouseFileChoice::Convert) convert = true;

  if (convert && enqueue) {
    enqueue(code, file, target);
    p_.log.TraceLog("Import: Queued |SongId: " + song);
    result.ok = result.queued = result.converted = true;
    return result;
  }
  if (convert) {
    ConversionRequest request = HouseFormatRequest(file, target);
    request.wantInfo = true;
    if (!driver_.ConvertSon(request, false)) return failed(driver_.lastError());
    result.converted = true;
  } else {
    if (!File_Copy(file, target))
      return failed(std::string("Impossible de copier le fichier:") + kCrLf + file + kCrLf + "vers" + kCrLf + target);
    // The copy shows at once on a local disk; a network share may take a moment.
    for (int waited = 0; !File_Exist(target) && waited < kCopyWaitMs; waited += kCopyCheckMs) {
      p_.events.processEvents();
      p_.clock.sleepMs(kCopyCheckMs);
    }
    if (!File_Exist(target)) p_.log.TraceLog("File copied not found: " + target + " /A");
  }
  p_.log.TraceLog(std::string("Import: End: ") + (result.converted ? "Converted" : "Copied") + " |SongId: " + song);
  result.ok = true;
  // The old sound's steps point into music that is gone (an append keeps them).
  result.stepsKept = deleteSteps && !deleteSteps(code);
  if (onSoundPlaced) onSoundPlaced(code, target);
  return result;
}

std::string AppendConversionFile(const std::string& code) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder + "sonoteka-append-" + std::to_string(::getpid()) + "-" + Trim(code) + ".s48";
}

ImportResult SoundImport::append(const std::string& file, const std::string& code, const std::string& target) {
  ImportResult result;
  const std::string song = Trim(code);
  const auto failed = [&](const std::string& message) {
    p_.log.TraceLog("Err: Import: " + message + " |SongId: " + song);
    result.message = message;
    return result;
  };
  // Refused before any conversion: there must be a whole sound to add to.
  long long existingMs = 0;
  if (!File_Exist(target)) return failed("Le morceau n'a pas de son auquel ajouter le fichier: " + target);
  if (!WholeHouseSound(target, existingMs))
    return failed("Le son existant n'est pas un son entier au format maison: " + target);
  if (enqueueAppend) {
    enqueueAppend(code, file, target);
    p_.log.TraceLog("Import: Queued (append) |SongId: " + song);
    result.ok = result.queued = result.converted = result.appended = true;
    return result;
  }
  const std::string converted = AppendConversionFile(code);
  ConversionRequest request = HouseFormatRequest(file, converted);
  if (!driver_.ConvertSon(request, false)) {
    File_Delete(converted);
    return failed(driver_.lastError());
  }
  const std::string error = AppendHouseSound(target, converted);
  File_Delete(converted);
  if (!error.empty()) return failed(error);
  p_.log.TraceLog("Import: End: Appended |SongId: " + song + " |Target: " + target);
  result.ok = result.converted = result.appended = true;
  if (onSoundPlaced) onSoundPlaced(code, target);
  return result;
}

std::string NettoieNomDeFichier(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) continue;
    out += c;
  }
  return Trim(out);
}

std::string ExportFileName(ExportNamePattern pattern, ExportFormat format, const std::string& artist,
                           const std::string& title) {
  const std::string a = NettoieNomDeFichier(artist), t = NettoieNomDeFichier(title);
  std::string name;
  switch (pattern) {
    case ExportNamePattern::ArtistTitle: name = a + " - " + t; break;
    case ExportNamePattern::TitleArtist: name = t + " - " + a; break;
    case ExportNamePattern::Title: name = t; break;
  }
  return name + kExportExtensions[static_cast<size_t>(format)];
}

ConversionRequest ExportRequest(ExportFormat format, const std::string& sound, const std::string& target,
                                const BroadcastTags& tags) {
  ConversionRequest r = HouseFormatRequest(sound, target);
  r.tags = tags;
  switch (format) {
    case ExportFormat::Mp3At256:
    case ExportFormat::Mp3At128:
      r.formatCode = static_cast<int>(FormatCode::Mp3);
      r.frequency = "44100";
      r.bitRate = format == ExportFormat::Mp3At256 ? "256" : "128";
      break;
    case ExportFormat::Wave:
      r.formatCode = static_cast<int>(FormatCode::Wave);
      r.bits = "16";
      break;
    case ExportFormat::Mp2:
      break;
  }
  return r;
}

ExportResult ExporterUnSon(ConverterPorts ports, ConverterDriver& driver, const std::string& soundFile,
                           const std::string& folder, ExportNamePattern pattern, ExportFormat format,
                           const std::string& artist, const std::string& title, const BroadcastTags& cuePoints) {
  ExportResult result;
  BroadcastTags tags = cuePoints;
  tags.title = title;
  tags.artist = artist;
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string name = ExportFileName(pattern, format, artist, title);
  result.file = dir + name;
  ports.log.TraceLog("Export: Start: " + soundFile + " to " + result.file + " |Format: " +
                     kExportFormatLabels[static_cast<size_t>(format)]);
  if (EclateRepFicExt(name).name.empty() || EclateRepFicExt(name).name == " - ") {
    result.message = "Impossible de créer le fichier:" + std::string(kCrLf) + result.file;
  } else if (!File_Exist(soundFile)) {
    result.message = "Fichier son non trouvé: " + soundFile;
  } else if (format == ExportFormat::Mp2) {
    result.ok = File_Copy(soundFile, result.file);
    result.message = std::string(result.ok ? "Fichier son exporté:" : "Impossible de créer le fichier:") + kCrLf +
                     result.file;
  } else {
    ConversionRequest request = ExportRequest(format, soundFile, result.file, tags);
    result.ok = driver.ConvertSon(request, false);
    result.message = result.ok ? "Fichier son exporté:" + std::string(kCrLf) + result.file
                               : "Problème lors de la conversion du son. " + driver.lastError();
  }
  if (!result.ok) ports.log.TraceLog("Err: Export: " + result.message);
  ports.log.TraceLog(std::string("Export: End: ") + (result.ok ? "Ok" : "Failed"));
  return result;
}

int PurgerSonsTemporaires(TraceLogger& log, Prompt& prompt, const std::string& folder, const LocalDateTime& now,
                          bool showMessage, bool stopping) {
  if (stopping) return 0;
  log.TraceLog("PurgerSonsTemporaires: Start");
  const LocalDateTime l = now.plusDays(-kTemporarySoundDays);
  const std::string limit =
      fmt::format("{:04}-{:02}-{:02}-{:02}-{:02}-{:02}", l.year, l.month, l.day, l.hour, l.minute, l.second);
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  int deleted = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const auto& n : names) {
      if (!File_Exist(dir + n) || !(EclateRepFicExt(n).name < limit)) continue;
      if (File_Delete(dir + n)) ++deleted;
      else log.TraceLog("Err: PurgerSonsTemporaires: Unable to delete: " + dir + n);
    }
  }
  log.TraceLog("PurgerSonsTemporaires: End");
  if (showMessage) prompt.message("Suppression des sons temporaires terminée.", Icon::Information, Buttons::Ok);
  return deleted;
}

}  // namespace sono::convert
