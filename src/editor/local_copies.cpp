#include "editor/local_copies.h"

#include <ctime>
#include <sstream>

#include "core/config.h"
#include "core/datetime.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "editor/envelope.h"
#include "editor/pointer_editor.h"
#include "editor/sound_edits.h"

namespace sono::editor {

namespace {

constexpr const char* kMainForm = "Frm_Main";
constexpr const char* kSoundExtension = ".s48";
constexpr const char* kEnvelopeExtension = ".gpx";
constexpr const char* kTakeHeader = "Sonoteka local copy 1";
constexpr int64_t kHouseBytesPerMs = 32;  // 256 kbit/s
constexpr const char* kSelectCaller = "Lib_Musique:SelectLigneMusMaster";

const char* TrueFalse(bool v) { return v ? "True" : "False"; }

std::string Lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// `file` with its last ".s48" (any case) replaced by `extension`.
std::string WithExtension(const std::string& file, const std::string& extension) {
  const size_t at = Lowered(file).rfind(kSoundExtension);
  if (at == std::string::npos) return file;
  return file.substr(0, at) + extension + file.substr(at + 4);
}

std::string DateOf(const FileFacts& f) {
  const std::time_t seconds = static_cast<std::time_t>(f.modifiedNs / 1000000000LL);
  std::tm tm{};
  ::localtime_r(&seconds, &tm);
  LocalDateTime d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec;
  return Date2StringEx(d, "dd/MM/yyyy HH:MM:SS");
}

bool SameStamp(const FileFacts& a, const FileFacts& b) { return a.size == b.size && a.modifiedNs == b.modifiedNs; }

}  // namespace

// ------------------------------------------------------------------ settings

const std::array<LocalCopyOptionText, kLocalCopyOptions>& LocalCopyOptionTexts() {
  static const std::array<LocalCopyOptionText, kLocalCopyOptions> texts{{
      {LocalCopyOption::PartirDuSonLocal, "PartirDuSonLocal", "Partir du son en local s'il est présent"},
      {LocalCopyOption::RecopierSurServeur, "RecopierSurServeur",
       "Recopier automatiquement le son sur le serveur quand on passe à un autre son"},
      {LocalCopyOption::VerifierSonSurServeur, "VerifierSonSurServeur",
       "Vérifier le son sur le serveur pour le proposer s'il est différent du son en local"},
      {LocalCopyOption::AccesVPN, "AccesVPN", "Poste avec un accès VPN à la base"},
  }};
  return texts;
}

std::optional<LocalCopyOption> LocalCopyOptionOfKey(const std::string& key) {
  for (const auto& t : LocalCopyOptionTexts())
    if (Lowered(key) == Lowered(t.key)) return t.option;
  return std::nullopt;
}

LocalCopySettings LoadLocalCopySettings(const SiteConfig& config) {
  LocalCopySettings s;
  for (const auto& t : LocalCopyOptionTexts())
    s.set(t.option, LectureIni(config.settingsFile(), kBehaviourSection, t.key, "0") == "1");
  s.localFolder = CheckRep(LoadEnvelopeSettings(config).localSoundFolder);
  return s;
}

bool SaveLocalCopyOption(const SiteConfig& config, LocalCopyOption option, bool value) {
  return EcritureIni(config.settingsFile(), kBehaviourSection,
                     LocalCopyOptionTexts()[static_cast<size_t>(option)].key, value ? "1" : "0");
}

// --------------------------------------------------------------- take record

std::string TakeRecordPath(const std::string& localFile) { return localFile + ".take"; }

bool WriteTakeRecord(const std::string& localFile, const TakeRecord& r) {
  std::ostringstream out;
  out << kTakeHeader << "\n"
      << "server=" << r.serverFile << "\n"
      << "server_size=" << r.server.size << "\n"
      << "server_mtime_ns=" << r.server.modifiedNs << "\n"
      << "server_hash=" << r.server.hash << "\n"
      << "local_size=" << r.local.size << "\n"
      << "local_mtime_ns=" << r.local.modifiedNs << "\n";
  return WriteFileAtomic(TakeRecordPath(localFile), out.str());
}

std::optional<TakeRecord> ReadTakeRecord(const std::string& localFile) {
  const auto text = ReadWholeFile(TakeRecordPath(localFile));
  if (!text) return std::nullopt;
  std::istringstream in(*text);
  std::string line;
  if (!std::getline(in, line) || line != kTakeHeader) return std::nullopt;
  TakeRecord r;
  int seen = 0;
  try {
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) return std::nullopt;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      ++seen;
      if (key == "server") r.serverFile = value;
      else if (key == "server_size") r.server.size = std::stoll(value);
      else if (key == "server_mtime_ns") r.server.modifiedNs = std::stoll(value);
      else if (key == "server_hash") r.server.hash = std::stoull(value);
      else if (key == "local_size") r.local.size = std::stoll(value);
      else if (key == "local_mtime_ns") r.local.modifiedNs = std::stoll(value);
      else --seen;
    }
  } catch (const std::exception&) {
    return std::nullopt;  // a damaged record is no record
  }
  if (seen != 6) return std::nullopt;
  return r;
}

