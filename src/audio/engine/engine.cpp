#include "audio/engine/engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "audio/codec/house_format.h"
#include "audio/engine/error_codes.h"

namespace sono::audio {

float DbToGain(double db) {
  if (db <= -220.0) return 0.0f;
  return static_cast<float>(std::pow(10.0, db / 20.0));
}

Engine::Engine(const EngineOptions& options) : Engine(StandardDeviceProviders(options), options) {}

Engine::Engine(DeviceProviders providers, const EngineOptions& options)
    : virtualFedByThread_(options.virtualFedByThread) {
  int nextOut = 1, nextIn = 1;
  for (const auto& provider : providers)
    for (ProvidedBoard& board : provider->boards()) {
      BoardDesc b = std::move(board.desc);
      b.firstOutput = nextOut;
      b.firstInput = nextIn;
      nextOut += b.outputs;
      nextIn += b.inputs;
      if (board.isCard) ++alsaCards_;
      for (auto& device : board.devices) {
        if (!virtual_ && device->isVirtual()) virtual_ = dynamic_cast<VirtualDevice*>(device.get());
        devices_.push_back(std::move(device));
      }
      boards_.push_back(std::move(b));
    }
  if (virtual_ && !virtualFedByThread_)
    virtual_->setFeeder([this] {
      collect();
      feeder_.feedCallerSide();
    });
}

Engine::~Engine() { shutdown(); }

void Engine::shutdown() {
  for (int p = 0; p < kMaxPipes; ++p)
    if (pipes_[p].used) releasePipe(p);
  feeder_.stopThread();
  for (auto& d : devices_) d->stop();
  collect();
}

int Engine::monoOutputs() const {
  int n = 0;
  for (const auto& b : boards_) n += b.outputs;
  return n;
}

int Engine::monoInputs() const {
  int n = 0;
  for (const auto& b : boards_) n += b.inputs;
  return n;
}

int Engine::boardOfOutput(int mono) const {
  for (size_t i = 0; i < boards_.size(); ++i)
    if (mono >= boards_[i].firstOutput && mono < boards_[i].firstOutput + boards_[i].outputs)
      return static_cast<int>(i);
  return -1;
}

int Engine::boardOfInput(int mono) const {
  for (size_t i = 0; i < boards_.size(); ++i)
    if (mono >= boards_[i].firstInput && mono < boards_[i].firstInput + boards_[i].inputs)
      return static_cast<int>(i);
  return -1;
}

bool Engine::pipeExists(int pipe, int dir) const {
  return pipe >= 0 && pipe < kMaxPipes && pipes_[pipe].used && pipes_[pipe].dir == dir;
}

int Engine::allocatePipe(int dir, int firstMono, int channels, int& maxStreams, int formats,
                         int& pipe) {
  collect();
  pipe = -1;
  if (maxStreams < 1) return err::kNoStreams;
  if (maxStreams > kMaxStreams) return err::kTooManyStreams;
  if (channels < 1) return err::kBadChannel;
  const int board = dir == 0 ? boardOfOutput(firstMono) : boardOfInput(firstMono);
  if (board < 0) return err::kBadChannel;
  const BoardDesc& b = boards_[board];
  const int last = dir == 0 ? b.firstOutput + b.outputs : b.firstInput + b.inputs;
  // A card captures in stereo pairs: a record pipe asking for more channels
  // than the card has from there takes those it has (a take is stereo).
  if (dir == 1 && !b.isVirtual && firstMono + 1 < last) channels = std::min(channels, last - firstMono);
  if (firstMono + channels > last) return err::kTooManyChannels;
  int slot = -1;
  for (int p = 0; p < kMaxPipes; ++p)
    if (!pipes_[p].used) {
      slot = p;
      break;
    }
  if (slot < 0) return err::kNoPipeLeft;
  PipeSlot& p = pipes_[slot];
  p = PipeSlot{};
  p.dir = dir;
  p.board = board;
  p.firstMono = firstMono;
  p.channels = channels;
  p.maxStreams = maxStreams;
  p.formats = formats;
  p.clock.frequency = b.rate;
  if (dir == 0) {
    // Sound goes to the stereo pair holding the first channel.
    const auto& [device, pair] = b.outputPairs[(firstMono - b.firstOutput) / 2];
    int mixerPipe = -1;
    for (int m = 0; m < kMaxPipesPerMixer && mixerPipe < 0; ++m) {
      bool taken = false;
      for (const auto& other : pipes_)
        if (other.used && other.device == device && other.mixerPipe == m) taken = true;
      if (!taken) mixerPipe = m;
    }
    if (mixerPipe < 0) return err::kChannelsBusy;
    if (!device->running()) {
      std::string error;
      bool busy = false;
      if (!device->start(error, busy)) return busy ? err::kDeviceBusy : err::kDeviceOpen;
      // Decoding never runs on a render thread, and the logic thread cannot
      // promise to come back in time: a device rendering on its own is fed
      // by the feeder thread.
      if (!device->isVirtual() || virtualFedByThread_) feeder_.startThread();
    }
    p.device = device;
    p.mixerPipe = mixerPipe;
    MixerCommand c{MixerCommand::PipeOpen};
    c.pipe = static_cast<uint8_t>(mixerPipe);
    c.output = pair;
    device->mixer().post(c);
  }
  p.used = true;
  pipe = slot;
  return err::kNone;
}

int Engine::releasePipe(int pipe) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  PipeSlot& p = pipes_[pipe];
  Device* device = p.device;
  if (device && p.failure == 0) {
    MixerCommand c{MixerCommand::PipeClose};
    c.pipe = static_cast<uint8_t>(p.mixerPipe);
    device->mixer().post(c);
  }
  p = PipeSlot{};
  // A card nobody plays on is let go of (another program may use it); it is
  // opened again by the next allocation.
  if (device && !device->isVirtual() &&
      std::none_of(pipes_.begin(), pipes_.end(), [device](const PipeSlot& o) { return o.used && o.device == device; })) {
    device->stop();
    device->mixer().resetStopped();
  }
  collect();
  return err::kNone;
}

