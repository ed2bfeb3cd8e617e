// The network targets of the change notifications: eight rows, each a host
// (name or dotted address) and four UDP ports, kept in the program's settings
// file, section "UDP" ("IP_00", "PortA_00" … "PortD_07").
//
// Decisions:
//   - A port is kept as the text typed. A row is used when its IP is not
//     blank and its Port A is a number other than 0; Ports B to D each add a
//     datagram when they are a number greater than 0. What the window and the
//     command line accept (`SetValue`): an IP of at most 255 characters
//     without blanks or control characters, a port empty or a whole number
//     from 0 to 65535. A value refused keeps the old one and says why.
//   - `SaveSettingsUDP` writes the forty keys in one atomic replacement of the
//     settings file (its other sections kept byte for byte): a failed save
//     leaves the previous file whole.
#pragma once
#include <array>
#include <optional>
#include <string>

namespace sono::notify {

inline constexpr int kTargetRows = 8;
inline constexpr int kPortsPerRow = 4;
inline constexpr int kMaxPort = 65535;
inline constexpr const char* kUdpSection = "UDP";

enum class TargetField { Ip, PortA, PortB, PortC, PortD };
inline constexpr int kTargetFields = 5;

struct UdpTarget {
  std::string ip;
  std::array<std::string, kPortsPerRow> ports;  // A, B, C, D as typed

  // The host after trimming; empty disables the row.
  std::string host() const;
  // The port at `position` (0 = A) when it is a number greater than 0.
  std::optional<int> port(int position) const;
  // Not blank, with Port A a number other than 0.
  bool used() const;
};

class UdpTargets {
 public:
  std::array<UdpTarget, kTargetRows> rows;

  // True when one row's IP is not blank (`UdpActive`).
  bool UdpActive() const;

  // "IP_03", "PortC_07": the settings key of a field.
  static std::string KeyName(TargetField field, int row);
  // The field and row a key names (case ignored); nothing when none.
  static std::optional<std::pair<TargetField, int>> ParseKey(const std::string& key);

  const std::string& value(TargetField field, int row) const;
  // Checks and sets a field; returns the French refusal (the value kept)
  // or an empty text.
  std::string SetValue(TargetField field, int row, const std::string& value);

  // Loads the forty keys from `settingsFile` (a missing key reads empty).
  void InitSettingsUDP(const std::string& settingsFile);
  // Stores them; false with `error` set when the file could not be written.
  bool SaveSettingsUDP(const std::string& settingsFile, std::string* error = nullptr) const;

 private:
  std::string& slot(TargetField field, int row);
};

// The check of `SetValue`, for a value before it is set.
std::string CheckTargetValue(TargetField field, const std::string& value);

}  // namespace sono::notify
