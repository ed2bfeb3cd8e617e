// The set-up's values handed to Lib_PCX_QZ (kept apart from the set-up's model
// so that the recorder can read the model without the boards).
#include "audio/pcx/pcx_qz.h"
#include "audio/setup/audio_setup.h"

namespace sono::audio {

void ApplyAudioSetup(const AudioSetup& s, PcxQz& qz) {
  const auto slotSetup = [&](SetupSide side, int slot, PcxSlotSetup& p) {
    const bool out = side == SetupSide::Out;
    const std::string level = LevelSection(side, slot);
    p.formats = s.formats(side);
    p.digitalLeft = p.digitalRight = s.decibels(level, "Digital");
    p.analogLeft = p.analogRight = s.decibels(level, "Analog");
    const char* digital = out ? kDigitalOutSection : kDigitalInSection;
    p.digitalActive = s.number(digital, SlotKey("Active_", slot)) == 1;
    p.digitalFormat = static_cast<int>(s.number(digital, SlotKey(out ? "Format_" : "Value_", slot)));
    p.clockPosition = static_cast<int>(s.number(digital, SlotKey("Clock_", slot)));
    p.clockBoard = static_cast<int>(s.number(digital, SlotKey("NoBoard_", slot)));
    p.clockInput = static_cast<int>(s.number(digital, SlotKey("NoInput_", slot)));
  };
  for (int slot = 0; slot < kPlaybackSlots; ++slot) {
    slotSetup(SetupSide::Out, slot, qz.setup.out[static_cast<size_t>(slot)]);
    qz.natureOut[static_cast<size_t>(slot)] = s.nature(SetupSide::Out, slot);
  }
  slotSetup(SetupSide::In, 0, qz.setup.in);
  qz.natureIn = s.nature(SetupSide::In, 0);
}

}  // namespace sono::audio