int Engine::startPipe(int pipe) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  pipes_[pipe].started = true;
  return err::kNone;
}

int Engine::stopPipe(int pipe) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  PipeSlot& p = pipes_[pipe];
  if (p.device)
    for (int s = 0; s < kMaxStreams; ++s)
      if (p.streams[s].loaded) stopStream(pipe, s, 0);
  p.started = false;
  return err::kNone;
}

int Engine::pausePipe(int pipe, bool on) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  PipeSlot& p = pipes_[pipe];
  if (p.device)
    for (int s = 0; s < kMaxStreams; ++s)
      if (p.streams[s].loaded) pauseStream(pipe, s, on);
  p.paused = on;
  return err::kNone;
}

void Engine::postGains(PipeSlot& p) {
  if (!p.device) return;
  MixerCommand c{MixerCommand::PipeGains};
  c.pipe = static_cast<uint8_t>(p.mixerPipe);
  c.gains = {DbToGain(p.digital[0]), DbToGain(p.digital[1]), DbToGain(p.analog[0]), DbToGain(p.analog[1])};
  p.device->mixer().post(c);
}

int Engine::setPipeLevel(int pipe, bool digital, double leftDb, double rightDb) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  const double high = digital ? 18.0 : 0.0;
  if (!std::isfinite(leftDb) || !std::isfinite(rightDb) || leftDb > high || rightDb > high)
    return err::kBadLevel;
  PipeSlot& p = pipes_[pipe];
  double* target = digital ? p.digital : p.analog;
  target[0] = std::max(leftDb, -220.0);
  target[1] = std::max(rightDb, -220.0);
  postGains(p);
  return err::kNone;
}

int Engine::getPipeLevel(int pipe, bool digital, double& leftDb, double& rightDb) const {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  const double* source = digital ? pipes_[pipe].digital : pipes_[pipe].analog;
  leftDb = source[0];
  rightDb = source[1];
  return err::kNone;
}

int Engine::setPipeClock(int pipe, int type, int frequency) {
  if (pipe < 0 || pipe >= kMaxPipes || !pipes_[pipe].used) return err::kBadPipe;
  PipeSlot& p = pipes_[pipe];
  const BoardDesc& b = boards_[p.board];
  const bool known = type == kClockDigital || type == kClockInternal || type == kClockNone ||
                     type == kClockDigitalSynchro || type == kClockWordClock ||
                     type == kClockCobranet || type == kClockAudioOverIp;
  if (!known || (type == kClockInternal && (frequency < 8000 || frequency > 192000)))
    return err::kClockInvalid;
  // A card follows no external clock and runs at its own rate only.
  if (!b.isVirtual && !(type == kClockNone || (type == kClockInternal && frequency == b.rate)))
    return err::kClockInvalid;
  p.clock.type = type;
  p.clock.frequency = type == kClockInternal ? frequency : b.rate;
  return err::kNone;
}

int Engine::readMeter(int pipe, int channel, double& peakDb, double& rmsDb) {
  if (!pipeExists(pipe, 0)) return err::kBadPipe;
  if (pipes_[pipe].failure) return err::kDeviceLost;
  if (channel < 0 || channel > 1) return err::kBadChannel;
  const MeterReport m = pipes_[pipe].device->mixer().takeMeter(pipes_[pipe].mixerPipe, channel);
  auto db = [](float v) { return v > 1e-10f ? 20.0 * std::log10(v) : -200.0; };
  peakDb = db(m.peak);
  rmsDb = db(m.rms);
  return err::kNone;
}

