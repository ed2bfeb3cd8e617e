#include "audio/player/player_control.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>

#include "audio/codec/house_format.h"
#include "audio/engine/error_codes.h"
#include "audio/player/sound_duration.h"

namespace sono::audio {

namespace {

int FromOpenError(OpenError e) {
  switch (e) {
    case OpenError::NotFound: return dj::kFileNotFound;
    case OpenError::TooSmall: return dj::kFileTooSmall;
    default: return dj::kFileInvalid;
  }
}

int FromEngine(int code) {
  switch (code) {
    case err::kNone: return dj::kNone;
    case err::kDeviceBusy: return dj::kDeviceBusy;
    case err::kDeviceOpen:
    case err::kDeviceLost: return dj::kNoValidDriver;
    case err::kNoPipeLeft:
    case err::kChannelsBusy:
    case err::kTooManyStreams: return dj::kNoOutputLeft;
    case err::kFileInvalid: return dj::kDecodingFailed;
    case err::kStreamNotReady: return dj::kNoSound;
    default: return dj::kOutOfRange;
  }
}

constexpr int kAllFormats = kFormatMpegL1 | kFormatMpegL2 | kFormatMpegL3 | kFormatPcm8 |
                            kFormatPcm16 | kFormatPcm24;
constexpr double kMaxDb = 18.0;      // the engine's stream ceiling
constexpr double kSilenceDb = -220.0;
constexpr int64_t kMaxSmoothingMs = 60000;

}  // namespace

PlayerControl::PlayerControl(Engine& engine, int players) : engine_(engine) {
  players_.resize(static_cast<size_t>(std::clamp(players, 1, kMaxStreams)));
  for (const BoardDesc& b : engine_.boards())
    for (int m = b.firstOutput; m + 1 < b.firstOutput + b.outputs; m += 2) {
      const auto& [device, pair] = b.outputPairs[static_cast<size_t>((m - b.firstOutput) / 2)];
      const std::string key = b.isVirtual ? "virtual:" + std::to_string(pair) : device->systemName();
      devices_.push_back({b.model + " (" + std::to_string(m) + "/" + std::to_string(m + 1) + ")", m,
                          key, b.isVirtual});
    }
}

PlayerControl::~PlayerControl() {
  for (size_t i = 0; i < players_.size(); ++i) silence(players_[i], static_cast<int>(i), 0);
  for (const auto& [device, pipe] : pipes_) engine_.releasePipe(pipe);
}

std::string PlayerControl::EngineVersion() {
  return std::string("Sonoteka player 1.0 (Rubber Band ") + RUBBERBAND_VERSION + ")";
}

std::string PlayerControl::GetOutputDeviceDesc(int device) const {
  if (device < 0 || device >= GetOutputDevicesCount()) return {};
  return devices_[static_cast<size_t>(device)].name;
}

const OutputDeviceEntry* PlayerControl::outputDevice(int device) const {
  if (device < 0 || device >= GetOutputDevicesCount()) return nullptr;
  return &devices_[static_cast<size_t>(device)];
}

int PlayerControl::VirtualDevice(int pair) const {
  int seen = 0;
  for (int d = 0; d < GetOutputDevicesCount(); ++d) {
    const int board = engine_.boardOfOutput(devices_[static_cast<size_t>(d)].firstMono);
    if (board < 0 || !engine_.boards()[static_cast<size_t>(board)].isVirtual) continue;
    if (seen++ == pair) return d;
  }
  return -1;
}

int PlayerControl::pipeOf(int device, int& pipe) {
  if (device < 0 || device >= GetOutputDevicesCount()) return dj::kNoSuchDevice;
  auto it = pipes_.find(device);
  if (it != pipes_.end()) {
    // A device that stopped working under its pipe is opened again.
    if (engine_.pipeFailure(it->second) == 0) {
      pipe = it->second;
      return dj::kNone;
    }
    engine_.releasePipe(it->second);
    pipes_.erase(it);
  }
  int streams = players();
  const int e = engine_.allocatePipe(0, devices_[static_cast<size_t>(device)].firstMono, 2, streams,
                                     kAllFormats, pipe);
  if (e) return FromEngine(e);
  pipes_[device] = pipe;
  return dj::kNone;
}

int PlayerControl::InitDJSystem(int device) {
  if (device < 0 || device >= GetOutputDevicesCount()) return dj::kNoSuchDevice;
  for (size_t i = 0; i < players_.size(); ++i) {
    silence(players_[i], static_cast<int>(i), 0);
    players_[i].status = players_[i].loaded ? PlayerStatus::Stopped : PlayerStatus::NotReady;
  }
  for (const auto& [d, pipe] : pipes_) engine_.releasePipe(pipe);
  pipes_.clear();
  initialized_ = false;
  int pipe = -1;
  if (int e = pipeOf(device, pipe)) return e;
  for (Player& p : players_) p.device = device;
  initialized_ = true;
  return dj::kNone;
}

void PlayerControl::ReleaseOutputs() {
  for (size_t i = 0; i < players_.size(); ++i) {
    unload(players_[i], static_cast<int>(i));
    players_[i].seekFrame = 0;
  }
  for (const auto& [d, pipe] : pipes_) engine_.releasePipe(pipe);
  pipes_.clear();
}

int PlayerControl::check(int player) const {
  if (!initialized_ || player < 0 || player >= players()) return dj::kInvalidPlayer;
  return dj::kNone;
}

int PlayerControl::SetPlayerOutputDevice(int player, int device) {
  if (int e = check(player)) return e;
  int pipe = -1;
  if (int e = pipeOf(device, pipe)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (device == p.device) return dj::kNone;
  silence(p, player, 0);
  if (p.loaded) p.status = PlayerStatus::Stopped;
  p.device = device;
  return dj::kNone;
}

int PlayerControl::SetBufferLength(int ms) {
  if (ms < 50 || ms > 5000) return dj::kBufferOutOfRange;
  bufferMs_ = ms;
  return dj::kNone;
}

// --- sounds

void PlayerControl::silence(Player& p, int index, int64_t fadeMs) {
  const bool sounding = p.status == PlayerStatus::Playing || p.status == PlayerStatus::Paused;
  if (sounding || p.prepared) {
    auto it = pipes_.find(p.device);
    if (it != pipes_.end())
      engine_.stopStream(it->second, index, p.status == PlayerStatus::Playing ? fadeMs : 0);
  }
  p.prepared = false;
}

void PlayerControl::unload(Player& p, int player) {
  silence(p, player, 0);
  p.loaded = false;
  p.status = PlayerStatus::NotReady;
  p.file.clear();
  p.opened.reset();
  p.state.reset();
}

int PlayerControl::LoadSoundFast(int player, const std::string& file) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  unload(p, player);
  if (file.empty()) return dj::kEmptyFileName;
  OpenedSound s = OpenSound(file);
  if (!s.reader) return FromOpenError(s.error);
  const SoundFormat& f = s.reader->format();
  p.file = file;
  p.lengthFrames = f.lengthFrames;
  p.fileRate = f.sampleRate;
  p.durationMs = f.durationMs();
  p.damagedFrames = f.damagedFrames;
  p.opened = std::move(s.reader);
  p.levelDb = 0;
  p.seekFrame = 0;
  // Ready to start at once: the whole sound waits, decoded ahead, on the stream.
  if (int e = prepare(p, player, 0, p.lengthFrames, false)) {
    p.file.clear();
    p.opened.reset();
    return e;
  }
  p.loaded = true;
  p.status = PlayerStatus::Stopped;
  return dj::kNone;
}

int PlayerControl::prepare(Player& p, int index, int64_t start, int64_t end, bool loop) {
  int pipe = -1;
  if (int e = pipeOf(p.device, pipe)) return e;
  std::unique_ptr<SoundReader> reader = std::move(p.opened);
  if (!reader) {
    OpenedSound s = OpenSound(p.file);
    if (!s.reader) return FromOpenError(s.error);
    reader = std::move(s.reader);
  }
  auto state = std::make_shared<TempoState>(start, end, loop);
  state->setTempo(p.tempo);
  const int rate = engine_.pipeRate(pipe);
  auto tempo = std::make_unique<TempoReader>(std::move(reader), start, end, loop, rate, state);
  if (!tempo->ok()) return dj::kDecodingFailed;
  PlayPlan plan;
  plan.start = 0;
  plan.end = TempoReader::kEndless;
  plan.loopStart = 0;
  plan.fadeIn = MsToFrames(p.fadeInMs, rate);
  plan.gain = DbToGain(std::min(p.playerDb + p.streamDb + p.levelDb, kMaxDb));
  if (int e = engine_.loadStreamReader(pipe, index, std::move(tempo), plan, p.durationMs))
    return FromEngine(e);
  p.state = std::move(state);
  p.prepared = true;
  p.preparedStart = start;
  p.preparedEnd = end;
  p.preparedLoop = loop;
  return dj::kNone;
}

int PlayerControl::startPrepared(Player& p, int index) {
  int pipe = -1;
  if (int e = pipeOf(p.device, pipe)) return e;
  if (int e = engine_.startStream(pipe, index)) return FromEngine(e);
  p.prepared = false;
  p.status = PlayerStatus::Playing;
  p.lastFrame = p.preparedStart - 1;  // a trigger on the first frame fires too
  return dj::kNone;
}

int PlayerControl::SeekSound(int player, int64_t positionMs) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (!p.loaded) return dj::kNoSound;
  if (positionMs < 0) return dj::kOutOfRange;
  if (positionMs >= p.durationMs) return dj::kPositionBeyondEnd;
  const PlayerStatus was = p.status;
  p.seekFrame = MsToFrames(positionMs, p.fileRate);
  silence(p, player, 0);
  p.status = PlayerStatus::Stopped;
  if (int e = prepare(p, player, p.seekFrame, p.lengthFrames, false)) return e;
  if (was == PlayerStatus::Stopped) return dj::kNone;
  if (int e = startPrepared(p, player)) return e;
  if (was == PlayerStatus::Paused) return PauseSound(player);
  return dj::kNone;
}

