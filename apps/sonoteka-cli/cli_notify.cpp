#include "cli_notify.h"

#include <algorithm>
#include <cstdio>

#include "cli_session.h"
#include "cli_setup.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/songs.h"
#include "audio/setup/init_sound.h"
#include "notify/notifier.h"

namespace sono::cli {

namespace {

constexpr const char* kSendCaller = "sonoteka-cli:notify send";

std::unique_ptr<notify::Notifier> MakeNotifier(Session& s) {
  auto n = std::make_unique<notify::Notifier>(notify::NotifierPorts{s.clock, s.scheduler, s.app.log()},
                                              s.app.config().settingsFile(), s.app.config().settingsFolder(),
                                              s.app.log().headerInfo().computerName);
  n->InitSettingsUDP();
  n->accesVpn = data::VpnWorkstation(s.app.config());
  return n;
}

void PrintQueue(notify::Notifier& n) {
  for (const auto& e : n.queue().entries())
    std::printf("%s  %s:%s:%s  %s\n", e.due.c_str(), e.due.substr(8, 2).c_str(), e.due.substr(10, 2).c_str(),
                e.due.substr(12, 2).c_str(), Cp1252ToUtf8(e.code).c_str());
  std::printf("%zu notification(s) en attente\n", n.queue().size());
}

int Send(const Options& options, const std::string& codeText) {
  if (const std::string refusal = data::CheckSongCode(codeText); !refusal.empty()) return Usage(refusal);
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (ls.lib.db().GetEqual(ls.lib.base(), data::kSongs, options.station, data::kSongByCode, key,
                           kSendCaller, quiet) != 0)
    return Fail("Morceau non trouvé: " + codeText);
  return QueueSongChange(ls, code, true, kSendCaller) ? 0 : 1;
}

int Pending(const Options& options) {
  Session s(options);
  if (!s.loadSite()) return 1;
  auto n = MakeNotifier(s);
  PrintQueue(*n);
  return 0;
}

// Sends as the timer does (each entry at its due time) until the queue is empty.
int Run(const Options& options) {
  Session s(options);
  if (!s.loadSite()) return 1;
  s.app.startLogging();
  auto n = MakeNotifier(s);
  n->attach();
  const size_t before = n->queue().size();
  // A song another process of this workstation (the desktop) has as a local
  // copy stays queued: it is told once the sound is back on the server.
  const std::vector<std::string> held = n->HeldCodes();
  std::vector<std::string> codes, kept;
  for (const auto& e : n->queue().entries())
    (std::find(held.begin(), held.end(), Calibre(e.code, 8)) != held.end() ? kept : codes).push_back(e.code);
  for (const auto& c : kept) std::printf("Retenu (son en copie locale): %s\n", Cp1252ToUtf8(Trim(c)).c_str());
  if (!n->UdpActive() && before > 0)
    std::printf("Aucune adresse réseau (UDP) configurée : les notifications sont retirées sans envoi.\n");
  constexpr int kPollMs = 5;
  while (static_cast<size_t>(n->pendingCount()) > n->heldPendingCount() || n->sending()) {
    s.scheduler.runDue();
    s.clock.sleepMs(kPollMs);
  }
  for (const auto& c : codes) std::printf("Envoyé: %s\n", Cp1252ToUtf8(c).c_str());
  std::printf("%zu notification(s) envoyée(s)\n", codes.size());
  s.app.log().Flush();
  return 0;
}

}  // namespace

bool QueueSongChange(LibrarySession& ls, const std::string& code, bool refreshVersions, const std::string& caller) {
  return QueueSongChange(ls.session, ls.lib, code, refreshVersions, caller);
}

bool QueueSongChange(Session& session, data::Library& lib, const std::string& code, bool refreshVersions,
                     const std::string& caller) {
  auto n = MakeNotifier(session);
  n->setLibrary(&lib);
  const std::string padded = Calibre(code, 8);
  const bool ok = n->UDPAddSonEtMAJTimingSurVersion(padded, padded, refreshVersions ? padded : std::string(), caller);
  for (const auto& e : n->queue().entries())
    if (e.code == padded)
      std::printf("Notification UDP en attente: %s (envoi après %s:%s:%s)\n", Cp1252ToUtf8(Trim(padded)).c_str(),
                  e.due.substr(8, 2).c_str(), e.due.substr(10, 2).c_str(), e.due.substr(12, 2).c_str());
  // Said to `notify send` only: the commands that change songs stay quiet
  // on a workstation without targets.
  if (!n->UdpActive() && caller == kSendCaller)
    std::printf("Aucune adresse réseau (UDP) configurée : pas de notification.\n");
  session.app.log().Flush();
  // With no target nothing is queued, which is no failure.
  return ok || !n->UdpActive();
}

int NotifyCommand(const Options& options, const std::vector<std::string>& words) {
  const std::string verb = words.size() >= 2 ? words[1] : std::string();
  if (verb == "send" && words.size() == 3) return Send(options, words[2]);
  if (verb == "pending" && words.size() == 2) return Pending(options);
  if (verb == "run" && words.size() == 2) return Run(options);
  return Usage("notify send CODE | notify pending | notify run");
}

int SetupCommand(const Options& options, const std::vector<std::string>& words) {
  const bool show = words.size() == 2 && words[1] == "show";
  const bool set = words.size() == 5 && words[1] == "set";
  if (words.size() == 2 && words[1] == "init-sound") {
    // The initialisation sound of the PCX pipes, made when missing as the
    // desktop's start-up does.
    Session s(options);
    if (!s.loadSite()) return 1;
    const std::string file = audio::InitSoundFile(s.app.config().programFolder());
    std::string why;
    switch (audio::EnsureInitSound(file, &why)) {
      case audio::InitSoundState::Found: std::printf("Son d'initialisation: %s\n", file.c_str()); return 0;
      case audio::InitSoundState::Created: std::printf("Son d'initialisation créé: %s\n", file.c_str()); return 0;
      case audio::InitSoundState::Missing: break;
    }
    return Fail("Fichier '" + file + "' non trouvé. (" + why + ")");
  }
  if (!show && !set) return Usage("setup show | setup set SECTION CLÉ VALEUR | setup init-sound");
  if (set && !EqualsNoCase(words[2], notify::kUdpSection)) {
    if (!IsAudioSetupSection(words[2]))
      return Usage("section inconnue: " + words[2] + " (UDP ou une section du réglage audio, voir setup show)");
    Session s(options);
    if (!s.loadSite()) return 1;
    s.app.startLogging();
    return SetAudioSetup(s, words[2], words[3], words[4]);
  }
  std::optional<std::pair<notify::TargetField, int>> field;
  if (set && !(field = notify::UdpTargets::ParseKey(words[3])))
    return Usage("clé inconnue: " + words[3] + " (IP_00 à IP_07, PortA_00 … PortD_07)");
  Session s(options);
  if (!s.loadSite()) return 1;
  s.app.startLogging();
  const std::string file = s.app.config().settingsFile();
  notify::UdpTargets targets;
  targets.InitSettingsUDP(file);
  if (set) {
    if (const std::string refusal = targets.SetValue(field->first, field->second, words[4]); !refusal.empty())
      return Usage(refusal);
    std::string error;
    if (!targets.SaveSettingsUDP(file, &error)) {
      s.app.log().TraceLog("Err: UDP: SaveSettingsUDP: " + error);
      s.app.log().Flush();
      return Fail("Réglage non enregistré: " + error);
    }
    targets.InitSettingsUDP(file);  // what the file holds now
    const std::string key = notify::UdpTargets::KeyName(field->first, field->second);
    std::printf("Enregistré: UDP/%s=%s\n", key.c_str(), targets.value(field->first, field->second).c_str());
    s.app.log().Flush();
    return 0;
  }
  std::printf("[UDP]\n");
  for (int row = 0; row < notify::kTargetRows; ++row)
    for (int f = 0; f < notify::kTargetFields; ++f) {
      const auto tf = static_cast<notify::TargetField>(f);
      std::printf("%s=%s\n", notify::UdpTargets::KeyName(tf, row).c_str(), targets.value(tf, row).c_str());
    }
  std::printf("UdpActive=%d\n", targets.UdpActive() ? 1 : 0);
  ShowAudioSetup(s);
  s.app.log().Flush();
  return 0;
}

}  // namespace sono::cli
