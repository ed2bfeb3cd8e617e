#include "audio/boardtools/board_tools.h"

#include <algorithm>
#include <cmath>

#include "audio/codec/house_format.h"
#include "audio/codec/sound_reader.h"
#include "audio/engine/error_codes.h"

namespace sono::audio {

namespace {
constexpr uint32_t kPipeBase = 0x100;
constexpr int kAllFormats = kFormatMpegL1 | kFormatMpegL2 | kFormatMpegL3 | kFormatPcm8 |
                            kFormatPcm16 | kFormatPcm24;
}  // namespace

std::string ToolErrorText(int code) {
  switch (code) {
    case err::kNone: return "No error";
    case err::kNoPipeLeft: return "Every pipe of the boards is allocated";
    case err::kChannelsBusy: return "The output is already used by other pipes";
    case err::kTooManyChannels: return "More channels than the board has from this output";
    case err::kTooManyStreams: return "More streams than a pipe can hold";
    case err::kDeviceBusy: return "The sound device is used by another application";
    case err::kDeviceOpen: return "The sound device cannot be opened";
    case err::kDeviceLost: return "The sound device stopped working (unplugged or failed)";
    case err::kFileTooSmall: return "The sound file is too small";
    case err::kFileInvalid: return "The sound file is not found or is not valid";
    case err::kFormatNotSupported: return "Sound data format is not supported";
    case err::kFileInUse: return "The file is already being recorded";
    case err::kFileExists: return "The file already exists";
    case err::kBadRecordMode: return "Invalid record mode or start condition";
    case err::kClockInvalid: return "Sampling clock value is not valid";
    case err::kNotRegistered: return "The application is not registered";
    case err::kNoStreams: return "Zero or too many streams are requested";
    case err::kBadPipe: return "Invalid pipe handle";
    case err::kBadStream: return "Invalid stream handle";
    case err::kBadFileName: return "Invalid file name";
    case err::kBadStart: return "Invalid start position";
    case err::kBadEnd: return "Invalid end position";
    case err::kBadTimeUnit: return "Invalid time unit";
    case err::kBadLevel: return "Invalid level";
    case err::kBadFadeIn: return "Invalid fade-in duration";
    case err::kBadFadeOut: return "Invalid fade-out duration";
    case err::kBadBoard: return "Invalid board number";
    case err::kBadChannel: return "Invalid input or output number";
    case err::kStreamNotReady: return "The stream has no sound in this state";
    case err::kTooManyApps: return "It is not possible to register more applications";
    case err::kNotSupported: return "The hardware doesn't support the requested functionality";
    default: return {};
  }
}

uint32_t BoardTools::TOOLRegister(uintptr_t, const std::string& exeName, int, int) {
  if (exeName.empty()) return fail(err::kBadFileName), 0;
  // One application at a time: a second registration is refused.
  if (registered_) return fail(err::kTooManyApps), 0;
  registered_ = true;
  done();
  return 1;
}

void BoardTools::TOOLUnregister() {
  for (int p = 0; p < Engine::kMaxPipes; ++p) records_.releasePipe(p);
  if (registered_) engine_.shutdown();
  registered_ = false;
  lastError_ = 0;
}

bool BoardTools::TOOLGetErrorString(int code, int size, std::string& text,
                                    std::string& source) const {
  text = ToolErrorText(code);
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  source = "Sonoteka board tools";
  if (size > 0 && text.size() >= static_cast<size_t>(size)) text.resize(static_cast<size_t>(size) - 1);
  return true;
}

bool BoardTools::ready() {
  if (!registered_) return fail(err::kNotRegistered);
  engine_.collect();
  return true;
}

bool BoardTools::TOOLGetVersions(float& driver, int& driverKind, float& tools) {
  if (!ready()) return false;
  driver = kDriverVersion;
  driverKind = 2;
  tools = kToolsVersion;
  return done();
}

int BoardTools::TOOLHowManyInputs() { return ready() ? (done(), engine_.monoInputs()) : 0; }
int BoardTools::TOOLHowManyOutputs() { return ready() ? (done(), engine_.monoOutputs()) : 0; }
int BoardTools::TOOLHowManyBoards() {
  return ready() ? (done(), static_cast<int>(engine_.boards().size())) : 0;
}

bool BoardTools::TOOLGetBoardInfosEx(int board, ToolsBoardInfo& info) {
  if (!ready()) return false;
  if (board < 0 || board >= static_cast<int>(engine_.boards().size())) return fail(err::kBadBoard);
  const BoardDesc& b = engine_.boards()[board];
  info = {b.model, b.type, b.bus, b.firstInput, b.inputs, b.firstOutput, b.outputs};
  return done();
}

bool BoardTools::TOOLGetBoardFeaturesInfo(int board, ToolsBoardFeatures& f) {
  if (!ready()) return false;
  if (board < 0 || board >= static_cast<int>(engine_.boards().size())) return fail(err::kBadBoard);
  // Every board decodes on the host: all formats in, linear PCM to the card.
  f.cardPlayFormat = kAllFormats;
  f.hostPlayFormat = kAllFormats;
  f.cardRecFormat = kAllFormats;
  f.hostRecFormat = kAllFormats;
  f.playEffect = 0;
  f.recordEffect = 0;
  f.dsp = 1 | 2;  // play, record
  return done();
}

bool BoardTools::channelInfo(int board, ToolsChannelInfo& info) {
  if (board < 0) return fail(err::kBadChannel);
  info.board = board;
  info.boardType = engine_.boards()[board].type;
  info.infoFlags = 1 | 16;  // analog, with a level
  return done();
}

bool BoardTools::TOOLGetInputInfosEx(int mono, ToolsChannelInfo& info) {
  return ready() && channelInfo(engine_.boardOfInput(mono), info);
}

bool BoardTools::TOOLGetOutputInfosEx(int mono, ToolsChannelInfo& info) {
  return ready() && channelInfo(engine_.boardOfOutput(mono), info);
}

bool BoardTools::TOOLGetMonitor(int mono, int& monitor) {
  if (!ready()) return false;
  if (engine_.boardOfInput(mono) < 0) return fail(err::kBadChannel);
  monitor = 0;
  return done();
}

bool BoardTools::TOOLGetLevelFeatures(int dir, int mono, ToolsLevelFeatures& f) {
  if (!ready()) return false;
  const int board = dir == 0 ? engine_.boardOfOutput(mono) : engine_.boardOfInput(mono);
  if (board < 0) return fail(err::kBadChannel);
  // Levels are applied in software: 0 dB full scale, -220..+18 dB digital.
  f.maxLevel = dir == 0 ? 18.0 : 0.0;
  f.offsetGain = 0.0;
  f.variableGain = 238.0;
  f.variableGainStep = 0.5;
  return done();
}

// The clocks a board accepts: the virtual board every one, a sound card only
// its own ("No Clock").
bool BoardTools::clockCapabilities(int board, ToolsClockCaps& caps) {
  if (board < 0) return fail(err::kBadChannel);
  const bool v = engine_.boards()[board].isVirtual;
  caps = {v, true, v, v, v};
  return done();
}

bool BoardTools::TOOLGetInputInfoClockCapabilities(int mono, ToolsClockCaps& caps) {
  return ready() && clockCapabilities(engine_.boardOfInput(mono), caps);
}

bool BoardTools::TOOLGetOutputInfoClockCapabilities(int mono, ToolsClockCaps& caps) {
  return ready() && clockCapabilities(engine_.boardOfOutput(mono), caps);
}

bool BoardTools::TOOLGetBoardExternalClock(int board, bool& digitalPresent) {
  if (!ready()) return false;
  if (board < 0 || board >= static_cast<int>(engine_.boards().size())) return fail(err::kBadBoard);
  digitalPresent = engine_.boards()[board].isVirtual;
  return done();
}

bool BoardTools::TOOLGetDigitalInputExternalClock(int mono, bool& digitalPresent) {
  if (!ready()) return false;
  const int board = engine_.boardOfInput(mono);
  if (board < 0) return fail(err::kBadChannel);
  digitalPresent = engine_.boards()[board].isVirtual;
  return done();
}

int BoardTools::pipeIndex(uint32_t handle, int dir) {
  if (handle < kPipeBase) return -1;
  const int p = static_cast<int>(handle - kPipeBase);
  return engine_.pipeExists(p, dir) ? p : -1;
}

int BoardTools::streamIndex(uint32_t pipe, uint32_t stream) {
  if ((stream >> 8) != pipe || (stream & 0xFF) == 0) return -1;
  return static_cast<int>(stream & 0xFF) - 1;
}

uint32_t BoardTools::TOOLAllocatePipeEx(int, int& maxStreams, int channels, int dir, int formats,
                                        int, int firstChannel, int, int, uint32_t& pipe,
                                        std::array<uint32_t, kMaxStreams>* streams) {
  pipe = 0;
  if (!ready()) return 0;
  if (dir != 0 && dir != 1) return fail(err::kBadChannel), 0;
  int index = -1;
  const int code = engine_.allocatePipe(dir, std::max(1, firstChannel), channels, maxStreams,
                                        formats == 0 ? kFormatMpegL2 : formats, index);
  if (code != 0) return fail(code), 0;
  pipe = kPipeBase + static_cast<uint32_t>(index);
  if (streams) {
    streams->fill(0);
    for (int s = 0; s < maxStreams; ++s) (*streams)[s] = (pipe << 8) | static_cast<uint32_t>(s + 1);
  }
  done();
  return pipe;
}

bool BoardTools::TOOLReleasePipe(uint32_t pipe, int dir) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0) return fail(err::kBadPipe);
  if (dir == 1) records_.releasePipe(p);
  return result(engine_.releasePipe(p));
}

