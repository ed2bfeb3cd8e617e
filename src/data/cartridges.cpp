#include "data/cartridges.h"

#include "core/text.h"
#include "data/songs.h"

namespace sono::data {

std::optional<std::string> Cartouchier::titleOf(const std::string& code) const {
  const auto song = LectureFicheMorceau(lib_, station_, Calibre(Utf8ToCp1252(code), 8));
  if (!song) return std::nullopt;
  return song->title;
}

void Cartouchier::Refresh(int station) {
  station_ = station;
  for (int i = 0; i < size(); ++i) {
    const std::string& stored = settings_.values().cartridgeSongs[static_cast<size_t>(i)];
    Slot& s = slots_[static_cast<size_t>(i)];
    s = {};
    if (stored == kEmptyCartridge) continue;
    s.code = stored;
    const auto title = titleOf(stored);
    s.found = title.has_value();
    s.title = title.value_or("");
  }
}

int Cartouchier::SlotFor(int selected) const {
  if (selected >= 0 && selected < size()) return selected;
  for (int i = 0; i < size(); ++i)
    if (slot(i).empty()) return i;
  return -1;
}

bool Cartouchier::Charger(int slot, const std::string& code) {
  if (slot < 0) {
    lib_.prompt().message("Aucune cartouche libre: sélectionnez celle à remplacer.", Icon::Exclamation, Buttons::Ok,
                          "Ondavia: Sonoteka");
    return false;
  }
  if (slot >= size()) return false;
  const std::string trimmed = Trim(code);
  const auto title = trimmed.empty() || trimmed.size() > 8 ? std::nullopt : titleOf(trimmed);
  if (!title) {
    lib_.prompt().message("Morceau non trouvé: " + trimmed, Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
    return false;
  }
  slots_[static_cast<size_t>(slot)] = {trimmed, *title, true};
  return settings_.SetCartridgeSong(slot, trimmed);
}

bool Cartouchier::Ejecter(int slot) {
  if (slot < 0 || slot >= size()) return false;
  slots_[static_cast<size_t>(slot)] = {};
  return settings_.SetCartridgeSong(slot, kEmptyCartridge);
}

}  // namespace sono::data