// ------------------------------------------------------------------- texts

const std::array<CopyMenuText, 4>& CopyMenuTexts() {
  static const std::array<CopyMenuText, 4> texts{{
      {CopyMenuEntry::CopyToLocal, "Recopier le son en local...", "Voulez-vous recopier le son en local ?"},
      {CopyMenuEntry::CopyToServerAndDelete, "Recopier le son sur le serveur (et le supprimer en local)...",
       "Voulez-vous recopier le son sur le serveur ?"},
      {CopyMenuEntry::TakeFromServer, "Reprendre le son du serveur...", "Voulez-vous reprendre le son du serveur ?"},
      {CopyMenuEntry::CopyToServerAndKeep, "Recopier le son sur le serveur (et le laisser en local)...",
       "Voulez-vous recopier le son sur le serveur ?"},
  }};
  return texts;
}

// ------------------------------------------------------------------- model

LocalCopies::LocalCopies(Ports ports, LocalCopySettings s)
    : settings(std::move(s)),
      log_(ports.log),
      prompt_(ports.prompt),
      clock_(ports.clock),
      editor_(ports.editor),
      edits_(ports.edits) {
  settings.localFolder = CheckRep(settings.localFolder);
  copyOptions.clock = &clock_;
}

std::string LocalCopies::LocalPathOf(const std::string& soundFile) const {
  const PathParts p = EclateRepFicExt(soundFile);
  return settings.localFolder + p.name + p.extension;
}

std::string LocalCopies::LocalCandidate(const std::string& code) const {
  return settings.localFolder + Calibre(Trim(code), 8) + kSoundExtension;
}

std::optional<int> LocalCopies::ask(const TaskDialog& dialog) {
  if (taskDialog) return taskDialog(dialog);
  std::vector<std::string> captions;
  for (const auto& b : dialog.buttons) captions.push_back(b.second);
  const auto chosen = prompt_.chooseItem(dialog.instruction + "\n" + dialog.content, captions, -1);
  if (!chosen || *chosen < 0 || *chosen >= static_cast<int>(dialog.buttons.size())) return std::nullopt;
  return dialog.buttons[static_cast<size_t>(*chosen)].first;
}

void LocalCopies::computeNames() {
  const LocalDateTime now = clock_.now();
  const std::string stamp = D2S(now) + "_" + Date2StringEx(now, "HHMMSS");
  temporaryFile = workingFile + "_" + stamp + ".Tmp";
  backupFile = workingFile + "_" + stamp + ".Bkp";
  masterFile = WithExtension(workingFile, ".mas");
}

void LocalCopies::setLocal(bool local, bool changed) {
  SonRecopieEnLocal = local;
  log_.TraceLog(std::string(changed ? "SonRecopieEnLocal change to: " : "SonRecopieEnLocal stay to: ") +
                TrueFalse(local));
  if (onHeldChanged) onHeldChanged(heldSongCode());
}