bool BoardTools::TOOLPipeStart(uint32_t pipe, int dir) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0) return fail(err::kBadPipe);
  if (dir == 1)
    if (const int code = records_.startPipe(p)) return fail(code);
  return result(engine_.startPipe(p));
}

bool BoardTools::TOOLPipeStop(uint32_t pipe, int dir) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0) return fail(err::kBadPipe);
  if (dir == 1) records_.stopPipe(p);
  return result(engine_.stopPipe(p));
}

bool BoardTools::TOOLPipePause(uint32_t pipe, int dir, int pause) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0) return fail(err::kBadPipe);
  if (dir == 1) records_.pausePipe(p, pause != 0);
  return result(engine_.pausePipe(p, pause != 0));
}

bool BoardTools::TOOLPipeSetClockEx(uint32_t pipe, int dir, int clockType, int frequency, int) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  return p < 0 ? fail(err::kBadPipe) : result(engine_.setPipeClock(p, clockType, frequency));
}

bool BoardTools::TOOLPipeGetClock(uint32_t pipe, int dir, int& clockType, bool& present,
                                  int& frequency) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0) return fail(err::kBadPipe);
  const PipeClock c = engine_.pipeClock(p);
  clockType = c.type;
  present = true;  // the virtual board makes every clock; a card runs on its own
  frequency = c.frequency;
  return done();
}

