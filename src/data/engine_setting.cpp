#include "data/engine_setting.h"

#include <atomic>
#include <cctype>

#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/btr/btr.h"

namespace sono::data {

namespace {

constexpr int kUnreachable = 3111;

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// "key=value" pairs of a libpq keyword string, the password's left out.
std::string KeywordsWithoutPassword(const std::string& s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size()) break;
    const std::size_t start = i;
    while (i < s.size() && s[i] != '=' && !IsSpace(s[i])) ++i;
    const std::string key = s.substr(start, i - start);
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i < s.size() && s[i] == '=') ++i;
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i < s.size() && s[i] == '\'') {  // quoted, with backslash escapes
      ++i;
      while (i < s.size() && s[i] != '\'') i += s[i] == '\\' ? 2 : 1;
      ++i;
    } else {
      while (i < s.size() && !IsSpace(s[i])) i += s[i] == '\\' ? 2 : 1;
    }
    if (ToUpperAscii(key) == "PASSWORD") continue;
    if (!out.empty()) out += ' ';
    out += s.substr(start, std::min(i, s.size()) - start);
  }
  return out;
}

// A postgresql:// address without "user:password@"'s password nor a
// "password=" parameter.
std::string UriWithoutPassword(std::string s) {
  const std::size_t scheme = s.find("://");
  const std::size_t authorityEnd = s.find_first_of("/?", scheme + 3);
  const std::size_t at = s.rfind('@', authorityEnd == std::string::npos ? s.size() : authorityEnd);
  if (at != std::string::npos && at > scheme) {
    const std::size_t colon = s.find(':', scheme + 3);
    if (colon != std::string::npos && colon < at) s.erase(colon, at - colon);
  }
  const std::size_t query = s.find('?');
  if (query == std::string::npos) return s;
  std::string kept;
  std::size_t i = query + 1;
  while (i <= s.size()) {
    std::size_t amp = s.find('&', i);
    if (amp == std::string::npos) amp = s.size();
    const std::string part = s.substr(i, amp - i);
    if (!part.empty() && ToUpperAscii(part.substr(0, part.find('='))) != "PASSWORD")
      kept += (kept.empty() ? "" : "&") + part;
    i = amp + 1;
  }
  return s.substr(0, query) + (kept.empty() ? "" : "?" + kept);
}

ServerCheck Check(const std::string& anyPathOfBase, const std::string& connection, const std::string& baseName) {
  ServerCheck check;
  std::string detail;
  check.status = btr::ReachServer(anyPathOfBase, &detail);
  if (check.status == 0) return check;
  const std::string shown = ConnectionWithoutPassword(connection);
  const std::string of = baseName.empty() ? std::string() : " de la base « " + baseName + " »";
  if (check.status == btr::status::kAccessDenied) {
    check.message = "Le serveur PostgreSQL" + of + " a refusé la connexion: mot de passe refusé.\nConnexion: " +
                    shown + "\n" + detail +
                    "\n\nVérifiez le mot de passe (le fichier de « Fichier_MotDePasse_PostgreSQL », lisible par "
                    "son seul propriétaire, ou ~/.pgpass).";
    check.logLine = "Err: PostgreSQL password refused: " + shown + " |" + detail;
  } else {
    check.status = kUnreachable;
    check.message = "Le serveur PostgreSQL" + of + " ne peut pas être joint.\nConnexion: " + shown + "\n" + detail +
                    "\n\nVérifiez que le serveur est démarré et que ce poste peut l'atteindre, puis relancez "
                    "Sonoteka.";
    check.logLine = "Err: PostgreSQL server unreachable: " + shown + " |" + detail;
  }
  return check;
}

}  // namespace

const char* EngineName(btr::EngineKind kind) { return kind == btr::EngineKind::Postgres ? "PostgreSQL" : "LMDB"; }

std::optional<btr::EngineKind> ParseEngineName(const std::string& text) {
  const std::string t = ToUpperAscii(Trim(text));
  if (t == "LMDB") return btr::EngineKind::Lmdb;
  if (t == "POSTGRESQL" || t == "POSTGRES") return btr::EngineKind::Postgres;
  return std::nullopt;
}

EngineSetting ReadEngineSetting(const BaseInfo& info, int base) {
  EngineSetting setting;
  if (info.systemFile.empty()) return setting;
  const std::string section = BaseSection(base);
  if (ParseEngineName(LectureIni(info.systemFile, section, kEngineKey, "LMDB")) == btr::EngineKind::Postgres)
    setting.kind = btr::EngineKind::Postgres;
  setting.connection = LectureIni(info.systemFile, section, kConnectionKey, "");
  setting.passwordFile = LectureIni(info.systemFile, section, kPasswordFileKey, "");
  return setting;
}

