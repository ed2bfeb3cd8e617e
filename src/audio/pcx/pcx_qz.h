// Lib_PCX_QZ: brings the boards into use through the board tools. Registers
// the tools, describes the boards in the trace log, allocates the playback
// ("Out") and record ("In") pipes with their streams, sets levels and clocks,
// and turns every tools failure into trace-log lines.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/boardtools/board_tools.h"
#include "audio/pcx/pcx_slots.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::audio {

enum class SetupSide;  // audio/setup/audio_setup.h
struct SetupDevices;

// The audio settings of a slot as the set-up window holds them.
struct PcxSlotSetup {
  // "MPEG Layer 1", "MPEG Layer 2", "MPEG Layer 3", "Linéaire  8 bits",
  // "Linéaire 16 bits", "Linéaire 24 bits" selected.
  std::array<bool, 6> formats{false, true, false, false, false, false};
  double digitalLeft = 0, digitalRight = 0;
  double analogLeft = -24, analogRight = -24;
  bool digitalActive = false;
  int digitalFormat = 0;
  int clockPosition = 4;  // "No Clock"
  int clockBoard = 0;
  int clockInput = 1;
};

struct PcxSetup {
  std::array<PcxSlotSetup, kPlaybackSlots> out{};
  PcxSlotSetup in{};
  int shownSlotOut = 0;           // the slot shown in the set-up window
  std::string caption = "Ondavia: Sonoteka";
};

// One mono input or output of all boards.
struct PcxChannelEntry {
  int boardType = 0;
  int board = -1;
  std::string model;
  double maxLevel = 0, offsetGain = 0;
};

// Per-stream playback state, watched by the main window's timers.
struct PcxStreamState {
  uint32_t handle = 0;
  bool loaded = false, playing = false, paused = false, stopping = false;
  bool checkAfterStop = false;
  uint64_t checkTime = 0;
  bool endWatch = false;
  uint64_t expectedEnd = 0;
  int64_t startMs = 0, endMs = 0;  // the range queued, ms in the file
};

struct PcxPipeRecord {
  uint32_t handle = 0;
  int channels = 0;
  int maxBitRate = 0;
  int format = 0;
  int hostFormat = 0;
  int maxStreams = 0;
  bool digitalOutputDefined = false;
  bool allocated = false;
  std::array<PcxStreamState, kMaxStreams> streams{};
};

// A device of the set-up window's list: one stereo pair of a board.
struct PcxDevice {
  std::string name;
  int firstMono = 1;
};

int FormatFlagsOut(const std::array<bool, 6>& selected);
int FormatFlagsIn(const std::array<bool, 6>& selected);

class PcxQz {
 public:
  // `tools` is null when the board tools are not there: every function is inert.
  PcxQz(TraceLogger& log, Prompt& prompt, Clock& clock, std::string settingsFile,
        BoardTools* tools);

  // --- start
  bool InitTools(uintptr_t window = 0, const std::string& exeName = "SONOTEKA");
  void PCXSoftwareConfig();
  void PCXHardwareConfig();
  void InitPCXToolsOut(int slot);
  void InitPCXToolsIn(int slot);
  // Takes the set-up's formats, levels, digital inputs and outputs and natures
  // from the settings file (`ApplyAudioSetup`): the next allocation and level
  // change use them.
  void ReadSetup(const SetupDevices& devices);

  // --- pipes
  bool AllocatePipeOut(int slot, int& maxStreams);
  bool AllocatePipeIn(int slot, int& maxStreams);
  bool ReleasePipeOut(int slot);
  bool ReleasePipeIn();
  bool PipeOutSetClock(int slot, int clockType, int frequency, int board, int input);
  // Applies the set-up window's digital-output clock of the slot.
  bool PipeOutSetClockFromSetup(int slot);
  bool PipeDefineDigitalOutput(int slot, int mode);
  bool PipeMonitoringMute(int slot, bool on);
  bool PCXToolsPipeSetLevelOut(int slot, int kind);
  bool PCXToolsPipeSetLevelIn(int slot, int kind);
  bool PCXToolsInPipeStart();
  bool PCXToolsInStopPipe();
  int StreamGetStatus(int slot, int stream, int dir, const std::string& procedure);
  bool CheckPipeLevel(int slot, double& left, double& right);

  // --- errors
  void GestionErreurPCXTools(bool& showMessage, const std::string& function,
                             const std::string& procedure);
  static std::string GestionErreurPCXToolsInfoParametres(int code, const std::string& function);

  // --- helpers
  static int DigitalClock(int position);
  static double Correction(int boardType);
  static int MonoChannel2Pipe(int channel) { return (channel - 1) / 2; }
  static int Pipe2MonoChannel(int slot) { return 2 * slot + 1; }
  int BoardTypeOfSlot(int slot) const;  // type of the slot's first output

  // Stops and releases every pipe and unregisters the tools.
  void CloseSoundRessource();

  // --- module state
  PcxSetup setup;
  bool toolsAvailable = false;
  int32_t lastResult = 0;
  int32_t lastErrorCode = 0;
  std::vector<PcxChannelEntry> inputs, outputs;  // at most 10 each
  int inputCount = 0, outputCount = 0;
  float driverVersion = 0, toolsVersion = 0;
  std::array<int, kPlaybackSlots> natureOut{};
  int natureIn = kNatureNone;
  std::array<int, kPlaybackSlots> deviceOut{-1, -1, -1, -1, -1};
  int deviceIn = -1;
  std::array<std::vector<PcxDevice>, kPlaybackSlots> deviceListOut;
  std::vector<PcxDevice> deviceListIn;
  std::array<PcxPipeRecord, kPlaybackSlots> pipesOut{};
  PcxPipeRecord pipeIn{};
  std::array<int, kPlaybackSlots> clockOut{-1, -1, -1, -1, -1};
  std::array<int, kPlaybackSlots> clockFrequencyOut{};

  TraceLogger& log() { return log_; }
  Prompt& prompt() { return prompt_; }
  Clock& clock() { return clock_; }
  BoardTools* tools() { return tools_; }
  const std::string& settingsFile() const { return settingsFile_; }

 private:
  void logLine(const std::string& text, int slot = -1, int stream = -1);
  void logBox(const std::string& text, int slot = -1);
  std::vector<PcxDevice> listDevices(bool outputs);
  int StoredDevice(SetupSide side, int slot) const;
  void describeChannel(bool input, int mono);
  bool allocate(int dir, int slot, int& maxStreams, int formats, int channels, bool retry,
                bool showMessage);

  TraceLogger& log_;
  Prompt& prompt_;
  Clock& clock_;
  std::string settingsFile_;
  BoardTools* tools_;
};

}  // namespace sono::audio