void LocalCopies::switchWorkingFile(const std::string& file) {
  if (editor_.sound.soundFile != file) {
    if (!editor_.sound.soundFile.empty()) editor_.RAZUndoFichierSonQZ(editor_.sound.soundFile);
    editor_.sound.soundFile = file;
    editor_.sound.envelopeFile = WithExtension(file, kEnvelopeExtension);
  }
  workingFile = file;
  computeNames();
  statusText = workingFile;
  if (edits_) edits_->WorkingFileChanged();
}

void LocalCopies::reloadEditor(const std::string& caller) {
  SongSelection song{editor_.sound.code, editor_.sound.station, editor_.sound.duration, editor_.sound.soundFile, {}, {}};
  editor_.InitSoundPtx(SoundLoad::Refresh, false, caller, song);
  if (edits_) edits_->WorkingFileChanged();
}

std::string CopyProgressText(const std::string& caption, int percent) {
  return caption + ": " + std::to_string(percent) + " %";
}

CopyResult LocalCopies::copy(const std::string& from, const std::string& to, const char* caption) {
  CopyOptions options = copyOptions;
  const uint64_t started = clock_.tickMs();
  int shown = -1;  // the percent on show, -1 none yet
  options.progress = [&](int64_t done, int64_t total) {
    const bool longCopy = clock_.tickMs() - started >= static_cast<uint64_t>(kCopyProgressAfterMs);
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (longCopy && percent != shown && done < total) {
      shown = percent;
      const std::string text = CopyProgressText(caption, percent);
      prompt_.setStepLabel(text);
      if (onCopyProgress) onCopyProgress(text, percent);
    }
    return !copyOptions.progress || copyOptions.progress(done, total);
  };
  CopyResult r = CopyChecked(from, to, options);
  if (shown >= 0) {
    // The step window shows the step again, and a display of the progress closes.
    prompt_.setStepLabel(caption);
    if (onCopyProgress) onCopyProgress(r.ok ? CopyProgressText(caption, 100) : std::string(), r.ok ? 100 : -1);
  }
  return r;
}

// Copies the server sound to the local one and writes the take record first.
bool LocalCopies::takeLocal(const std::string& server, const std::string& local, const std::string& caller,
                            const char* caption) {
  std::string failed;
  if (!CreateFolders(settings.localFolder, &failed)) {
    lastMessage = "Dossier local impossible à créer: " + failed;
    log_.TraceLog("Err: File_Copy |Sub: " + caller + " |Reason: " + lastMessage);
    return false;
  }
  const CopyResult r = copy(server, local, caption);
  if (!r.ok) {
    lastMessage = "Copie non faite: " + r.error;
    log_.TraceLog("Err: File_Copy |Sub: " + caller + " |Reason: " + r.error);
    return false;
  }
  // Written once the copy has its name: a kill in between leaves a copy
  // with no record (or an older one), which giving back treats as taken from
  // an unknown version of the server's sound: it asks before overwriting.
  if (!WriteTakeRecord(local, TakeRecord{server, r.source, r.target})) {
    log_.TraceLog("Err: File_Copy: take record not written |File: " + TakeRecordPath(local));
  }
  return true;
}

