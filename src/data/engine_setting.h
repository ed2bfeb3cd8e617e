// The engine a base keeps its files in, as its section of the base's system
// file ("Vexa_Systeme.ini") says:
//   "Moteur_Data"                    "LMDB" (the default) or "PostgreSQL"
//   "Connexion_PostgreSQL"           the libpq connection string
//   "Fichier_MotDePasse_PostgreSQL"  a file holding the password, readable by
//                                    its owner only (empty: ~/.pgpass)
// Read before the base's files are opened, shown and set by
// "sonoteka-cli db engine" and the desktop's "Moteur de la base…" window.
//
// Decisions:
//   - The three keys are written in one rewrite of the system file
//     (temporary file and rename): a failure leaves the previous setting
//     whole, never an engine without its connection.
//   - A connection string is never shown or logged with its password: the
//     "password" value (or the one of a postgresql:// address) is left out.
//   - A server that cannot be reached and refused credentials are said as
//     such, in French, with the connection string: never as a missing file.
#pragma once
#include <optional>
#include <string>

#include "base_engine.h"
#include "core/config.h"
#include "core/tracelog.h"

namespace sono::data {

struct EngineSetting {
  btr::EngineKind kind = btr::EngineKind::Lmdb;
  std::string connection;
  std::string passwordFile;
};

inline constexpr const char* kEngineKey = "Moteur_Data";
inline constexpr const char* kConnectionKey = "Connexion_PostgreSQL";
inline constexpr const char* kPasswordFileKey = "Fichier_MotDePasse_PostgreSQL";

// "LMDB" or "PostgreSQL".
const char* EngineName(btr::EngineKind kind);
// An engine's name as typed ("lmdb", "PostgreSQL", "postgres"…); nothing
// when it names no engine.
std::optional<btr::EngineKind> ParseEngineName(const std::string& text);

EngineSetting ReadEngineSetting(const BaseInfo& info, int base);
// Writes the three keys of the base's section at once; false with the reason
// (French) in `error`, the file then as it was.
bool WriteEngineSetting(const BaseInfo& info, int base, const EngineSetting& setting, std::string& error);
// Makes the record manager put the base's files where the setting says.
void ApplyEngineSetting(const BaseInfo& info, int base);

// The connection string without its password.
std::string ConnectionWithoutPassword(const std::string& connection);

// Whether the database of a base can be reached, and the French message when
// it cannot ("" when it can, and always for LMDB).
struct ServerCheck {
  int status = 0;        // 0, 3111 (unreachable) or 46 (refused)
  std::string message;   // for the user (French)
  std::string logLine;   // for the trace log
  bool ok() const { return status == 0; }
};
// For a base whose setting was applied (ApplyEngineSetting).
ServerCheck CheckServer(const BaseInfo& info);
// For a setting not applied yet (the window's "Tester la connexion"): the
// setting is tried on a name of its own, the base's own is left as it was.
ServerCheck TestEngineSetting(const EngineSetting& setting);

// The "Moteur de la base" window without its widgets: the current base's
// setting as shown and edited, "Tester la connexion" and the save.
class EngineSettingForm {
 public:
  EngineSettingForm(const SiteConfig& config, TraceLogger& log);
  EngineSetting setting;  // the window's fields
  const std::string& baseName() const { return baseName_; }
  // The outcome of a connection with the fields as they stand (French): the
  // success line, or the message saying why not. Logged when it fails.
  std::string Tester(bool& ok);
  // Writes the setting; the message (French) says it is saved and applies at
  // the next start, or why it was not saved (the file then as it was).
  bool Enregistrer(std::string& message);

 private:
  const SiteConfig& config_;
  TraceLogger& log_;
  int base_;
  std::string baseName_;
};

}  // namespace sono::data
