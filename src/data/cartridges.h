// The cart panel's model ("Cartouchier"): whether the panel is shown and the
// song of each slot, with its title from the station's song file. Both are
// program settings ([Cartouchier] "Actif" and "SongId_N", "*" for an empty
// slot), read at start-up and written as soon as they change. The slots only
// hold songs for now: playing them (Play, Pause, Stop, the cart timers) is
// not built yet.
#pragma once
#include <array>
#include <optional>
#include <string>

#include "core/program_settings.h"
#include "data/library.h"

namespace sono::data {

class Cartouchier {
 public:
  struct Slot {
    std::string code;   // UTF-8, trimmed; empty for an empty slot
    std::string title;  // UTF-8
    bool found = false; // the song is in the station's song file
    bool empty() const { return code.empty(); }
  };
  Cartouchier(Library& lib, ProgramSettings& settings) : lib_(lib), settings_(settings) {}

  // The slots as the settings hold them, with their titles on `station`.
  void Refresh(int station);
  bool active() const { return settings_.values().cartridgeActive; }
  bool SetActive(bool on) { return settings_.SetFlag(SettingId::CartridgeActive, on); }
  // The slot a song goes to: the selected one (from 0), else the first empty
  // one; -1 when none is selected and all are taken.
  int SlotFor(int selected) const;
  // Puts the song into the slot. A code not in the station's song file is
  // refused with "Morceau non trouvé", a slot of -1 with "Aucune cartouche
  // libre"; false also when the setting could not be written (the slot holds
  // the song for this session).
  bool Charger(int slot, const std::string& code);
  bool Ejecter(int slot);
  const Slot& slot(int i) const { return slots_.at(static_cast<size_t>(i)); }
  static constexpr int size() { return kCartridgeSlots; }

 private:
  std::optional<std::string> titleOf(const std::string& code) const;
  Library& lib_;
  ProgramSettings& settings_;
  int station_ = 1;
  std::array<Slot, kCartridgeSlots> slots_{};
};

}  // namespace sono::data