bool BoardTools::TOOLPipeDefineDigitalOutput(uint32_t pipe, int mode) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 0);
  if (p < 0) return fail(err::kBadPipe);
  engine_.setDigitalOutputMode(p, mode);
  return done();
}

bool BoardTools::TOOLPipeSetMonitoringMute(uint32_t pipe, int mute) {
  if (!ready()) return false;
  // A playback pipe's monitoring, or what a record pipe's input sends to the outputs.
  const int p = pipeIndex(pipe, 0) >= 0 ? pipeIndex(pipe, 0) : pipeIndex(pipe, 1);
  if (p < 0) return fail(err::kBadPipe);
  engine_.setMonitoringMute(p, mute != 0);
  return done();
}

bool BoardTools::TOOLPipeSetLevel(uint32_t pipe, int dir, int digital, double left, double right) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  return p < 0 ? fail(err::kBadPipe) : result(engine_.setPipeLevel(p, digital != 0, left, right));
}

bool BoardTools::TOOLPipeGetLevel(uint32_t pipe, int dir, int digital, double& left,
                                  double& right) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  return p < 0 ? fail(err::kBadPipe) : result(engine_.getPipeLevel(p, digital != 0, left, right));
}

bool BoardTools::TOOLPipeGetVuMeter(uint32_t pipe, int channel, double& peakDb, double& rmsDb,
                                    bool& saturated, int& peakLinear) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 0);
  if (p < 0) return fail(err::kBadPipe);
  if (int code = engine_.readMeter(p, channel, peakDb, rmsDb)) return fail(code);
  saturated = peakDb >= 0.0;
  peakLinear = static_cast<int>(std::lround(std::min(1.0, std::pow(10.0, peakDb / 20.0)) * 32767));
  return done();
}