int PlayerControl::PlaySound(int player) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (!p.loaded) return dj::kNoSound;
  if (p.status == PlayerStatus::Playing) return dj::kNone;
  if (p.status == PlayerStatus::Paused) return ResumeSound(player);
  const bool ready = p.prepared && p.preparedStart == p.seekFrame &&
                     p.preparedEnd == p.lengthFrames && !p.preparedLoop;
  if (!ready) {
    silence(p, player, 0);
    if (int e = prepare(p, player, p.seekFrame, p.lengthFrames, false)) return e;
  }
  return startPrepared(p, player);
}

int PlayerControl::playRange(int player, int64_t startMs, int64_t endMs, bool loop) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (!p.loaded) return dj::kNoSound;
  if (startMs < 0) return dj::kOutOfRange;
  if (startMs >= p.durationMs) return dj::kPositionBeyondEnd;
  if (endMs <= startMs) return dj::kEmptyRange;
  const int64_t start = MsToFrames(startMs, p.fileRate);
  const int64_t end = std::min(MsToFrames(endMs, p.fileRate), p.lengthFrames);
  if (end <= start) return dj::kEmptyRange;
  const bool ready = p.prepared && p.preparedStart == start && p.preparedEnd == end &&
                     p.preparedLoop == loop && p.status == PlayerStatus::Stopped;
  if (!ready) {
    silence(p, player, 0);
    p.status = PlayerStatus::Stopped;
    if (int e = prepare(p, player, start, end, loop)) return e;
  }
  return startPrepared(p, player);
}

