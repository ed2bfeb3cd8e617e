// The board tools: the TOOL* functions the pipe and stream layer calls, with
// their arguments, truth values and error codes, over the audio engine.
// Functions return true (or a nonzero handle) on success; the cause of a
// failure is read with TOOLGetLastError and put in words by TOOLGetErrorString.
// Handles: a pipe handle is 0x100 + the engine's pipe number; a stream handle
// is the pipe handle shifted by 8 bits plus the stream number + 1.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "audio/boardtools/record_takes.h"
#include "audio/engine/engine.h"

namespace sono::audio {

inline constexpr int kTimeUnitMs = 10;
// Stream statuses of TOOLStreamGetStatus (the engine's StreamState).
inline constexpr int kStreamStatusIdle = 0;
inline constexpr int kStreamStatusLoaded = 1;
inline constexpr int kStreamStatusUnderrun = 4;

// Data sources of a record pipe's digital input (TOOLPipeDefineDigitalInput).
enum DigitalInputSource : int {
  kDataFromAnalog = 0,
  kDataFromDigitalSynchro = 1,
  kDataFromDigitalData = 2,
  kDataFromSyncConnector = 3,
  kDataFromAudioOverIp = 4,
};

struct ToolsBoardInfo {
  std::string model;
  int type = 0;
  int bus = 0;
  int firstInput = 0, inputs = 0;
  int firstOutput = 0, outputs = 0;
};

struct ToolsChannelInfo {
  int board = 0;       // board number from 0
  int boardType = 0;
  int infoFlags = 0;   // analog 1, digital 2 (input: 1 analog, 4 digital, 16 level)
};

struct ToolsLevelFeatures {
  double maxLevel = 0, offsetGain = 0, variableGain = 0, variableGainStep = 0;
};

struct ToolsClockCaps {
  bool ip = false, internal = true, digital = false, digitalSynchro = false, wordClock = false;
};

struct ToolsBoardFeatures {
  int cardPlayFormat = 0, hostPlayFormat = 0, cardRecFormat = 0, hostRecFormat = 0;
  int playEffect = 0, recordEffect = 0, dsp = 0;
};

struct ToolsFileInfo {
  int kind = 0;        // 1 MPEG, 2 linear PCM
  int layer = 0, sampleRate = 0, bitrateKbps = 0, channels = 0, bitsPerSample = 0;
  int64_t durationMs = 0;
  int64_t frames = 0;  // MPEG frames, or sample frames for PCM
  bool truncated = false;
  int64_t damagedFrames = 0;  // MPEG frames skipped as damaged (not in the duration)
  int64_t damagedMs = 0;
};

class BoardTools {
 public:
  explicit BoardTools(Engine& engine) : engine_(engine) {}
  Engine& engine() { return engine_; }

  // --- registration and errors
  uint32_t TOOLRegister(uintptr_t window, const std::string& exeName, int, int);
  void TOOLUnregister();
  int TOOLGetLastError(int = 0, int = -1) const { return lastError_; }
  bool TOOLGetErrorString(int code, int size, std::string& text, std::string& source) const;

  // --- versions and hardware
  bool TOOLGetVersions(float& driver, int& driverKind, float& tools);  // kind 2 = official
  int TOOLHowManyInputs();
  int TOOLHowManyOutputs();
  int TOOLHowManyBoards();
  bool TOOLGetBoardInfosEx(int board, ToolsBoardInfo& info);
  bool TOOLGetBoardFeaturesInfo(int board, ToolsBoardFeatures& features);
  bool TOOLGetInputInfosEx(int mono, ToolsChannelInfo& info);
  bool TOOLGetOutputInfosEx(int mono, ToolsChannelInfo& info);
  bool TOOLGetMonitor(int mono, int& monitor);
  bool TOOLGetLevelFeatures(int dir, int mono, ToolsLevelFeatures& features);
  bool TOOLGetInputInfoClockCapabilities(int mono, ToolsClockCaps& caps);
  bool TOOLGetOutputInfoClockCapabilities(int mono, ToolsClockCaps& caps);
  bool TOOLGetBoardExternalClock(int board, bool& digitalPresent);
  bool TOOLGetDigitalInputExternalClock(int mono, bool& digitalPresent);

  // --- pipes. `firstChannel` (the first of the two reserved arguments of the
  // board maker's call) is the mono output or input the pipe starts on.
  uint32_t TOOLAllocatePipeEx(int version, int& maxStreams, int channels, int dir, int formats,
                              int maxBitRate, int firstChannel, int reserved, int hostFormat,
                              uint32_t& pipe, std::array<uint32_t, kMaxStreams>* streams = nullptr);
  bool TOOLReleasePipe(uint32_t pipe, int dir);
  bool TOOLPipeStart(uint32_t pipe, int dir);
  bool TOOLPipeStop(uint32_t pipe, int dir);
  bool TOOLPipePause(uint32_t pipe, int dir, int pause);
  bool TOOLPipeSetClockEx(uint32_t pipe, int dir, int clockType, int frequency, int boardOrInput);
  bool TOOLPipeGetClock(uint32_t pipe, int dir, int& clockType, bool& present, int& frequency);
  bool TOOLPipeDefineDigitalOutput(uint32_t pipe, int mode);
  bool TOOLPipeSetMonitoringMute(uint32_t pipe, int mute);
  bool TOOLPipeSetLevel(uint32_t pipe, int dir, int digital, double left, double right);
  bool TOOLPipeGetLevel(uint32_t pipe, int dir, int digital, double& left, double& right);
  // Peak and RMS of one channel in dB full scale, saturation flag, and the
  // peak as a 0..32767 value.
  bool TOOLPipeGetVuMeter(uint32_t pipe, int channel, double& peakDb, double& rmsDb,
                          bool& saturated, int& peakLinear);