bool WriteEngineSetting(const BaseInfo& info, int base, const EngineSetting& setting, std::string& error) {
  if (info.systemFile.empty()) {
    error = "Le fichier système de la base n'est pas connu.";
    return false;
  }
  if (setting.kind == btr::EngineKind::Postgres && Trim(setting.connection).empty()) {
    error = "Une base sur PostgreSQL demande sa connexion (Connexion_PostgreSQL), par exemple "
            "« host=serveur dbname=radio user=studio ».";
    return false;
  }
  int readError = 0;
  const auto content = ReadWholeFile(info.systemFile, &readError);
  if (!content) {
    error = "Le fichier système " + info.systemFile + " ne peut pas être lu: réglage non écrit.";
    return false;
  }
  IniDocument doc = IniDocument::parse(*content);
  const std::string section = BaseSection(base);
  doc.set(section, kEngineKey, EngineName(setting.kind));
  doc.set(section, kConnectionKey, Trim(setting.connection));
  doc.set(section, kPasswordFileKey, Trim(setting.passwordFile));
  std::string why;
  if (!WriteFileAtomic(info.systemFile, doc.serialize(), &why)) {
    error = "Le fichier système " + info.systemFile + " n'a pas pu être écrit (" + why +
            "): le réglage précédent est gardé.";
    return false;
  }
  return true;
}

void ApplyEngineSetting(const BaseInfo& info, int base) {
  if (info.dataFolder.empty() || info.systemFile.empty()) return;
  const EngineSetting s = ReadEngineSetting(info, base);
  btr::SetBaseEngine(info.dataFolder, btr::BaseEngine{s.kind, s.connection, s.passwordFile});
}

std::string ConnectionWithoutPassword(const std::string& connection) {
  const std::string t = Trim(connection);
  if (t.rfind("postgresql://", 0) == 0 || t.rfind("postgres://", 0) == 0) return UriWithoutPassword(t);
  return KeywordsWithoutPassword(t);
}

ServerCheck CheckServer(const BaseInfo& info) {
  const btr::BaseEngine engine = btr::BaseEngineOf(info.dataFolder + "FRAD000.bt6");
  if (engine.kind != btr::EngineKind::Postgres) return {};
  return Check(info.dataFolder + "FRAD000.bt6", engine.connection, info.name);
}

ServerCheck TestEngineSetting(const EngineSetting& setting) {
  if (setting.kind != btr::EngineKind::Postgres) return {};
  // A folder nobody else names: the base's own setting stays as it is.
  static std::atomic<int> counter{0};
  const std::string folder = "/sonoteka-engine-test/" + std::to_string(++counter);
  btr::SetBaseEngine(folder, btr::BaseEngine{setting.kind, setting.connection, setting.passwordFile});
  ServerCheck check = Check(folder + "/FRAD000.bt6", setting.connection, "");
  btr::SetBaseEngine(folder, btr::BaseEngine{});
  return check;
}

EngineSettingForm::EngineSettingForm(const SiteConfig& config, TraceLogger& log)
    : config_(config), log_(log), base_(config.currentBase()), baseName_(config.current().name) {
  setting = ReadEngineSetting(config_.current(), base_);
}

std::string EngineSettingForm::Tester(bool& ok) {
  ok = true;
  if (setting.kind != btr::EngineKind::Postgres) return "Base sur LMDB: aucun serveur à joindre.";
  if (Trim(setting.connection).empty()) {
    ok = false;
    return "Indiquez la connexion PostgreSQL (par exemple « host=serveur dbname=radio user=studio »).";
  }
  const ServerCheck check = TestEngineSetting(setting);
  if (check.ok()) return "Connexion réussie: " + ConnectionWithoutPassword(setting.connection);
  ok = false;
  log_.TraceLog(check.logLine);
  return check.message;
}

bool EngineSettingForm::Enregistrer(std::string& message) {
  if (!WriteEngineSetting(config_.current(), base_, setting, message)) {
    log_.TraceLog("Err: Engine setting not written: " + config_.current().systemFile + " |" + message);
    return false;
  }
  log_.TraceLog(std::string("Engine setting: base ") + NN(base_ + 1) + ": " + EngineName(setting.kind) + " " +
                ConnectionWithoutPassword(setting.connection));
  message = std::string("Moteur de la base « ") + baseName_ + " »: " + EngineName(setting.kind) +
            ".\nLe réglage est enregistré; il s'applique au prochain démarrage de Sonoteka.";
  return true;
}

}  // namespace sono::data
