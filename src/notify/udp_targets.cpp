#include "notify/udp_targets.h"

#include <cerrno>
#include <cstring>

#include "core/files.h"
#include "core/ini.h"
#include "core/system_error_text.h"
#include "core/text.h"

namespace sono::notify {

namespace {

constexpr const char* kKeyPrefixes[kTargetFields] = {"IP_", "PortA_", "PortB_", "PortC_", "PortD_"};
constexpr size_t kMaxHostLength = 255;

std::string TwoDigits(int row) { return (row < 10 ? "0" : "") + std::to_string(row); }

// A port text as a number; nothing when it is not a whole number.
std::optional<long long> PortNumber(const std::string& text) { return ParseInt(Trim(text)); }

}  // namespace

std::string UdpTarget::host() const { return Trim(ip); }

std::optional<int> UdpTarget::port(int position) const {
  const auto n = PortNumber(ports[static_cast<size_t>(position)]);
  if (!n || *n <= 0 || *n > kMaxPort) return std::nullopt;
  return static_cast<int>(*n);
}

bool UdpTarget::used() const {
  const auto a = PortNumber(ports[0]);
  return !host().empty() && a && *a != 0;
}

bool UdpTargets::UdpActive() const {
  for (const auto& row : rows)
    if (!row.host().empty()) return true;
  return false;
}

std::string UdpTargets::KeyName(TargetField field, int row) {
  return kKeyPrefixes[static_cast<int>(field)] + TwoDigits(row);
}

std::optional<std::pair<TargetField, int>> UdpTargets::ParseKey(const std::string& key) {
  const std::string upper = ToUpperAscii(key);
  for (int f = 0; f < kTargetFields; ++f)
    for (int row = 0; row < kTargetRows; ++row)
      if (upper == ToUpperAscii(KeyName(static_cast<TargetField>(f), row)))
        return std::make_pair(static_cast<TargetField>(f), row);
  return std::nullopt;
}

const std::string& UdpTargets::value(TargetField field, int row) const {
  const UdpTarget& t = rows.at(static_cast<size_t>(row));
  return field == TargetField::Ip ? t.ip : t.ports[static_cast<size_t>(field) - 1];
}

std::string& UdpTargets::slot(TargetField field, int row) {
  UdpTarget& t = rows.at(static_cast<size_t>(row));
  return field == TargetField::Ip ? t.ip : t.ports[static_cast<size_t>(field) - 1];
}

std::string CheckTargetValue(TargetField field, const std::string& value) {
  if (field == TargetField::Ip) {
    const std::string host = Trim(value);
    if (host.size() > kMaxHostLength)
      return "Adresse trop longue (" + std::to_string(kMaxHostLength) + " caractères au plus).";
    for (unsigned char c : host)
      if (c <= ' ' || c == 0x7f) return "L'adresse « " + host + " » ne doit contenir ni espace ni caractère de contrôle.";
    return {};
  }
  const std::string text = Trim(value);
  if (text.empty()) return {};
  const auto n = ParseInt(text);
  if (!n || *n < 0 || *n > kMaxPort)
    return "Port invalide « " + text + " » : un nombre de 0 à " + std::to_string(kMaxPort) + " est attendu.";
  return {};
}

std::string UdpTargets::SetValue(TargetField field, int row, const std::string& value) {
  if (row < 0 || row >= kTargetRows) return "Ligne invalide : 0 à " + std::to_string(kTargetRows - 1) + ".";
  std::string refusal = CheckTargetValue(field, value);
  if (refusal.empty()) slot(field, row) = Trim(value);
  return refusal;
}

void UdpTargets::InitSettingsUDP(const std::string& settingsFile) {
  const IniDocument doc = IniDocument::load(settingsFile);
  for (int row = 0; row < kTargetRows; ++row)
    for (int f = 0; f < kTargetFields; ++f) {
      const auto field = static_cast<TargetField>(f);
      slot(field, row) = doc.get(kUdpSection, KeyName(field, row)).value_or("");
    }
}

bool UdpTargets::SaveSettingsUDP(const std::string& settingsFile, std::string* error) const {
  int readError = 0;
  const auto content = ReadWholeFile(settingsFile, &readError);
  if (!content && readError != ENOENT) {
    // Never replace a file we could not read with one holding only our keys.
    if (error) *error = "lecture impossible de " + settingsFile + " : " + SystemErrorText(readError);
    return false;
  }
  IniDocument doc = IniDocument::parse(content.value_or(""));
  bool changed = false;
  for (int row = 0; row < kTargetRows; ++row)
    for (int f = 0; f < kTargetFields; ++f) {
      const auto field = static_cast<TargetField>(f);
      changed |= doc.set(kUdpSection, KeyName(field, row), value(field, row));
    }
  if (!changed && content) return true;
  std::string failure;
  if (!CreateFolders(ParentFolder(settingsFile), &failure)) {
    if (error) *error = "dossier impossible à créer : " + failure;
    return false;
  }
  if (!WriteFileAtomic(settingsFile, doc.serialize(), &failure)) {
    if (error) *error = failure;
    return false;
  }
  return true;
}

}  // namespace sono::notify
