// `FrmSetup` without its widgets: the audio settings of the library settings
// file (nature and device of each playback slot and of the record slot, the
// pipes' play and record formats, levels, digital inputs and outputs with
// their clocks, the DJ Studio buffer, and the effect and recording settings
// that conversion and takes read), each checked as the window checks it.
//
// Decisions of this port:
//   - Every key has one entry in `AudioSetupKeys()` with its default and its
//     check; the window, `sonoteka-cli setup` and the audio code all go
//     through it, so a value one refuses is refused by all.
//   - A value the window refuses (not a number, out of range, a device not in
//     the lists, a format the slot's board does not play) is said in French
//     and the old value stays. A value found in the file that the window
//     would refuse reads as the key's default and is listed in `warnings()`;
//     the file keeps it until the user sets another.
//   - A stored device no longer on this machine (a card unplugged) is listed
//     in `warnings()` and read as "none" by the audio code (Lib_PCX_QZ takes
//     the slot's own pair, Lib_DirectX the virtual pair); the file keeps the
//     number, so the card is taken again once it is back.
//   - No nature stored means no nature (0). "ForcerCarte" holds a board
//     number of the engine, -1 for none. "Format_" is 0 "AES/EBU"
//     (professional) or 1 "S/PDIF" (consumer). "NoInput_" is a mono input
//     from 1 to 10, "NoBoard_" a board number.
//   - Levels are dB with at most one decimal, written as typed without
//     trailing zeros ("-12", "-6.5"); whole numbers are written as whole
//     numbers ("0100" is written "100").
//   - `Save` writes the changed keys in one atomic replacement of the file,
//     read again at that moment, so keys written meanwhile by the rest of the
//     program stay; nothing changed, nothing written.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "audio/pcx/pcx_slots.h"
#include "audio/setup/setup_devices.h"

namespace sono {
class IniDocument;
}

namespace sono::audio {

enum class SetupSide { Out, In };

enum class SetupKind {
  Nature,         // list position 0..2
  PcxDevice,      // -1 (none) or a position in the device list of the side
  DirectXDevice,  // a position in the device list of the side
  ForcedBoard,    // -1 (none) or a board number
  ClockBoard,     // a board number
  Formats,        // six "0"/"1" characters, one per format of kFormatNames
  Decibels,       // a number between low and high, one decimal at most
  Flag,           // "0" or "1"
  Integer,        // a whole number between low and high
};

struct SetupKey {
  std::string section, key, fallback;
  SetupKind kind = SetupKind::Integer;
  SetupSide side = SetupSide::Out;
  int slot = 0;
  double low = 0, high = 0;
};

inline constexpr int kRecordSlots = 1;
inline constexpr int kSetupFormats = 6;

// The lists of the window, in order.
inline constexpr std::array<const char*, 3> kNatureNames = {"Aucune", "DirectX", "PCX Tools"};
inline constexpr std::array<const char*, kSetupFormats> kFormatNames = {
    "MPEG Layer 1", "MPEG Layer 2", "MPEG Layer 3", "Linéaire  8 bits", "Linéaire 16 bits", "Linéaire 24 bits"};
inline constexpr std::array<const char*, 5> kDigitalInputSources = {
    "Data: entrée analogique", "Data/Clock: même entrée", "Data/Clock: 2 entrées différentes",
    "Data/Clock: connecteur de synchro", "Data: Audio over IP"};
inline constexpr std::array<const char*, 19> kClockNames = {
    "Digital",  "Digital Synchro", "Word Clock", "Cobranet Clock", "No Clock",  "8000 Hz",  "11025 Hz",
    "16000 Hz", "22050 Hz",        "24000 Hz",   "32000 Hz",       "44100 Hz",  "48000 Hz", "64000 Hz",
    "88200 Hz", "96000 Hz",        "176400 Hz",  "192000 Hz",      "Audio over IP"};
inline constexpr std::array<const char*, 2> kDigitalOutputFormats = {"AES/EBU", "S/PDIF"};

// Section names; nn is the slot in two digits.
inline constexpr const char* kGeneralOut = "General_Out";
inline constexpr const char* kGeneralIn = "General_In";
inline constexpr const char* kFormatsSection = "Formats";
inline constexpr const char* kDigitalOutSection = "DigitalOut";
inline constexpr const char* kDigitalInSection = "DigitalIn";
inline constexpr const char* kDirectXSection = "DirectX";
std::string NatureKey(int slot);                           // "Pipe_nn_Nature"
std::string DeviceSection(int nature, SetupSide side, int slot);  // "PCXTools_Player_nn"…
std::string LevelSection(SetupSide side, int slot);        // "LevelOut_nn", "LevelIn_nn"
std::string SlotKey(const char* name, int slot);           // "Active_nn", "Clock_nn"…

// Every key the window edits, in the window's order.
const std::vector<SetupKey>& AudioSetupKeys();
// The key, found without regard to case; null when the window has none.
const SetupKey* FindSetupKey(std::string_view section, std::string_view key);

class AudioSetup {
 public:
  // Reads every key from the library settings file (see the decisions above).
  void Load(const std::string& settingsFile, SetupDevices devices);
  // The same from a file's contents already read (no file to save to).
  void LoadDocument(const IniDocument& doc, SetupDevices devices);

  // The value as the window shows it (the default for a missing or bad one).
  const std::string& value(std::string_view section, std::string_view key) const;
  long long number(std::string_view section, std::string_view key) const;
  double decibels(std::string_view section, std::string_view key) const;

  // A value typed or chosen: empty when taken, else the French refusal (the
  // old value stays). Unknown keys are refused too.
  std::string Set(std::string_view section, std::string_view key, const std::string& value);
  bool modified() const;
  // Writes the changed keys (see above); false and `error` on failure, the
  // edits staying to be saved again.
  bool Save(std::string* error = nullptr);

  const SetupDevices& devices() const { return devices_; }
  const std::string& settingsFile() const { return file_; }
  // Stored values the window could not take (French, one line each).
  const std::vector<std::string>& warnings() const { return warnings_; }

  // --- typed reads for the audio code
  int nature(SetupSide side, int slot) const;
  // The slot's device for a nature (-1 none or vanished).
  int device(int nature, SetupSide side, int slot) const;
  std::array<bool, kSetupFormats> formats(SetupSide side) const;

 private:
  int indexOf(std::string_view section, std::string_view key) const;
  std::string check(const SetupKey& k, const std::string& typed, std::string& stored) const;
  bool deviceThere(const SetupKey& k, long long n) const;

  std::string file_;
  SetupDevices devices_;
  std::vector<std::string> values_;  // parallel to AudioSetupKeys()
  std::vector<bool> changed_;
  std::vector<std::string> warnings_;
};

// The settings the PCX layer reads at the next allocation and level change:
// formats, levels, digital input and output, natures and devices.
class PcxQz;
void ApplyAudioSetup(const AudioSetup& setup, PcxQz& qz);  // apply_setup.cpp

}  // namespace sono::audio