int Engine::checkStream(int pipe, int stream) const {
  if (!pipeExists(pipe, 0)) return err::kBadPipe;
  if (stream < 0 || stream >= pipes_[pipe].maxStreams) return err::kBadStream;
  if (pipes_[pipe].failure) return err::kDeviceLost;
  return err::kNone;
}

int Engine::pipeFailure(int pipe) const {
  return pipe >= 0 && pipe < kMaxPipes && pipes_[pipe].used ? pipes_[pipe].failure : 0;
}

std::string Engine::pipeFailureText(int pipe) const {
  const int e = pipeFailure(pipe);
  return e == 0 ? std::string() : std::string(std::strerror(-e));
}

void Engine::checkDevices() {
  for (auto& d : devices_) {
    const int failure = d->failure();
    if (failure == 0 || !d->running()) continue;
    // Nothing renders on it any more: its mixer is emptied here, and every
    // pipe on it answers with the failure.
    d->stop();
    d->mixer().resetStopped();
    for (PipeSlot& p : pipes_)
      if (p.used && p.device == d.get()) {
        p.failure = failure;
        for (StreamSlot& s : p.streams) s = StreamSlot{};
      }
  }
}

bool Engine::postStream(PipeSlot& p, int stream, MixerCommand c, StreamState expected) {
  c.pipe = static_cast<uint8_t>(p.mixerPipe);
  c.stream = static_cast<uint8_t>(stream);
  if (!p.device->mixer().post(c)) return false;
  p.streams[stream].expected = expected;
  return true;
}

int Engine::loadStream(int pipe, int stream, const LoadRequest& r) {
  collect();
  if (int e = checkStream(pipe, stream)) return e;
  PipeSlot& p = pipes_[pipe];
  if (r.file.empty()) return err::kBadFileName;
  if (r.startMs < 0) return err::kBadStart;
  if (r.endMs < 0 || (r.endMs > 0 && r.endMs <= r.startMs)) return err::kBadEnd;
  if (r.fadeInMs < 0) return err::kBadFadeIn;
  if (r.fadeOutMs < 0) return err::kBadFadeOut;
  if (!std::isfinite(r.levelDb)) return err::kBadLevel;
  OpenedSound sound = OpenSound(r.file);
  if (!sound.reader)
    return sound.error == OpenError::TooSmall ? err::kFileTooSmall : err::kFileInvalid;
  const SoundFormat& f = sound.reader->format();
  const BoardDesc& b = boards_[p.board];
  // The pipe plays the formats it was allocated for, at the board's rate.
  int flag = 0;
  if (f.kind == SoundKind::Mpeg)
    flag = f.layer == 1 ? kFormatMpegL1 : f.layer == 2 ? kFormatMpegL2 : kFormatMpegL3;
  else
    flag = f.bitsPerSample == 8 ? kFormatPcm8 : f.bitsPerSample == 24 ? kFormatPcm24
         : f.bitsPerSample == 16 ? kFormatPcm16 : (kFormatPcm8 | kFormatPcm16 | kFormatPcm24);
  if ((p.formats & flag) == 0 || f.sampleRate != b.rate) return err::kFormatNotSupported;

  const int rate = f.sampleRate;
  const int64_t length = f.lengthFrames;
  PlayPlan plan;
  plan.start = MsToFrames(r.startMs, rate);
  if (plan.start >= length) return err::kBadStart;
  plan.end = r.endMs > 0 ? std::min(MsToFrames(r.endMs, rate), length) : length;
  plan.loop = r.loop;
  plan.loopStart = std::clamp(MsToFrames(r.loopMs, rate), int64_t{0}, plan.end - 1);
  if (!plan.loop) plan.loopStart = plan.start;
  plan.fadeIn = MsToFrames(r.fadeInMs, rate);
  plan.fadeOut = MsToFrames(r.fadeOutMs, rate);
  plan.gain = DbToGain(std::min(r.levelDb, 18.0));  // the digital level's ceiling
  plan.curve = r.curve == 2 ? FadeCurve::Logarithmic : FadeCurve::Linear;

  return loadStreamReader(pipe, stream, std::move(sound.reader), plan, f.durationMs());
}