bool LocalCopies::RecopieSonEnLocal() {
  const std::string caller = std::string(kMainForm) + ":" + "RecopieSonEnLocal";
  prompt_.showStepWindow(true);
  prompt_.setStepLabel(kToLocalCaption);
  log_.TraceLog(std::string(30, '+'));
  log_.TraceLog("Recopie du son en local: Start");
  log_.TraceLog(std::string(30, '+'));
  const std::string current = serverFile.empty() ? editor_.sound.soundFile : serverFile;
  const PathParts p = EclateRepFicExt(current);
  const std::string serverSound = p.folder + p.name + kSoundExtension;
  const std::string serverEnvelope = p.folder + p.name + kEnvelopeExtension;
  const std::string local = settings.localFolder + p.name + p.extension;
  const bool wasLocal = editor_.sound.soundFile == local;
  bool result = true;
  if (File_Exist(serverSound)) {
    log_.TraceLog("File_Copy: " + serverSound + " to " + settings.localFolder);
    if (!takeLocal(serverSound, local, caller)) {
      if (File_Exist(serverSound))
        prompt_.message("Impossible de recopier le fichier:\n" + serverSound + "\nvers\n" + settings.localFolder,
                        Icon::Critical, Buttons::Ok);
      result = false;
    } else {
      log_.TraceLog("File_Copy: Ok |Sub: " + caller);
      serverFile = serverSound;
      localFile = local;
      setLocal(true, true);
      switchWorkingFile(local);
      if (wasLocal) reloadEditor(caller);  // the server's version replaced the one being edited
      log_.TraceLog("File_Copy: " + serverEnvelope + " to " + settings.localFolder);
      const CopyResult env = copy(serverEnvelope, WithExtension(local, kEnvelopeExtension), kToLocalCaption);
      log_.TraceLog(env.ok ? "File_Copy: Ok |Sub: " + caller : "Err: File_Copy |Sub: " + caller + " |Reason: " + env.error);
    }
  } else {
    // No server sound (a new one): the editor works on the local path all the same.
    if (serverFile.empty()) serverFile = serverSound;
    localFile = local;
    WriteTakeRecord(local, TakeRecord{serverSound, FileFacts{}, StatFacts(local)});
    setLocal(true, true);
    switchWorkingFile(local);
  }
  log_.TraceLog(std::string(28, '+'));
  log_.TraceLog("Recopie du son en local: End");
  log_.TraceLog(std::string(28, '+'));
  prompt_.showStepWindow(false);
  return result;
}

bool LocalCopies::serverChangedSinceTake() {
  const auto record = ReadTakeRecord(localFile);
  const FileFacts now = StatFacts(serverFile);
  if (!record) return now.exists();
  if (!record->server.exists() || !now.exists()) return record->server.exists() != now.exists();
  if (!SameStamp(record->server, now)) return true;
  const auto read = ReadFacts(serverFile);
  return !read || read->hash != record->server.hash;
}