int PlayerControl::PlaySoundRange(int player, int64_t startMs, int64_t endMs) {
  return playRange(player, startMs, endMs, false);
}

int PlayerControl::PlaySoundRangeLoop(int player, int64_t startMs, int64_t endMs) {
  return playRange(player, startMs, endMs, true);
}

int PlayerControl::PauseSound(int player) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (p.status != PlayerStatus::Playing) return dj::kNotPlaying;
  int pipe = -1;
  if (int e = pipeOf(p.device, pipe)) return e;
  if (int e = engine_.pauseStream(pipe, player, true)) {
    // The sound ended before the pause: the next poll reports the end.
    return e == err::kStreamNotReady ? dj::kNotPlaying : FromEngine(e);
  }
  p.status = PlayerStatus::Paused;
  return dj::kNone;
}

int PlayerControl::ResumeSound(int player) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (p.status != PlayerStatus::Paused) return dj::kNotPaused;
  int pipe = -1;
  if (int e = pipeOf(p.device, pipe)) return e;
  if (int e = engine_.pauseStream(pipe, player, false)) return FromEngine(e);
  p.status = PlayerStatus::Playing;
  return dj::kNone;
}

int PlayerControl::StopSound(int player) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  if (!p.loaded) return dj::kNoSound;
  silence(p, player, p.fadeOutMs);
  p.status = PlayerStatus::Stopped;
  p.seekFrame = 0;
  return dj::kNone;
}