int Engine::loadStreamReader(int pipe, int stream, std::unique_ptr<SoundReader> reader,
                             const PlayPlan& plan, int64_t fileMs) {
  if (int e = checkStream(pipe, stream)) return e;
  PipeSlot& p = pipes_[pipe];
  auto source = std::make_unique<StreamSource>(std::move(reader), plan, kRingFrames);
  if (source->failed()) return err::kFileInvalid;
  source->feed();  // primed here, so the start needs no decoding
  const bool byThread = !p.device->isVirtual() || virtualFedByThread_;
  StreamSource* raw = feeder_.add(std::move(source), byThread ? FeedSide::Thread : FeedSide::Caller);
  MixerCommand c{MixerCommand::Attach};
  c.source = raw;
  if (!postStream(p, stream, c, StreamState::Loaded)) {
    feeder_.remove(raw);
    return err::kDeviceOpen;
  }
  StreamSlot& s = p.streams[stream];
  s.loaded = true;
  s.plan = plan;
  s.fileMs = fileMs;
  return err::kNone;
}

int64_t Engine::streamConsumedFrames(int pipe, int stream) const {
  if (checkStream(pipe, stream)) return 0;
  const PipeSlot& p = pipes_[pipe];
  const StreamSlot& s = p.streams[stream];
  const StreamReport r = p.device->mixer().report(p.mixerPipe, stream);
  if (r.acked < p.device->mixer().posted(p.mixerPipe, stream) && s.expected == StreamState::Loaded)
    return 0;
  return r.consumed;
}

int Engine::startStream(int pipe, int stream) {
  collect();
  if (int e = checkStream(pipe, stream)) return e;
  PipeSlot& p = pipes_[pipe];
  StreamInfo info;
  streamInfo(pipe, stream, info);
  if (info.state != StreamState::Loaded) return err::kStreamNotReady;
  return postStream(p, stream, MixerCommand{MixerCommand::Start}, StreamState::Playing)
             ? err::kNone : err::kDeviceOpen;
}

int Engine::pauseStream(int pipe, int stream, bool on) {
  if (int e = checkStream(pipe, stream)) return e;
  PipeSlot& p = pipes_[pipe];
  StreamInfo info;
  streamInfo(pipe, stream, info);
  const bool playing = info.state == StreamState::Playing || info.state == StreamState::Underrun;
  if (on ? !playing : info.state != StreamState::Paused) return err::kStreamNotReady;
  MixerCommand c{MixerCommand::Pause};
  c.paused = on;
  return postStream(p, stream, c, on ? StreamState::Paused : StreamState::Playing)
             ? err::kNone : err::kDeviceOpen;
}

int Engine::stopStream(int pipe, int stream, int64_t fadeMs) {
  if (int e = checkStream(pipe, stream)) return e;
  if (fadeMs < 0) return err::kBadFadeOut;
  PipeSlot& p = pipes_[pipe];
  StreamInfo info;
  streamInfo(pipe, stream, info);
  const bool sounding = info.state == StreamState::Playing || info.state == StreamState::Underrun;
  MixerCommand c{MixerCommand::Stop};
  c.fadeFrames = MsToFrames(fadeMs, p.device->mixer().rate());
  p.streams[stream].loaded = false;
  return postStream(p, stream, c,
                    sounding && c.fadeFrames > 0 ? StreamState::Playing : StreamState::Idle)
             ? err::kNone : err::kDeviceOpen;
}

int Engine::setStreamLevel(int pipe, int stream, double levelDb) {
  if (int e = checkStream(pipe, stream)) return e;
  if (!std::isfinite(levelDb) || levelDb > 18.0) return err::kBadLevel;
  MixerCommand c{MixerCommand::StreamGain};
  c.gain = DbToGain(levelDb);
  PipeSlot& p = pipes_[pipe];
  return postStream(p, stream, c, p.streams[stream].expected) ? err::kNone : err::kDeviceOpen;
}

int Engine::streamInfo(int pipe, int stream, StreamInfo& info) {
  info = StreamInfo{};
  if (int e = checkStream(pipe, stream)) return e;
  PipeSlot& p = pipes_[pipe];
  StreamSlot& s = p.streams[stream];
  const StreamReport r = p.device->mixer().report(p.mixerPipe, stream);
  // Until the render side applied every command, the state is the one asked for.
  const bool pending = r.acked < p.device->mixer().posted(p.mixerPipe, stream);
  info.state = pending ? s.expected : r.state;
  const int64_t consumed = pending && s.expected == StreamState::Loaded ? 0 : r.consumed;
  const int rate = p.device->mixer().rate();
  info.durationMs = s.fileMs;
  if (info.state == StreamState::Idle) {
    info.positionMs = 0;
    info.remainingMs = 0;
    return err::kNone;
  }
  info.positionMs = FramesToMs(s.plan.positionAfter(consumed), rate);
  const int64_t rest = s.plan.remainingAfter(consumed);
  info.remainingMs = rest < 0 ? INT32_MAX : FramesToMs(rest, rate);
  return err::kNone;
}

void Engine::collect() {
  checkDevices();
  for (auto& d : devices_) d->mixer().collectReleased([this](StreamSource* s) { feeder_.remove(s); });
}

}  // namespace sono::audio