bool BoardTools::TOOLPlayFile(uint32_t pipe, uint32_t stream, const std::string& file, int, int,
                              int, int, int timeUnit, int64_t start, int64_t loopPosition,
                              int64_t end, int loop, int64_t fadeIn, int64_t fadeOut,
                              double levelDb, int curve) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 0);
  if (p < 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  if (s < 0) return fail(err::kBadStream);
  if (timeUnit != kTimeUnitMs) return fail(err::kBadTimeUnit);
  LoadRequest r;
  r.file = file;
  r.startMs = start;
  r.endMs = end;
  r.loopMs = loopPosition;
  r.loop = loop != 0;
  r.fadeInMs = fadeIn;
  r.fadeOutMs = fadeOut;
  r.levelDb = levelDb;
  r.curve = curve;
  return result(engine_.loadStream(p, s, r));
}

bool BoardTools::TOOLStreamStart(uint32_t pipe, int dir, uint32_t stream) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p >= 0 && dir == 1) {
    const int s = recordStreamIndex(pipe, stream);
    return s < 0 ? fail(err::kBadStream) : result(records_.startStream(p, s));
  }
  if (p < 0 || dir != 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  return s < 0 ? fail(err::kBadStream) : result(engine_.startStream(p, s));
}

bool BoardTools::TOOLStreamStop(uint32_t pipe, int dir, uint32_t stream, int64_t fadeOut) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0 || dir != 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  return s < 0 ? fail(err::kBadStream) : result(engine_.stopStream(p, s, fadeOut));
}

bool BoardTools::TOOLStreamPause(uint32_t pipe, int dir, uint32_t stream, int pause) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0 || dir != 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  return s < 0 ? fail(err::kBadStream) : result(engine_.pauseStream(p, s, pause != 0));
}

bool BoardTools::TOOLStreamGetStatus(uint32_t pipe, int dir, uint32_t stream, int& status) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p >= 0 && dir == 1) {
    const int s = recordStreamIndex(pipe, stream);
    return s < 0 ? fail(err::kBadStream) : result(records_.status(p, s, status));
  }
  if (p < 0 || dir != 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  if (s < 0) return fail(err::kBadStream);
  StreamInfo info;
  if (int code = engine_.streamInfo(p, s, info)) return fail(code);
  status = static_cast<int>(info.state);
  return done();
}

bool BoardTools::TOOLStreamGetInfo(uint32_t pipe, int dir, uint32_t stream, int64_t& positionMs,
                                   int64_t& remainingMs) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, dir);
  if (p < 0 || dir != 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  if (s < 0) return fail(err::kBadStream);
  StreamInfo info;
  if (int code = engine_.streamInfo(p, s, info)) return fail(code);
  positionMs = info.positionMs;
  remainingMs = info.remainingMs;
  return done();
}

bool BoardTools::TOOLStreamSetDigitalLevel(uint32_t pipe, uint32_t stream, double levelDb) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 0);
  if (p < 0) return fail(err::kBadPipe);
  const int s = streamIndex(pipe, stream);
  return s < 0 ? fail(err::kBadStream) : result(engine_.setStreamLevel(p, s, levelDb));
}

bool BoardTools::TOOLFileInfo(const std::string& file, ToolsFileInfo& info, int timeUnit,
                              int64_t& duration) {
  if (timeUnit != kTimeUnitMs) return fail(err::kBadTimeUnit);
  info = ToolsFileInfo{};
  const FrameScan scan = ScanMpegFile(file);
  if (scan.status == ScanStatus::Ok) {
    info.kind = 1;
    info.layer = scan.first.layer;
    info.sampleRate = scan.first.sampleRate;
    info.bitrateKbps = scan.first.bitrateKbps;
    info.channels = scan.first.channels;
    info.durationMs = scan.durationMs;
    info.frames = scan.frames;
    info.truncated = scan.truncated;
    info.damagedFrames = scan.damagedFrames;
    info.damagedMs = scan.damagedMs();
  } else {
    OpenedSound s = OpenSound(file);
    if (!s.reader)
      return fail(s.error == OpenError::TooSmall ? err::kFileTooSmall : err::kFileInvalid);
    const SoundFormat& f = s.reader->format();
    info.kind = 2;
    info.sampleRate = f.sampleRate;
    info.channels = f.channels;
    info.bitsPerSample = f.bitsPerSample;
    info.durationMs = f.durationMs();
    info.frames = f.lengthFrames;
  }
  duration = info.durationMs;
  return done();
}

}  // namespace sono::audio