bool LocalCopies::RecopieSonSurServeur(bool supprimerLeSonLocal, const std::string& caller) {
  const std::string self = std::string(kMainForm) + ":" + "RecopieSonSurServeur";
  prompt_.showStepWindow(true);
  prompt_.setStepLabel(kToServerCaption);
  log_.TraceLog(std::string(36, '+'));
  log_.TraceLog("Recopie du son sur le serveur: Start |Sub: " + caller);
  log_.TraceLog(std::string(36, '+'));
  log_.TraceLog(std::string("SupprimerLeSonLocal: ") + TrueFalse(supprimerLeSonLocal));
  // The local copy, even when a give-back that kept it made the server's
  // sound the working file.
  const PathParts p = EclateRepFicExt(localFile.empty() ? editor_.sound.soundFile : localFile);
  const std::string localSound = p.folder + p.name + kSoundExtension;
  const std::string localEnvelope = p.folder + p.name + kEnvelopeExtension;
  const std::string serverFolder = ParentFolder(serverFile);
  const auto finish = [&](bool result) {
    log_.TraceLog(std::string(34, '+'));
    log_.TraceLog("Recopie du son sur le serveur: End");
    log_.TraceLog(std::string(34, '+'));
    prompt_.showStepWindow(false);
    return result;
  };
  if (serverFile.empty() || !SonRecopieEnLocal) {
    lastMessage = "Le son n'est pas en local.";
    log_.TraceLog("Err: File_Copy |Sub: " + self + " |Reason: no local sound");
    return finish(false);
  }
  localFile = localSound;
  if (serverChangedSinceTake()) {
    // Another workstation changed the server's sound since the copy was taken.
    const ServerLocalComparison c = Compare(serverFile, localSound);
    log_.TraceLog("RecopieSonSurServeur: server sound changed since the local copy |Server: " + serverFile +
                  " |Size: " + std::to_string(c.server.size));
    const auto choice = ask(ComparisonDialog(c));
    if (choice == kTaskButtonFirst) {
      finish(false);
      RecopieSonEnLocal();
      lastMessage = "Le son du serveur a remplacé le son en local.";
      return false;
    }
    if (choice != kTaskButtonSecond) {
      lastMessage = "Son non recopié sur le serveur: il a été modifié sur le serveur depuis sa copie en local.";
      log_.TraceLog("Err: File_Copy |Sub: " + self + " |Reason: server sound changed, nothing copied");
      return finish(false);
    }
    log_.TraceLog("RecopieSonSurServeur: local sound kept by the user over the server's");
  }
  log_.TraceLog("File_Copy: " + localSound + " to " + serverFolder + " |SoundDuration: " +
                std::to_string(editor_.soundLength()) + " ms");
  const CopyResult r = copy(localSound, serverFile, kToServerCaption);
  if (!r.ok) {
    log_.TraceLog("Err: File_Copy |Sub: " + self + " |Reason: " + r.error);
    lastMessage = "Copie non faite: " + r.error;
    if (File_Exist(localSound))
      prompt_.message("Impossible de recopier le fichier:\n" + localSound + "\nvers\n" + serverFolder, Icon::Critical,
                      Buttons::Ok);
    return finish(false);
  }
  log_.TraceLog("File_Copy: Ok |Sub: " + self);
  switchWorkingFile(serverFile);
  if (supprimerLeSonLocal) {
    log_.TraceLog("File_Delete: " + localSound);
    const bool deleted = File_Delete(localSound);
    log_.TraceLog(deleted ? "File_Delete: Ok |Sub: " + self : "Err: File_Delete |Sub: " + self);
    File_Delete(TakeRecordPath(localSound));
    setLocal(false, true);
  } else {
    WriteTakeRecord(localSound, TakeRecord{serverFile, r.target, StatFacts(localSound)});
    setLocal(SonRecopieEnLocal, false);
  }
  log_.TraceLog("File_Copy: " + localEnvelope + " to " + serverFolder);
  const CopyResult env = copy(localEnvelope, WithExtension(serverFile, kEnvelopeExtension), kToServerCaption);
  log_.TraceLog(env.ok ? "File_Copy: Ok |Sub: " + self : "Err: File_Copy |Sub: " + self + " |Reason: " + env.error);
  return finish(true);
}

bool LocalCopies::entryEnabled(CopyMenuEntry entry) const {
  if (Trim(editor_.sound.code).empty()) return false;
  return entry == CopyMenuEntry::CopyToLocal ? !SonRecopieEnLocal : SonRecopieEnLocal;
}

bool LocalCopies::MnuPtxCopy(CopyMenuEntry entry) {
  if (closing || !entryEnabled(entry)) return false;
  const CopyMenuText& t = CopyMenuTexts()[static_cast<size_t>(entry)];
  if (prompt_.message(t.question, Icon::Question, Buttons::YesNo) != Answer::Yes) return false;
  switch (entry) {
    case CopyMenuEntry::CopyToLocal:
    case CopyMenuEntry::TakeFromServer:
      return RecopieSonEnLocal();
    case CopyMenuEntry::CopyToServerAndDelete:
      return RecopieSonSurServeur(true, std::string(kMainForm) + ":MnuPtxCopy_Click");
    case CopyMenuEntry::CopyToServerAndKeep:
      return RecopieSonSurServeur(false, std::string(kMainForm) + ":MnuPtxCopy_Click");
  }
  return false;
}

// ------------------------------------------------------------ row selection

ServerLocalComparison LocalCopies::Compare(const std::string& server, const std::string& local) const {
  ServerLocalComparison c;
  c.server = StatFacts(server);
  c.local = StatFacts(local);
  if (c.server.size != c.local.size) {
    c.differ = true;
    return c;
  }
  const auto s = ReadFacts(server), l = ReadFacts(local);
  if (s) c.server.hash = s->hash;
  if (l) c.local.hash = l->hash;
  c.differ = !s || !l || s->hash != l->hash;
  return c;
}