int PlayerControl::CloseSound(int player) {
  if (int e = check(player)) return e;
  Player& p = players_[static_cast<size_t>(player)];
  unload(p, player);
  p.seekFrame = 0;
  return dj::kNone;
}

int64_t PlayerControl::GetSoundDuration(int player) const {
  if (int e = check(player)) return e;
  const Player& p = players_[static_cast<size_t>(player)];
  return p.loaded ? p.durationMs : dj::kNoSound;
}

int64_t PlayerControl::GetSoundFileDuration(const std::string& file) {
  if (file.empty()) return dj::kEmptyFileName;
  const FileDuration d = SoundFileDuration(file);
  return d.error == OpenError::None ? d.ms : FromOpenError(d.error);
}

int64_t PlayerControl::framesPlayed(const Player& p, int index) const {
  auto it = pipes_.find(p.device);
  return it == pipes_.end() ? 0 : engine_.streamConsumedFrames(it->second, index);
}

int64_t PlayerControl::framePosition(const Player& p, int index) const {
  auto it = pipes_.find(p.device);
  if (it == pipes_.end() || !p.state) return p.seekFrame;
  return p.state->filePositionAt(engine_.streamConsumedFrames(it->second, index));
}

int64_t PlayerControl::GetPlayerPosition(int player) const {
  if (int e = check(player)) return e;
  const Player& p = players_[static_cast<size_t>(player)];
  if (!p.loaded) return 0;
  const bool sounding = p.status == PlayerStatus::Playing || p.status == PlayerStatus::Paused;
  return FramesToMs(sounding ? framePosition(p, player) : p.seekFrame, p.fileRate);
}

int64_t PlayerControl::GetSoundDamagedFrames(int player) const {
  if (check(player)) return 0;
  const Player& p = players_[static_cast<size_t>(player)];
  return p.loaded ? p.damagedFrames : 0;
}

PlayerStatus PlayerControl::GetPlayerStatus(int player) const {
  if (check(player)) return PlayerStatus::NotReady;
  return players_[static_cast<size_t>(player)].status;
}

const std::string& PlayerControl::GetSoundFile(int player) const {
  static const std::string none;
  return check(player) ? none : players_[static_cast<size_t>(player)].file;
}

// --- tempo and volumes

int PlayerControl::SetTempoPerc(int player, double percent) {
  if (int e = check(player)) return e;
  if (!std::isfinite(percent) || std::fabs(percent) >= kMaxTempo) return dj::kTempoOutOfRange;
  Player& p = players_[static_cast<size_t>(player)];
  p.tempo = percent;
  if (p.state) p.state->setTempo(percent);
  // What waits decoded ahead was made at the old tempo. A sound not heard yet
  // is queued again so that it starts at the new one; one already playing
  // changes once that stretch is played (smoothly, without a jump).
  const bool notHeard =
      p.prepared || (p.status == PlayerStatus::Playing && framesPlayed(p, player) == 0);
  if (!notHeard) return dj::kNone;
  const bool start = p.status == PlayerStatus::Playing;
  const int64_t from = p.preparedStart, to = p.preparedEnd;
  const bool loop = p.preparedLoop;
  silence(p, player, 0);
  if (int e = prepare(p, player, from, to, loop)) return e;
  return start ? startPrepared(p, player) : dj::kNone;
}

