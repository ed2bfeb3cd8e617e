#include "audio/pcx/pcx_texts.h"

#include <initializer_list>
#include <utility>

#include "audio/engine/engine.h"

namespace sono::audio {

namespace {

using FlagTexts = std::initializer_list<std::pair<int, const char*>>;

// Flags in the table are taken from the highest down; each flag present adds
// its text (possibly empty) and is removed.
std::string Flags(int flags, FlagTexts table) {
  std::string out;
  for (const auto& [flag, text] : table) {
    if ((flags & flag) == flag) {
      out += text;
      flags -= flag;
    }
  }
  return out;
}

}  // namespace

std::string LibBus(int bus) {
  switch (bus) {
    case 1: return "ISA";
    case 2: return "PCI";
    case 3: return "PCCard";
    case 4: return "Ethernet";
    case 5: return "USB";
    case 6: return "PCI Express";
    default: return "Unknow";
  }
}

std::string LibCarte(int type) {
  switch (type) {
    case 1: return "PCX9";
    case 4: return "PCX80";
    case 5: return "PCX11+";
    case 26: return "PCX822";
    case 30: return "LCM220";
    case 31: return "LCM440";
    case 33: return "LCM440 V2";
    case 34: return "LCM220 V2";
    case 35: return "LCM200 V2";
    case 36: return "LCM420 V2";
    case 41: return "PCX924";
    case 42: return "PCX22";
    case 250: return "PCX3";
    case 251: return "PCX5";
    case 252: return "PCX7";
    case kBoardTypeVirtual: return "VIRTUAL";
    case kBoardTypeAlsa: return "ALSA";
    default:
      if (type >= 200 && type <= 209) return "NCX" + std::to_string(type - 200);
      return "# " + std::to_string(type);
  }
}

std::string LibDSP(int flags) {
  return Flags(flags, {{2048, " Internal Files can be accessed/"},
                       {8, " Return Time-Code data/"},
                       {4, " Conversion/"},
                       {2, " Record/"},
                       {1, " Play/"}});
}

std::string LibPlayEffect(int flags) {
  return Flags(flags, {{256, " EQ Linear/"},
                       {128, " EQ/"},
                       {64, " Maximizer/"},
                       {32, " Sample rate PCM converter/"},
                       {16, " EQ MPEG/"},
                       {8, " Scrub/"},
                       {4, " Sample rate converter/"},
                       {2, " Pitch shifting/"},
                       {1, " Time stretching/"}});
}

std::string LibRecordEffect(int flags) {
  return Flags(flags, {{128, " EQ/"}, {64, " Maximizer/"}, {4, " Sample rate converter/"}});
}

std::string LibInputInfo(int flags) {
  return Flags(flags, {{1048576, ""},
                       {524288, ""},
                       {262144, " Audio over IP/"},
                       {131072, " Ethersound/"},
                       {65536, " Micro Mixed/"},
                       {4096, " Micro Compressor/"},
                       {1024, " CD Level/"},
                       {512, " Micro Level/"},
                       {256, " Line In Level/"},
                       {64, " Cobranet/"},
                       {32, " CD Analog Input/"},
                       {16, " Level/"},
                       {8, " Analog Micro/"},
                       {4, " Digital/"},
                       {2, " Digital Synchro/"},
                       {1, " Analog/"}});
}

std::string LibOutputInfo(int flags) {
  return Flags(flags, {{262144, " Audio Over IP/"},
                       {64, " Cobranet/"},
                       {16, " Audio Level/"},
                       {2, " Digital/"},
                       {1, " Analog/"}});
}

std::string LibPlayRecordFormat(int flags) {
  return Flags(flags, {{65536, " PCM multichannel/"},
                       {16384, " WMA/"},
                       {8192, " ACC/"},
                       {4096, " GSM/"},
                       {2048, " MPEG L3/"},
                       {1024, " CELP/"},
                       {512, " PCM 24 bits/"},
                       {256, " PCM 16 bits/"},
                       {128, " PCM 8 bits/"},
                       {64, " MPEG L2/"},
                       {32, " MPEG L1/"}});
}

std::string ClockName(int type, int frequency) {
  switch (type) {
    case kClockDigital: return "CLOCK_DIGITAL";
    case kClockDigitalSynchro: return "CLOCK_DIGITAL_SYNCHRO";
    case kClockWordClock: return "CLOCK_WORD_CLOCK";
    case kClockCobranet: return "CLOCK_COBRANET_CLOCK";
    case kClockAudioOverIp: return "CLOCK_IP_CLOCK";
    case kClockNone: return "CLOCK_NO";
    default: return std::to_string(frequency) + " Hz";
  }
}

}  // namespace sono::audio
