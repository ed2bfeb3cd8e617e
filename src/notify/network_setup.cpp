#include "notify/network_setup.h"

namespace sono::notify {

void NetworkSetup::Open() {
  notifier_.InitSettingsUDP();
  edited_ = notifier_.targets();
  modified_ = false;
}

bool NetworkSetup::SetCell(int row, TargetField field, const std::string& value) {
  const std::string before = edited_.value(field, row);
  if (const std::string refusal = edited_.SetValue(field, row, value); !refusal.empty()) {
    prompt_.message(refusal, Icon::Exclamation, Buttons::Ok, kNetworkWindowTitle);
    return false;
  }
  if (edited_.value(field, row) != before) modified_ = true;
  return true;
}

bool NetworkSetup::Save() {
  UdpTargets previous = notifier_.targets();
  notifier_.targets() = edited_;
  std::string error;
  if (!notifier_.SaveSettingsUDP(&error)) {
    notifier_.targets() = previous;  // the sender keeps what is stored
    prompt_.message("Les adresses réseau n'ont pas été enregistrées : " + error, Icon::Critical, Buttons::Ok,
                    kNetworkWindowTitle);
    return false;
  }
  modified_ = false;
  return true;
}

bool NetworkSetup::Close() {
  if (!modified_) return true;
  const Answer answer = prompt_.message(kSaveNetworkQuestion, Icon::Question, Buttons::YesNoCancel, kNetworkWindowTitle);
  if (answer == Answer::Cancel) return false;
  if (answer == Answer::Yes) return Save();
  edited_ = notifier_.targets();
  modified_ = false;
  return true;
}

}  // namespace sono::notify