double PlayerControl::GetTempoPerc(int player) const {
  return check(player) ? 0.0 : players_[static_cast<size_t>(player)].tempo;
}

int PlayerControl::applyGain(int player) {
  Player& p = players_[static_cast<size_t>(player)];
  auto it = pipes_.find(p.device);
  if (it == pipes_.end()) return dj::kNone;
  const bool holds = p.prepared || p.status == PlayerStatus::Playing ||
                     p.status == PlayerStatus::Paused;
  if (!holds) return dj::kNone;
  return FromEngine(engine_.setStreamLevel(it->second, player, std::min(GetVolumeDb(player), kMaxDb)));
}

int PlayerControl::setVolume(int player, double value, VolumeScale scale, double Player::*target) {
  if (int e = check(player)) return e;
  if (!std::isfinite(value)) return dj::kVolumeOutOfRange;
  double db = value;
  if (scale == VolumeScale::Percent) {
    if (value < 0) return dj::kVolumeOutOfRange;
    db = value <= 0 ? kSilenceDb : 20.0 * std::log10(value / 100.0);
  }
  if (db > kMaxDb + 0.01) return dj::kVolumeOutOfRange;
  players_[static_cast<size_t>(player)].*target = std::max(db, kSilenceDb);
  return applyGain(player);
}

int PlayerControl::SetPlayerVolumeEx(int player, double value, VolumeScale scale) {
  return setVolume(player, value, scale, &Player::playerDb);
}

int PlayerControl::StreamVolumeSet(int player, double value, VolumeScale scale) {
  return setVolume(player, value, scale, &Player::streamDb);
}

int PlayerControl::StreamVolumeLevelSet(int player, double value, VolumeScale scale) {
  return setVolume(player, value, scale, &Player::levelDb);
}

double PlayerControl::GetVolumeDb(int player) const {
  if (check(player)) return 0;
  const Player& p = players_[static_cast<size_t>(player)];
  return std::max(p.playerDb + p.streamDb + p.levelDb, kSilenceDb);
}

int PlayerControl::StreamVolumeSmoothingSet(int player, int64_t fadeInMs, int64_t fadeOutMs) {
  if (int e = check(player)) return e;
  if (fadeInMs < 0 || fadeOutMs < 0 || fadeInMs > kMaxSmoothingMs || fadeOutMs > kMaxSmoothingMs)
    return dj::kSmoothingOutOfRange;
  Player& p = players_[static_cast<size_t>(player)];
  p.fadeInMs = fadeInMs;
  p.fadeOutMs = fadeOutMs;
  return dj::kNone;
}

int PlayerControl::GetOutputPeakDb(int player, double& leftDb, double& rightDb) {
  if (int e = check(player)) return e;
  int pipe = -1;
  if (int e = pipeOf(players_[static_cast<size_t>(player)].device, pipe)) return e;
  double rms = 0;
  if (engine_.readMeter(pipe, 0, leftDb, rms) || engine_.readMeter(pipe, 1, rightDb, rms))
    return dj::kMeterUnavailable;
  return dj::kNone;
}

// --- triggers

int PlayerControl::AddTrigger(int player, int id, int64_t positionMs) {
  if (int e = check(player)) return e;
  if (id < 0 || id > kMaxTriggerId) return dj::kTriggerIdOutOfRange;
  if (positionMs < 0) return dj::kOutOfRange;
  Player& p = players_[static_cast<size_t>(player)];
  if (p.loaded && positionMs > p.durationMs) return dj::kTriggerBeyondEnd;
  if (HasTrigger(player, id)) return dj::kTriggerExists;
  if (p.triggers.size() >= kMaxTriggers) return dj::kTooManyTriggers;
  p.triggers.push_back({id, positionMs});
  return dj::kNone;
}