namespace sono::audio {

int BoardTools::recordStreamIndex(uint32_t pipe, uint32_t stream) {
  const int s = streamIndex(pipe, stream);
  return s >= 0 && s < kMaxStreams ? s : -1;
}

bool BoardTools::TOOLStreamSetRecordFormatEx(uint32_t pipe, uint32_t stream, int, int coding,
                                             int linear, int layer, int bitrateKbps, int layer2,
                                             int, int frequency, int, int) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 1);
  if (p < 0) return fail(err::kBadPipe);
  const int s = recordStreamIndex(pipe, stream);
  if (s < 0) return fail(err::kBadStream);
  return result(records_.setFormat(p, s, {coding, linear, layer, bitrateKbps, layer2, frequency}));
}

uint32_t BoardTools::record(uint32_t pipe, uint32_t stream, RecordRequest request, int mode,
                            int startCondition) {
  if (!ready()) return 0;
  const int p = pipeIndex(pipe, 1);
  if (p < 0) return fail(err::kBadPipe), 0;
  const int s = recordStreamIndex(pipe, stream);
  if (s < 0) return fail(err::kBadStream), 0;
  if (mode < static_cast<int>(RecordMode::Safe) || mode > static_cast<int>(RecordMode::ReplaceCut) ||
      startCondition < static_cast<int>(RecordStart::Asap) ||
      startCondition > static_cast<int>(RecordStart::AsaEof))
    return fail(err::kBadRecordMode), 0;
  request.mode = static_cast<RecordMode>(mode);
  request.start = static_cast<RecordStart>(startCondition);
  uint32_t handle = 0;
  if (const int code = records_.record(p, s, request, handle)) return fail(code), 0;
  done();
  return handle;
}

uint32_t BoardTools::TOOLRecordFile(uint32_t pipe, uint32_t stream, const std::string& file,
                                    int mode, int startCondition, int64_t start, int64_t end) {
  RecordRequest r;
  r.file = file;
  r.startMs = start;
  r.endMs = end;
  return record(pipe, stream, r, mode, startCondition);
}

uint32_t BoardTools::TOOLRecordFileOnThreshold(uint32_t pipe, uint32_t stream,
                                               const std::string& file, int mode,
                                               int startCondition, int64_t start, int64_t end,
                                               int startWindowMs, float startLevelDb,
                                               int startDurationMs, int endWindowMs,
                                               float endLevelDb, int endDurationMs) {
  RecordRequest r;
  r.file = file;
  r.startMs = start;
  r.endMs = end;
  r.onThreshold = true;
  r.startDb = startLevelDb;
  r.startDurationMs = startDurationMs;
  r.endDb = endLevelDb;
  r.endDurationMs = endDurationMs;
  r.endWindowMs = endWindowMs;
  // The start's window only bounds its duration: the recorder's pre-roll
  // already keeps more than the window before the trigger.
  if (startWindowMs < startDurationMs) return fail(err::kBadLevel), 0;
  return record(pipe, stream, r, mode, startCondition);
}

bool BoardTools::TOOLRecordOutcome(uint32_t pipe, uint32_t stream, RecordOutcome& outcome) {
  const int p = pipeIndex(pipe, 1);
  const int s = p < 0 ? -1 : recordStreamIndex(pipe, stream);
  if (s < 0) return fail(p < 0 ? err::kBadPipe : err::kBadStream);
  outcome = records_.outcome(p, s);
  return done();
}

bool BoardTools::TOOLRecordProgress(uint32_t pipe, uint32_t stream, int64_t& frames, std::string& takeFile) {
  const int p = pipeIndex(pipe, 1);
  const int s = p < 0 ? -1 : recordStreamIndex(pipe, stream);
  if (s < 0) return fail(p < 0 ? err::kBadPipe : err::kBadStream);
  frames = records_.framesRecorded(p, s);
  takeFile = records_.takeFile(p, s);
  return done();
}

bool BoardTools::TOOLPipeDefineDigitalInput(uint32_t pipe, int source) {
  if (!ready()) return false;
  const int p = pipeIndex(pipe, 1);
  if (p < 0) return fail(err::kBadPipe);
  if (source < kDataFromAnalog || source > kDataFromAudioOverIp) return fail(err::kBadChannel);
  digitalInput_[static_cast<size_t>(p)] = source;
  return done();
}

int BoardTools::TOOLPipeGetDigitalInput(uint32_t pipe) {
  const int p = pipeIndex(pipe, 1);
  return p < 0 ? -1 : digitalInput_[static_cast<size_t>(p)];
}

}  // namespace sono::audio
