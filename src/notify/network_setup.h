// The network window (`FrmSetupReseau`) without its widgets: the eight target
// rows edited on a copy, each value checked as it is typed, stored by
// `SaveSettingsUDP`, and the question asked when the window closes with
// unsaved edits. The sender takes the targets again after a save.
#pragma once
#include <string>

#include "core/ports.h"
#include "notify/notifier.h"

namespace sono::notify {

inline constexpr const char* kNetworkWindowTitle = "Adresses réseau";
inline constexpr const char* kSaveNetworkQuestion = "Voulez-vous enregistrer les modifications sur les adresses réseau ?";

class NetworkSetup {
 public:
  NetworkSetup(Notifier& notifier, Prompt& prompt) : notifier_(notifier), prompt_(prompt) {}

  // The window opens: the targets are read from the settings file.
  void Open();
  const std::string& cell(int row, TargetField field) const { return edited_.value(field, row); }
  // A value typed in a cell: a refusal is said and the old value kept
  // (false); a value equal to the shown one changes nothing.
  bool SetCell(int row, TargetField field, const std::string& value);
  // `UdpActive` of the rows as edited.
  bool UdpActive() const { return edited_.UdpActive(); }
  bool modified() const { return modified_; }
  // Stores the rows; a failure is said (critical box, log) and the edits stay.
  bool Save();
  // The window closes: unsaved edits are offered for storing (Yes stores,
  // No drops them, Cancel keeps the window open: false).
  bool Close();

 private:
  Notifier& notifier_;
  Prompt& prompt_;
  UdpTargets edited_;
  bool modified_ = false;
};

}  // namespace sono::notify