int PlayerControl::RemoveTrigger(int player, int id) {
  if (int e = check(player)) return e;
  auto& list = players_[static_cast<size_t>(player)].triggers;
  auto it = std::find_if(list.begin(), list.end(), [id](const Trigger& t) { return t.id == id; });
  if (it == list.end()) return dj::kTriggerNotFound;
  list.erase(it);
  return dj::kNone;
}

int PlayerControl::RemoveAllTriggers(int player) {
  if (int e = check(player)) return e;
  players_[static_cast<size_t>(player)].triggers.clear();
  return dj::kNone;
}

bool PlayerControl::HasTrigger(int player, int id) const {
  if (check(player)) return false;
  const auto& list = players_[static_cast<size_t>(player)].triggers;
  return std::any_of(list.begin(), list.end(), [id](const Trigger& t) { return t.id == id; });
}

void PlayerControl::fireBetween(Player& p, int index, int64_t fromFrame, int64_t toFrame) {
  std::vector<Trigger> due;
  for (const Trigger& t : p.triggers) {
    const int64_t f = MsToFrames(t.ms, p.fileRate);
    if (f > fromFrame && f <= toFrame) due.push_back(t);
  }
  std::stable_sort(due.begin(), due.end(), [](const Trigger& a, const Trigger& b) { return a.ms < b.ms; });
  const int64_t nowMs = FramesToMs(toFrame, p.fileRate);
  for (const Trigger& t : due) {
    // A trigger's work may stop the player: what lies after it is not reached.
    if (p.status != PlayerStatus::Playing && p.status != PlayerStatus::Paused) return;
    if (onTriggerReached) onTriggerReached(index, t.id, t.ms, nowMs);
  }
}

void PlayerControl::Poll() {
  engine_.collect();
  // Devices that stopped working: their players stop, their pipes go. The
  // players are told once this poll is done (their work may release outputs).
  std::vector<std::pair<int, std::string>> lost;
  for (auto it = pipes_.begin(); it != pipes_.end();) {
    const int device = it->first, pipe = it->second;
    if (engine_.pipeFailure(pipe) == 0) {
      ++it;
      continue;
    }
    const std::string reason = engine_.pipeFailureText(pipe);
    for (size_t i = 0; i < players_.size(); ++i) {
      Player& p = players_[i];
      if (p.device != device) continue;
      if (p.status == PlayerStatus::Playing || p.status == PlayerStatus::Paused)
        lost.push_back({static_cast<int>(i), reason});
      p.prepared = false;
      p.state.reset();
      p.seekFrame = 0;
      if (p.loaded) p.status = PlayerStatus::Stopped;
    }
    engine_.releasePipe(pipe);
    it = pipes_.erase(it);
  }
  for (size_t i = 0; i < players_.size(); ++i) {
    Player& p = players_[i];
    const int index = static_cast<int>(i);
    if (p.status != PlayerStatus::Playing && p.status != PlayerStatus::Paused) continue;
    auto it = pipes_.find(p.device);
    if (it == pipes_.end()) continue;
    // Position first, state second: a stream that ended meanwhile reads as
    // ended, and an ended stream is at its range's end (the render side
    // forgets what it played when it lets the sound go).
    int64_t now = framePosition(p, index);
    StreamInfo info;
    engine_.streamInfo(it->second, index, info);
    const bool ended = info.state == StreamState::Idle && p.status == PlayerStatus::Playing;
    if (ended) now = p.preparedEnd;
    const int64_t last = p.lastFrame;
    if (!p.preparedLoop) now = std::max(now, last);
    p.lastFrame = now;
    if (p.preparedLoop && now < last) {
      fireBetween(p, index, last, p.preparedEnd);
      fireBetween(p, index, p.preparedStart - 1, now);
    } else {
      fireBetween(p, index, last, now);
    }
    if (ended && p.status == PlayerStatus::Playing) {
      p.status = PlayerStatus::Stopped;
      p.seekFrame = 0;
      p.state.reset();
      if (onSoundDone) onSoundDone(index);
    }
  }
  for (const auto& [player, reason] : lost)
    if (onDeviceLost) onDeviceLost(player, reason);
}

}  // namespace sono::audio