  // --- streams
  bool TOOLPlayFile(uint32_t pipe, uint32_t stream, const std::string& file, int startCondition,
                    int, int, int, int timeUnit, int64_t start, int64_t loopPosition, int64_t end,
                    int loop, int64_t fadeIn, int64_t fadeOut, double levelDb, int curve);
  bool TOOLStreamStart(uint32_t pipe, int dir, uint32_t stream);
  bool TOOLStreamStop(uint32_t pipe, int dir, uint32_t stream, int64_t fadeOut);
  bool TOOLStreamPause(uint32_t pipe, int dir, uint32_t stream, int pause);
  bool TOOLStreamGetStatus(uint32_t pipe, int dir, uint32_t stream, int& status);
  bool TOOLStreamGetInfo(uint32_t pipe, int dir, uint32_t stream, int64_t& positionMs,
                         int64_t& remainingMs);
  bool TOOLStreamSetDigitalLevel(uint32_t pipe, uint32_t stream, double levelDb);
  bool TOOLFileInfo(const std::string& file, ToolsFileInfo& info, int timeUnit,
                    int64_t& duration);

  // --- record streams. A take is recorded into a take file beside `file`
  // and put in place when it ends (RecordTakes); TOOLPipeStart, TOOLPipePause
  // and TOOLPipeStop on the record pipe start, pause and end its takes, and
  // TOOLStreamGetStatus on a record stream answers a RecordStatus.
  bool TOOLStreamSetRecordFormatEx(uint32_t pipe, uint32_t stream, int, int coding, int linear,
                                   int layer, int bitrateKbps, int layer2, int, int frequency,
                                   int bufferBytes, int);
  // The record handle (0: failed). Positions in ms of the existing sound.
  uint32_t TOOLRecordFile(uint32_t pipe, uint32_t stream, const std::string& file, int mode,
                          int startCondition, int64_t start, int64_t end);
  // Starts when the level stays at startLevelDb or above for startDurationMs
  // (the window, at least that duration, bounds it); stops when it stays
  // below endLevelDb for endDurationMs (0: never), the take then ending
  // endWindowMs after the silence's onset.
  uint32_t TOOLRecordFileOnThreshold(uint32_t pipe, uint32_t stream, const std::string& file,
                                     int mode, int startCondition, int64_t start, int64_t end,
                                     int startWindowMs, float startLevelDb, int startDurationMs,
                                     int endWindowMs, float endLevelDb, int endDurationMs);
  bool TOOLPipeDefineDigitalInput(uint32_t pipe, int source);
  int TOOLPipeGetDigitalInput(uint32_t pipe);  // -1: not a record pipe
  // What the last take of a record stream left (false: no such stream).
  bool TOOLRecordOutcome(uint32_t pipe, uint32_t stream, RecordOutcome& outcome);
  // The running take's progress and the file it is written into.
  bool TOOLRecordProgress(uint32_t pipe, uint32_t stream, int64_t& frames, std::string& takeFile);
  // The takes themselves: their input (tests) and the running one's progress.
  RecordTakes& recordTakes() { return records_; }

  static constexpr float kDriverVersion = 1.00f;
  static constexpr float kToolsVersion = 1.00f;

 private:
  bool fail(int code) {
    lastError_ = code;
    return false;
  }
  bool done() {
    lastError_ = 0;
    return true;
  }
  bool result(int code) { return code == 0 ? done() : fail(code); }
  bool ready();                                // registered
  // The common part of the input and output channel infos (board -1: none).
  bool channelInfo(int board, ToolsChannelInfo& info);
  bool clockCapabilities(int board, ToolsClockCaps& caps);  // -1: no such channel
  int pipeIndex(uint32_t handle, int dir);     // -1 when not a live pipe
  int streamIndex(uint32_t pipe, uint32_t stream);  // -1 when not of that pipe
  int recordStreamIndex(uint32_t pipe, uint32_t stream);
  uint32_t record(uint32_t pipe, uint32_t stream, RecordRequest request, int mode, int startCondition);

  Engine& engine_;
  RecordTakes records_{engine_};
  std::array<int, Engine::kMaxPipes> digitalInput_{};
  bool registered_ = false;
  int lastError_ = 0;
};

// Text of an error code of the board tools ("" for an unknown code).
std::string ToolErrorText(int code);

}  // namespace sono::audio