TaskDialog LocalCopies::ComparisonDialog(const ServerLocalComparison& c) const {
  TaskDialog d;
  d.instruction = "Le son sur le serveur est différent de celui en local";
  d.content = "Date Fichier serveur: " + DateOf(c.server) + " (Taille: " + std::to_string(std::max<int64_t>(0, c.server.size) / 1024) +
              " Ko)\nDate Fichier local: " + DateOf(c.local) + " (Taille: " +
              std::to_string(std::max<int64_t>(0, c.local.size) / 1024) + " Ko)";
  d.buttons = {{kTaskButtonFirst, kReloadFromServer}, {kTaskButtonSecond, kKeepLocal}};
  return d;
}

bool LocalCopies::LocalModified() const {
  if (editor_.flags.soundWritten || editor_.flags.soundUnsaved) return true;
  const auto record = ReadTakeRecord(localFile);
  return !record || !SameStamp(record->local, StatFacts(localFile));
}

std::string LocalCopies::heldSongCode() const { return SonRecopieEnLocal ? editor_.sound.code : std::string(); }

bool LocalCopies::LeaveSound() {
  if (!SonRecopieEnLocal) return true;
  if (!LocalModified()) {
    setLocal(false, true);
    return true;
  }
  if (settings.on(LocalCopyOption::RecopierSurServeur)) {
    if (!RecopieSonSurServeur(false, kSelectCaller)) return false;
    setLocal(false, true);
    return true;
  }
  TaskDialog d;
  d.instruction = "Le son en cours est en local et a été modifié.";
  d.content = "Il faut le recopier sur le serveur pour qu'il soit accessible aux autres postes.";
  d.buttons = {{kTaskButtonFirst, "Ne pas changer de morceau"}, {kTaskButtonSecond, "Changer de morceau"}};
  if (ask(d) != kTaskButtonSecond) return false;
  setLocal(false, true);
  return true;
}

std::string LocalCopies::SelectionLigne(const std::string& code, const std::string& serverSoundFile) {
  const std::string candidate = LocalCandidate(code);
  if (!File_Exist(candidate)) {
    log_.TraceLog("FichierSonLocal not found");
    return serverSoundFile;
  }
  const int64_t size = StatFacts(candidate).size;
  log_.TraceLog("FichierSonLocal found |FileSize: " + std::to_string(size) +
                " Duration: " + std::to_string(size / kHouseBytesPerMs) + "ms");
  if (settings.on(LocalCopyOption::VerifierSonSurServeur) && File_Exist(serverSoundFile)) {
    const ServerLocalComparison c = Compare(serverSoundFile, candidate);
    if (c.differ) {
      if (ask(ComparisonDialog(c)) == kTaskButtonFirst) {
        log_.TraceLog("Copy: Start: " + serverSoundFile + " to " + candidate);
        if (!takeLocal(serverSoundFile, candidate, kSelectCaller, kFromServerCaption))
          prompt_.message("Impossible de recopier le fichier:\n" + serverSoundFile + "\nvers\n" + settings.localFolder,
                          Icon::Critical, Buttons::Ok);
        log_.TraceLog("Copy: End");
      } else {
        log_.TraceLog("File size different: " + std::to_string(c.server.size) + " and " +
                      std::to_string(c.local.size) + " |But no copy from server to local");
      }
    }
  }
  return settings.on(LocalCopyOption::PartirDuSonLocal) ? candidate : serverSoundFile;
}

bool LocalCopies::UseLocalCopy() {
  const std::string candidate = LocalCandidate(editor_.sound.code);
  if (SonRecopieEnLocal || !File_Exist(candidate)) return SonRecopieEnLocal;
  if (serverFile.empty()) serverFile = editor_.sound.soundFile;
  localFile = candidate;
  setLocal(true, true);
  switchWorkingFile(candidate);
  reloadEditor("UseLocalCopy");
  return true;
}

void LocalCopies::Opened(const std::string& serverSoundFile, const std::string& openedFile) {
  serverFile = serverSoundFile;
  workingFile = openedFile;
  const bool local = openedFile != serverSoundFile;
  localFile = local ? openedFile : LocalPathOf(serverSoundFile);
  computeNames();
  statusText = workingFile;
  setLocal(local, true);
}

}  // namespace sono::editor
