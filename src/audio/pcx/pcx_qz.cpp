#include "audio/pcx/pcx_qz.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "audio/engine/error_codes.h"
#include "audio/pcx/pcx_texts.h"
#include "audio/setup/audio_setup.h"
#include "core/ini.h"

namespace sono::audio {

namespace {

constexpr int kRetryCodes[] = {-15605, -15586, -15488, -29437, -28662, -15615};
constexpr int kFlagsOut[6] = {32, 64, 2048, 128, 256, 512};

// A level as the log writes it: no trailing zeros ("-24", "-3.5").
std::string Num(double v) {
  std::string s = fmt::format("{:.2f}", v);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string Bool(bool v) { return v ? "True" : "False"; }

}  // namespace

int FormatFlagsOut(const std::array<bool, 6>& selected) {
  int flags = 0;
  for (int i = 0; i < 6; ++i)
    if (selected[i]) flags += kFlagsOut[i];
  return flags == 0 ? 64 : flags;
}

int FormatFlagsIn(const std::array<bool, 6>& selected) {
  // "MPEG Layer 3" is added only after the default, so alone it gives 2112.
  int flags = 0;
  for (int i : {0, 1, 3, 4, 5})
    if (selected[i]) flags += kFlagsOut[i];
  if (flags == 0) flags = 64;
  if (selected[2]) flags += 2048;
  return flags;
}

PcxQz::PcxQz(TraceLogger& log, Prompt& prompt, Clock& clock, std::string settingsFile,
             BoardTools* tools)
    : log_(log), prompt_(prompt), clock_(clock), settingsFile_(std::move(settingsFile)),
      tools_(tools) {}

void PcxQz::logLine(const std::string& text, int slot, int stream) {
  TraceOptions o;
  o.caller = "Lib_PCX_QZ";
  log_.TraceLog(-1, slot, stream, text, o);
}

void PcxQz::logBox(const std::string& text, int slot) {
  log_.TraceLogEncadre(-1, slot, -1, text, '=');
}

bool PcxQz::InitTools(uintptr_t window, const std::string& exeName) {
  // Without the tools every pipe and stream function stays inert.
  if (!tools_) {
    toolsAvailable = false;
    return false;
  }
  std::string upper = exeName;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  uint32_t app = tools_->TOOLRegister(window, upper, 0, 0);
  if (app == 0) {
    tools_->TOOLUnregister();
    app = tools_->TOOLRegister(window, upper, 0, 0);
  }
  if (app == 0) {
    lastErrorCode = tools_->TOOLGetLastError(0, -1);
    toolsAvailable = false;
    return false;
  }
  toolsAvailable = true;
  logBox("PCXTools Software configuration");
  PCXSoftwareConfig();
  logBox("PCXTools Hardware configuration");
  PCXHardwareConfig();
  logLine("===============================");
  return true;
}

void PcxQz::PCXSoftwareConfig() {
  if (!toolsAvailable) return;
  int kind = 0;
  if (!tools_->TOOLGetVersions(driverVersion, kind, toolsVersion)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLGetVersions", "Lib_PCX_QZ:PCXSoftwareConfig");
    return;
  }
  const char* kinds[] = {" |Alpha version", " |Beta version", " |Official version"};
  const std::string kindText =
      kind >= 0 && kind <= 2 ? kinds[kind] : " |Unknow version: " + std::to_string(kind);
  TraceOptions o;
  o.caller = "Config_Computer";
  log_.TraceLog(-1, -1, -1, "PCX Driver Version: " + fmt::format("{:.2f}", driverVersion) + kindText, o);
  log_.TraceLog(-1, -1, -1, "PCX Tools  Version: " + fmt::format("{:.2f}", toolsVersion), o);
}

void PcxQz::describeChannel(bool input, int mono) {
  TraceOptions o;
  o.caller = "Config_Computer";
  auto line = [&](const std::string& text) { log_.TraceLog(-1, -1, -1, text, o); };
  const std::string side = input ? "Input" : "Output";
  ToolsChannelInfo info;
  const bool known = input ? tools_->TOOLGetInputInfosEx(mono, info)
                           : tools_->TOOLGetOutputInfosEx(mono, info);
  PcxChannelEntry entry;
  if (input) {
    int monitor = 0;
    tools_->TOOLGetMonitor(mono, monitor);
    line("Input       : Monitor         : " + std::to_string(monitor));
  }
  ToolsLevelFeatures lf;
  const std::string lvl = input ? "Input  level: " : "Output level: ";
  if (tools_->TOOLGetLevelFeatures(input ? 1 : 0, mono, lf)) {
    line(lvl + "MaxLevel        : " + Num(lf.maxLevel));
    line(lvl + "OffsetGain      : " + Num(lf.offsetGain));
    line(lvl + "VariableGain    : " + Num(lf.variableGain));
    line(lvl + "VariableGainStep: " + Num(lf.variableGainStep));
    entry.maxLevel = lf.maxLevel;
    entry.offsetGain = lf.offsetGain;
  } else {
    line(input ? "Warning: TOOLGetLevelFeatures: In" : "Warning: TOOLGetLevelFeatures: Out");
  }
  if (known) {
    line(input ? "Input Info  :                 : " + LibInputInfo(info.infoFlags)
               : "Output Info :                 : " + LibOutputInfo(info.infoFlags));
    ToolsBoardInfo b;
    tools_->TOOLGetBoardInfosEx(info.board, b);
    const std::string bp = input ? "Input Board : " : "Output Board: ";
    line(bp + "Board Type      : " + LibCarte(b.type));
    line(bp + "Bus type        : " + LibBus(b.bus));
    line(bp + "Input First/Nb  : " + std::to_string(b.firstInput) + "/" + std::to_string(b.inputs));
    line(bp + "Output First/Nb : " + std::to_string(b.firstOutput) + "/" + std::to_string(b.outputs));
    entry.boardType = b.type;
    entry.board = info.board;
    entry.model = b.model;
  }
  ToolsClockCaps caps;
  const std::string cp = input ? "Input Clock : " : "Output Clock: ";
  const bool clocks = input ? tools_->TOOLGetInputInfoClockCapabilities(mono, caps)
                            : tools_->TOOLGetOutputInfoClockCapabilities(mono, caps);
  if (clocks) {
    line(cp + "IP              : " + Bool(caps.ip));
    line(cp + "Internal        : " + Bool(caps.internal));
    line(cp + "Digital         : " + Bool(caps.digital));
    line(cp + "DigitalSynchro  : " + Bool(caps.digitalSynchro));
    line(cp + "WordClock       : " + Bool(caps.wordClock));
  } else {
    line(std::string("Warning: ") +
         (input ? "TOOLGetInputInfoClockCapabilities: In" : "TOOLGetOutputInfoClockCapabilities: Out") +
         " |CLOCK_DIGITAL");
  }
  if (known) {
    ToolsBoardFeatures f;
    if (tools_->TOOLGetBoardFeaturesInfo(info.board, f)) {
      const std::string fp = input ? "In Feature  : " : "Out Feature : ";
      line(fp + "Card PlayFormat : " + LibPlayRecordFormat(f.cardPlayFormat));
      line(fp + "Host PlayFormat : " + LibPlayRecordFormat(f.hostPlayFormat));
      line(fp + "Card RecFormat  : " + LibPlayRecordFormat(f.cardRecFormat));
      line(fp + "Host RecFormat  : " + LibPlayRecordFormat(f.hostRecFormat));
      line(fp + "Play Effect     : " + LibPlayEffect(f.playEffect));
      line(fp + "Record Effect   : " + LibRecordEffect(f.recordEffect));
      line(fp + "DSP Feature     : " + LibDSP(f.dsp));
    }
    bool present = false;
    tools_->TOOLGetBoardExternalClock(info.board, present);
    line((input ? "In ExtClock : Digital present : " : "Out ExtClock: Digital present : ") +
         Bool(present));
    if (input && tools_->TOOLGetDigitalInputExternalClock(mono, present))
      line("DigitInClck: Digital present  : " + Bool(present));
  }
  auto& table = input ? inputs : outputs;
  if (static_cast<int>(table.size()) < kMaxMonoChannels) table.push_back(entry);
}

void PcxQz::PCXHardwareConfig() {
  if (!toolsAvailable) return;
  TraceOptions o;
  o.caller = "Config_Computer";
  inputCount = tools_->TOOLHowManyInputs();
  outputCount = tools_->TOOLHowManyOutputs();
  log_.TraceLog(-1, -1, -1, "Mono Input  : " + std::to_string(inputCount), o);
  log_.TraceLog(-1, -1, -1, "Mono Output : " + std::to_string(outputCount), o);
  // A machine without a sound card still has the virtual board; said once here.
  if (!tools_->engine().alsaCardsFound())
    log_.TraceLog(-1, -1, -1, "ALSA: no sound card found |Virtual board only", o);
  inputs.clear();
  outputs.clear();
  for (int i = 1; i <= inputCount; ++i) describeChannel(true, i);
  for (int i = 1; i <= outputCount; ++i) describeChannel(false, i);
}

std::vector<PcxDevice> PcxQz::listDevices(bool outs) {
  std::vector<PcxDevice> list;
  if (!toolsAvailable) return list;
  const int boards = tools_->TOOLHowManyBoards();
  for (int b = 0; b < boards; ++b) {
    ToolsBoardInfo info;
    if (!tools_->TOOLGetBoardInfosEx(b, info)) continue;
    const int first = outs ? info.firstOutput : info.firstInput;
    const int count = outs ? info.outputs : info.inputs;
    for (int m = first; m + 1 < first + count; m += 2)
      list.push_back({info.model + " (" + std::to_string(m) + "/" + std::to_string(m + 1) + ")", m});
  }
  return list;
}

// The slot's device as the set-up holds it (-1: none, or a board gone).
int PcxQz::StoredDevice(SetupSide side, int slot) const {
  SetupDevices lists;
  for (const PcxDevice& d : side == SetupSide::Out ? deviceListOut[slot] : deviceListIn)
    (side == SetupSide::Out ? lists.outputs : lists.inputs).push_back({d.name, 0, d.firstMono, 0});
  AudioSetup stored;
  stored.Load(settingsFile_, std::move(lists));
  return stored.device(kNaturePcxTools, side, slot);
}

void PcxQz::ReadSetup(const SetupDevices& devices) {
  AudioSetup stored;
  stored.Load(settingsFile_, devices);
  ApplyAudioSetup(stored, *this);
}

void PcxQz::InitPCXToolsOut(int slot) {
  if (slot < 0 || slot >= kPlaybackSlots) return;
  deviceListOut[slot] = listDevices(true);
  deviceOut[slot] = StoredDevice(SetupSide::Out, slot);
  natureOut[slot] = kNaturePcxTools;
  if (deviceListOut[slot].empty()) {
    prompt_.message("Aucune carte PCX trouvée |Out.", Icon::Critical, Buttons::Ok, setup.caption);
    deviceOut[slot] = -1;
    return;
  }
  if (deviceOut[slot] < 0 || deviceOut[slot] >= static_cast<int>(deviceListOut[slot].size()))
    deviceOut[slot] = -1;
}

void PcxQz::InitPCXToolsIn(int slot) {
  deviceListIn = listDevices(false);
  deviceIn = StoredDevice(SetupSide::In, slot);
  natureIn = kNaturePcxTools;
  if (deviceIn < 0 || deviceIn >= static_cast<int>(deviceListIn.size())) deviceIn = -1;
}

bool PcxQz::allocate(int dir, int slot, int& maxStreams, int formats, int channels, bool retry,
                     bool showMessage) {
  PcxPipeRecord& pipe = dir == 0 ? pipesOut[slot] : pipeIn;
  const std::string side = dir == 0 ? "Out" : "In";
  pipe.format = formats;
  pipe.hostFormat = 0;
  pipe.maxBitRate = 0;
  pipe.handle = 0;
  logBox("PCXTools Allocate Pipe " + side, slot);
  int first = dir == 0 ? Pipe2MonoChannel(slot) : 1;
  if (dir == 0 && deviceOut[slot] >= 0) first = deviceListOut[slot][deviceOut[slot]].firstMono;
  if (dir == 1 && deviceIn >= 0) first = deviceListIn[deviceIn].firstMono;
  const int asked = maxStreams;
  std::array<uint32_t, kMaxStreams> handles{};
  while (true) {
    int streams = asked;
    lastResult = static_cast<int32_t>(tools_->TOOLAllocatePipeEx(
        2, streams, channels, dir, formats, 0, first, 0, 0, pipe.handle, &handles));
    if (lastResult != 0) {
      maxStreams = streams;
      break;
    }
    const int code = tools_->TOOLGetLastError(0, -1);
    const bool retryable = std::find(std::begin(kRetryCodes), std::end(kRetryCodes), code) !=
                           std::end(kRetryCodes);
    if (retry && retryable && --channels >= 1) continue;
    pipe.allocated = false;
    GestionErreurPCXTools(showMessage, "TOOLAllocatePipeEx |" + side,
                          "Lib_PCX_QZ:AllocatePipe" + side);
    logLine(std::string("Err: Pipe ") + (dir == 0 ? "OUT" : "IN") + ": NoCanal: " +
                std::to_string(channels) + " MaxStream: " + std::to_string(asked) +
                " Format: " + std::to_string(formats) + " MaxBitRate: 0 HostFormat: 0",
            slot);
    return false;
  }
  pipe.allocated = true;
  pipe.channels = channels;
  pipe.maxStreams = maxStreams;
  for (int s = 0; s < kMaxStreams; ++s) pipe.streams[s] = PcxStreamState{handles[s]};
  logLine("NoCanal    : " + std::to_string(channels), slot);
  logLine("PipeHandle : " + std::to_string(pipe.handle), slot);
  logLine("NbMaxStream: " + std::to_string(maxStreams), slot);
  logLine("MaxBitRate : 0", slot);
  logLine("Format     : " + LibPlayRecordFormat(formats), slot);
  logLine("Host Format: " + LibPlayRecordFormat(0), slot);
  return true;
}

bool PcxQz::AllocatePipeOut(int slot, int& maxStreams) {
  if (!toolsAvailable || slot < 0 || slot >= kPlaybackSlots) return false;
  return allocate(0, slot, maxStreams, FormatFlagsOut(setup.out[slot].formats), 8, true,
                  slot == setup.shownSlotOut);
}

bool PcxQz::AllocatePipeIn(int slot, int& maxStreams) {
  if (!toolsAvailable || slot != 0) return false;
  return allocate(1, slot, maxStreams, FormatFlagsIn(setup.in.formats), 4, false, true);
}

bool PcxQz::ReleasePipeOut(int slot) {
  if (!toolsAvailable || !pipesOut[slot].allocated) return false;
  logLine("TOOLReleasePipe |OUT", slot);
  tools_->TOOLPipeStop(pipesOut[slot].handle, 0);
  if (!tools_->TOOLReleasePipe(pipesOut[slot].handle, 0)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLReleasePipe |OUT", "Lib_PCX_QZ:ReleasePipeOut");
    return false;
  }
  pipesOut[slot] = PcxPipeRecord{};
  clockOut[slot] = -1;
  return true;
}

bool PcxQz::ReleasePipeIn() {
  if (!toolsAvailable || !pipeIn.allocated) return false;
  logLine("TOOLReleasePipe |IN");
  tools_->TOOLPipeStop(pipeIn.handle, 1);
  if (!tools_->TOOLReleasePipe(pipeIn.handle, 1)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLReleasePipe |IN", "Lib_PCX_QZ:ReleasePipeIn");
    return false;
  }
  pipeIn = PcxPipeRecord{};
  return true;
}

int PcxQz::DigitalClock(int position) {
  static constexpr int kFrequencies[] = {8000,  11025, 16000, 22050, 24000,  32000, 44100,
                                         48000, 64000, 88200, 96000, 176400, 192000};
  switch (position) {
    case 0: return 0;
    case 1: return 5;
    case 2: return 6;
    case 3: return 7;
    case 4: return 4;
    case 18: return 10;
    default:
      if (position >= 5 && position <= 17) return kFrequencies[position - 5];
      return 4;
  }
}

bool PcxQz::PipeOutSetClockFromSetup(int slot) {
  const PcxSlotSetup& s = setup.out[slot];
  const int value = DigitalClock(s.clockPosition);
  // Values from 8000 up are frequencies of the board's own clock.
  return value >= 8000 ? PipeOutSetClock(slot, kClockInternal, value, s.clockBoard, s.clockInput)
                       : PipeOutSetClock(slot, value, 0, s.clockBoard, s.clockInput);
}

bool PcxQz::PipeOutSetClock(int slot, int clockType, int frequency, int board, int input) {
  if (!toolsAvailable || slot < 0 || slot >= kPlaybackSlots || !pipesOut[slot].allocated)
    return false;
  if (clockOut[slot] == clockType &&
      (clockType != kClockInternal || clockFrequencyOut[slot] == frequency))
    return true;
  const uint32_t pipe = pipesOut[slot].handle;
  const std::string name = ClockName(clockType, frequency);
  if (!tools_->TOOLPipeSetClockEx(pipe, 0, clockType, frequency, board)) {
    if (clockType == kClockNone) {
      bool show = false;
      GestionErreurPCXTools(show, "TOOLPipeSetClockEx |Out", "Lib_PCX_QZ:PipeOutSetClock");
      return false;
    }
    logLine("TOOLPipeSetClockEx |Out| fail to set to " + name + ". Change to CLOCK_NO", slot);
    return PipeOutSetClock(slot, kClockNone, 0, board, input);
  }
  clockOut[slot] = clockType;
  clockFrequencyOut[slot] = frequency;
  logLine("TOOLPipeSetClockEx |Out| set to " + name + ". NoBoard: " + std::to_string(board) +
              " NoUERInput: " + std::to_string(input),
          slot);
  int type = 0, freq = 0;
  bool present = false;
  if (tools_->TOOLPipeGetClock(pipe, 0, type, present, freq)) {
    std::string kind = "ClockType: Not defined";
    if (type == kClockInternal || type == kClockNone) kind = "ClockType: Analog";
    if (type == kClockDigital || type == kClockDigitalSynchro || type == kClockWordClock ||
        type == kClockCobranet)
      kind = "ClockType: Digital";
    if (type == kClockAudioOverIp) kind = "ClockType: Audio over IP";
    logLine("TOOLPipeGetClock: " + kind + (present ? " / Clock present" : " / Clock not present") +
                (freq > 0 ? " / Freqency: " + std::to_string(freq) : " / Freqency: Unknow"),
            slot);
  }
  return true;
}

bool PcxQz::PipeDefineDigitalOutput(int slot, int mode) {
  if (!toolsAvailable || !pipesOut[slot].allocated) return false;
  if (!tools_->TOOLPipeDefineDigitalOutput(pipesOut[slot].handle, mode)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLPipeDefineDigitalOutput", "Lib_PCX_QZ:PipeDefineDigitalOutput");
    return false;
  }
  pipesOut[slot].digitalOutputDefined = true;
  return true;
}

bool PcxQz::PipeMonitoringMute(int slot, bool on) {
  if (!toolsAvailable || !pipesOut[slot].allocated) return false;
  if (!tools_->TOOLPipeSetMonitoringMute(pipesOut[slot].handle, on ? -1 : 0)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLPipeSetMonitoringMute", "Lib_PCX_QZ:PipeMonitoringMute");
    return false;
  }
  return true;
}

double PcxQz::Correction(int boardType) {
  if (boardType == 1 || boardType == 4) return 2.0;
  if (boardType == 5) return 17.0;
  return 0.0;
}

int PcxQz::BoardTypeOfSlot(int slot) const {
  int mono = Pipe2MonoChannel(slot);
  if (slot >= 0 && slot < kPlaybackSlots && deviceOut[slot] >= 0 &&
      deviceOut[slot] < static_cast<int>(deviceListOut[slot].size()))
    mono = deviceListOut[slot][deviceOut[slot]].firstMono;
  return mono >= 1 && mono <= static_cast<int>(outputs.size()) ? outputs[mono - 1].boardType : 0;
}

bool PcxQz::PCXToolsPipeSetLevelOut(int slot, int kind) {
  if (!toolsAvailable || slot < 0 || slot >= kPlaybackSlots || pipesOut[slot].handle == 0)
    return false;
  const PcxSlotSetup& s = setup.out[slot];
  const bool digital = kind == 1;
  const double high = digital ? 18.0 : 0.0;
  const double corr = Correction(BoardTypeOfSlot(slot));
  const double left = std::clamp(digital ? s.digitalLeft : s.analogLeft, -220.0, high) - corr;
  const double right = std::clamp(digital ? s.digitalRight : s.analogRight, -220.0, high) - corr;
  if (!tools_->TOOLPipeSetLevel(pipesOut[slot].handle, 0, digital ? 1 : 0, left, right)) {
    bool show = false;
    GestionErreurPCXTools(show, digital ? "TOOLPipeSetLevel |Out| DIGITAL" : "TOOLPipeSetLevel |Out| ANALOG",
                          "Lib_PCX_QZ:PCXToolsPipeSetLevelOut");
    return false;
  }
  logLine(std::string(digital ? "Digital Level |Out| set to " : "Analog  Level |Out| set to ") +
              Num(left) + " / " + Num(right),
          slot);
  return true;
}

bool PcxQz::PCXToolsPipeSetLevelIn(int, int kind) {
  if (!toolsAvailable || pipeIn.handle == 0) return false;
  const PcxSlotSetup& s = setup.in;
  const bool digital = kind == 1;
  const double high = digital ? 18.0 : 0.0;
  const double left = std::clamp(digital ? s.digitalLeft : s.analogLeft, -220.0, high);
  const double right = std::clamp(digital ? s.digitalRight : s.analogRight, -220.0, high);
  if (!tools_->TOOLPipeSetLevel(pipeIn.handle, 1, digital ? 1 : 0, left, right)) {
    bool show = false;
    GestionErreurPCXTools(show, digital ? "TOOLPipeSetLevel |In| DIGITAL" : "TOOLPipeSetLevel |In| ANALOG",
                          "Lib_PCX_QZ:PCXToolsPipeSetLevelIn");
    return false;
  }
  double l = left, r = right;
  tools_->TOOLPipeGetLevel(pipeIn.handle, 1, digital ? 1 : 0, l, r);
  logLine(std::string(digital ? "Digital Level |In| set to " : "Analog  Level |In| set to ") +
          Num(l) + " / " + Num(r));
  return true;
}

bool PcxQz::PCXToolsInPipeStart() {
  if (!toolsAvailable || !pipeIn.allocated) return false;
  if (!tools_->TOOLPipeStart(pipeIn.handle, 1)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLPipeStart |In", "Lib_PCX_QZ:PCXToolsInPipeStart");
    return false;
  }
  return true;
}

bool PcxQz::PCXToolsInStopPipe() {
  if (!toolsAvailable || !pipeIn.allocated) return false;
  if (!tools_->TOOLPipeStop(pipeIn.handle, 1)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLPipeStop |In", "Lib_PCX_QZ:PCXToolsInStopPipe");
    return false;
  }
  return true;
}

int PcxQz::StreamGetStatus(int slot, int stream, int dir, const std::string& procedure) {
  if (!toolsAvailable) return -1;
  const PcxPipeRecord& pipe = dir == 0 ? pipesOut[slot] : pipeIn;
  int status = 0;
  if (!tools_->TOOLStreamGetStatus(pipe.handle, dir, pipe.streams[stream].handle, status)) {
    bool show = false;
    GestionErreurPCXTools(show, "TOOLStreamGetStatus |Out", procedure);
    return -1;
  }
  if (status == kStreamStatusUnderrun) logLine("Err: STREAM_UNDERRUN |Sub: " + procedure, slot, stream);
  return status;
}

bool PcxQz::CheckPipeLevel(int slot, double& left, double& right) {
  if (!toolsAvailable || !pipesOut[slot].allocated) return false;
  double values[2] = {0, 0};
  for (int ch = 0; ch < 2; ++ch) {
    double peak = 0, rms = 0;
    bool saturated = false;
    int linear = 0;
    if (!tools_->TOOLPipeGetVuMeter(pipesOut[slot].handle, ch, peak, rms, saturated, linear)) {
      bool show = false;
      GestionErreurPCXTools(show, "TOOLPipeGetVuMeter", "Lib_PCX_QZ:CheckPipeLevel");
      return false;
    }
    values[ch] = peak;
  }
  int mono = Pipe2MonoChannel(slot);
  if (deviceOut[slot] >= 0) mono = deviceListOut[slot][deviceOut[slot]].firstMono;
  const double offset = mono >= 1 && mono <= static_cast<int>(outputs.size())
                            ? outputs[mono - 1].offsetGain : 0.0;
  left = values[0] + offset + setup.out[slot].analogLeft;
  right = values[1] + offset + setup.out[slot].analogRight;
  return true;
}

std::string PcxQz::GestionErreurPCXToolsInfoParametres(int code, const std::string&) {
  switch (code) {
    case err::kBadPipe: return "Invalid Handle Pipe";
    case err::kBadStream: return "Invalid Handle Stream";
    case err::kBadFileName: return "Invalid File Name";
    case err::kBadStart: return "Invalid Start Position";
    case err::kBadEnd: return "Invalid End Position";
    case err::kBadTimeUnit: return "Invalid Time Unit";
    case err::kBadLevel: return "Invalid File Level";
    case err::kBadFadeIn: return "Invalid FadeIn Duration";
    case err::kBadFadeOut: return "Invalid FadeOut Duration";
    default: return {};
  }
}

static const char* BoardErrorLine(int code) {
  switch (code) {
    case -15613: return "Err: Board errors: Impossible to allocate more differed commands";
    case -15612: return "Err: Board errors: Impossible to store more differed commands";
    case -15107: return "Err: Board errors: The command cannot be differed";
    case -15103: return "Err: Board errors: Protocol error during communication between driver and DSP";
    case -14847: return "Err: Board errors: Performance problem: play buffers are not sent fast enough";
    case -14845: return "Err: Board errors: An invalid frame has been detected";
    case -14832: return "Err: Board errors: Performance problem: the DSP cannot process all the data it receives";
    case -23037: return "Err: Board errors: Performance problem: record buffers are not sent fast enough";
    case -28671: return "Err: Driver API errors: The driver is not loaded";
    case -28668: return "Err: Driver API errors: Driver API internal error";
    case -27903: return "Err: Driver API errors: The driver doesn't have enough memory";
    case -27645: return "Err: Driver API errors: There is no DSP able to perform all the requested functions / Or the DSP is already used";
    case -27386: return "Err: Driver API errors: Zero or too many streams are requested during pipe allocation";
    case -27380: return "Err: Bad effect parameter";
    case -24574: return "Err: DSP / Driver errors: The DSP has crashed";
    case -24572: return "Err: DSP / Driver errors: Driver is not correctly installed";
    case -24571:
    case -24570: return "Err: DSP / Driver errors: Driver installation problem";
    case -24569: return "Err: DSP / Driver errors: The version of DSP program is different than the driver version";
    case -24560: return "Err: DSP / Driver errors: The inter-card synchro cable is not connected / Or the synchro load jumpers (or dip switches) are not correctly set";
    case -24058: return "Err: DSP / Driver errors: The code of the DSP program to download is not valid";
    case -24056: return "Err: DSP / Driver errors: The number of the DSP to download is not valid";
    case -23807: return "Err: DSP / Driver errors: It is not possible to register more applications";
    case -23805: return "Err: DSP / Driver errors: Buffers allocation failed";
    case -23804: return "Err: DSP / Driver errors: There is no available audio input or output";
    case -23803: return "Err: DSP / Driver errors: The downloading has failed";
    case -23551: return "Err: DSP / Driver errors: The DSP is not downloaded, so its use is impossible";
    case -23550: return "Err: DSP / Driver errors: The DSP is still used by an application and cannot be released";
    case -23543: return "Err: DSP / Driver errors: Incompatible settings with other pipes of the card";
    case -23538: return "Err: DSP / Driver errors: Level managed by Digigram Hardware Settings";
    case -23290: return "Err: DSP / Driver errors: Sound data format is not supported";
    case -23288: return "Err: DSP / Driver errors: Other pipes use a non-compatible sampling frequency";
    case -23285: return "Err: DSP / Driver errors: Sampling clock value is not valid";
    case -23039:
    case -23038: return "Err: DSP / Driver errors: Protocol error during communication between driver and DSP";
    case -23036: return "Err: DSP / Driver errors: The DSP is overloaded, but it works / Or check synchro jumpers or dip switches on the PCX board";
    case 9218: return "Err: DSP / Driver errors: Warning: The hardware doesn't support the requested functionality (Example: analog levels are adjusted on a card which supports digital level adjustment only)";
    default: return nullptr;
  }
}

void PcxQz::GestionErreurPCXTools(bool& showMessage, const std::string& function,
                                  const std::string& procedure) {
  if (log_.closing() || !tools_) return;
  const int code = tools_->TOOLGetLastError(0, -1);
  lastErrorCode = code;
  if (code == 0) return;
  if (code == err::kFileTooSmall) showMessage = false;
  logBox("Err: PCXTools Error |" + function + " |Sub: " + procedure);
  if (const char* line = BoardErrorLine(code)) {
    logLine(line);
    if (code == -24560) {
      logLine("    Only one board of the machine may have its synchro load jumpers set");
      logLine("    Check the synchro cable between the boards");
    }
  }
  if (code == -23538 || code == -27380) return;
  std::string text, source;
  tools_->TOOLGetErrorString(code, 512, text, source);
  std::string line = "Err: " + std::to_string(code) + " |" + text + " |Sub: " + procedure;
  if (function.rfind("TOOLAllocatePipeEx", 0) == 0) line += " |PCX Card in use by another application ?";
  const std::string param = GestionErreurPCXToolsInfoParametres(code, function);
  if (!param.empty()) line += " |" + param;
  logLine(line);
  logLine("Source:" + source);
  logLine(fmt::format("Drivers: {:.2f} PCXTools: {:.2f}", driverVersion, toolsVersion));
}

void PcxQz::CloseSoundRessource() {
  if (!toolsAvailable) return;
  for (int slot = 0; slot < kPlaybackSlots; ++slot)
    if (pipesOut[slot].allocated) ReleasePipeOut(slot);
  if (pipeIn.allocated) ReleasePipeIn();
  tools_->TOOLUnregister();
  toolsAvailable = false;
}

}  // namespace sono::audio
