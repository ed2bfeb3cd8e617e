#include "audio/boardtools/record_takes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/engine/alsa_capture.h"
#include "audio/engine/error_codes.h"
#include "audio/engine/virtual_capture.h"
#include "core/files.h"
#include "core/sync_folder.h"
#include "core/system_error_text.h"
#include "core/system_ports.h"
#include "recorder/take_recorder.h"

namespace sono::audio {

namespace {

// The old sound a take goes into: whole house frames from `offset`.
struct HouseFrames {
  bool exists = false, whole = false;
  int64_t offset = 0, frames = 0;
};

HouseFrames ScanHouse(const std::string& file) {
  HouseFrames h;
  h.exists = File_Exist(file);
  if (!h.exists) return h;
  const FrameScan scan = ScanMpegFile(file);
  h.whole = scan.status == ScanStatus::Ok && scan.first.version == 1 && scan.first.layer == 2 &&
            scan.first.sampleRate == kHouseRate && scan.first.bitrateKbps == kHouseBitrateKbps &&
            scan.first.frameBytes == kHouseFrameBytes && scan.uniform && !scan.truncated &&
            scan.damagedFrames == 0 && !scan.infoFrame;
  h.offset = scan.dataOffset;
  h.frames = scan.frames;
  return h;
}

int64_t MsToHouseFrames(int64_t ms) { return (ms + kHouseFrameMs / 2) / kHouseFrameMs; }

std::string Stem(const std::string& file) {
  const size_t slash = file.rfind('/');
  const size_t dot = file.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? file.substr(0, dot) : file;
}

// "<stem>_Prise_YYYYMMDD_HHMMSS.s48", a number added when that name is taken.
std::string TakeFileFor(const std::string& target) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &t);
  const std::string base = Stem(target) + "_Prise_" + stamp;
  std::string name = base + kHouseExtension;
  for (int n = 2; File_Exist(name); ++n) name = base + "_" + std::to_string(n) + kHouseExtension;
  return name;
}

// Copies [from, from + bytes) of `in` to `out`.
bool CopyRange(int in, int out, int64_t from, int64_t bytes) {
  std::vector<char> buffer(1 << 16);
  while (bytes > 0) {
    const ssize_t got = ::pread(in, buffer.data(), static_cast<size_t>(std::min<int64_t>(bytes, static_cast<int64_t>(buffer.size()))), from);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) errno = EIO;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t n = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += n;
    }
    from += got;
    bytes -= got;
  }
  return true;
}

// The new sound: the old one's frames [0, keep), the take, then the old
// one's frames from `resume` on (-1: none), written beside the target and
// renamed over it. "" when done, else why not (the target is as it was).
std::string Splice(const std::string& target, const HouseFrames& old, int64_t keep, int64_t resume,
                   const std::string& take) {
  const std::string part = target + ".part" + std::to_string(::getpid());
  const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  const int added = ::open(take.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = in >= 0 && added >= 0 && out >= 0;
  const off_t takeBytes = added >= 0 ? ::lseek(added, 0, SEEK_END) : 0;
  ok = ok && CopyRange(in, out, old.offset, keep * kHouseFrameBytes);
  ok = ok && CopyRange(added, out, 0, takeBytes / kHouseFrameBytes * kHouseFrameBytes);
  if (ok && resume >= 0 && resume < old.frames)
    ok = CopyRange(in, out, old.offset + resume * kHouseFrameBytes, (old.frames - resume) * kHouseFrameBytes);
  ok = ok && ::fsync(out) == 0;
  const int error = errno;
  if (in >= 0) ::close(in);
  if (added >= 0) ::close(added);
  if (out >= 0 && ::close(out) != 0) ok = false;
  if (ok && ::rename(part.c_str(), target.c_str()) == 0) {
    SyncFolder(ParentFolder(target));
    return "";
  }
  const int cause = ok ? errno : error;
  ::unlink(part.c_str());
  return "écriture du son impossible: " + target + " (" + SystemErrorText(cause) + ")";
}

// The virtual board's input: what the virtual device captures, at real-time
// pace as a microphone gives it.
std::unique_ptr<CaptureSource> DefaultCapture(Engine& engine, const BoardDesc& board) {
  if (board.isVirtual) {
    static SystemClock clock;
    VirtualDevice& device = engine.virtualDevice();
    auto input = VirtualCapture::FromGenerator(
        [&device](float* stereo, long frames, int64_t) { device.capture(stereo, frames); });
    input->setPace(&clock);
    return input;
  }
  const std::string& name = board.alsaName;
  const bool pcmName = name.find(':') != std::string::npos || name == "default" || name == "null";
  return std::make_unique<AlsaCapture>(pcmName ? name : "plughw:CARD=" + name);
}

}  // namespace

const char* RecordModeName(RecordMode mode) {
  switch (mode) {
    case RecordMode::Safe: return "RECORD_MODE_SAFE";
    case RecordMode::Erase: return "RECORD_MODE_ERASE";
    case RecordMode::Append: return "RECORD_MODE_APPEND";
    case RecordMode::ReplaceSafe: return "RECORD_MODE_REPLACE_SAFE";
    case RecordMode::ReplaceCut: return "RECORD_MODE_REPLACE_CUT";
  }
  return "?";
}

RecordTakes::RecordTakes(Engine& engine) : engine_(engine) {
  opener_ = [this](const BoardDesc& board, int) { return DefaultCapture(engine_, board); };
}

RecordTakes::~RecordTakes() {
  for (int p = 0; p < Engine::kMaxPipes; ++p) releasePipe(p);
}

int RecordTakes::setFormat(int pipe, int stream, const RecordFormat& f) {
  // Takes are recorded in the house format only: MPEG-1 Layer II, 256 kbit/s,
  // 48000 Hz (the format every sound of the library is kept in).
  if (f.coding != 1 || f.linear != 0 || f.layer != 2 || f.layer2 != 1 ||
      f.bitrateKbps != kHouseBitrateKbps || f.frequency != kHouseRate)
    return err::kFormatNotSupported;
  slots_[pipe][stream].format = f;
  return err::kNone;
}

bool RecordTakes::fileTaken(const std::string& file) const {
  for (const auto& pipe : slots_)
    for (const Slot& s : pipe)
      if (s.loaded && s.request.file == file) return true;
  return false;
}

int RecordTakes::record(int pipe, int stream, const RecordRequest& r, uint32_t& handle) {
  static uint32_t nextHandle = 0;
  handle = 0;
  Slot& slot = slots_[pipe][stream];
  if (r.file.empty()) return err::kBadFileName;
  if (slot.loaded || fileTaken(r.file)) return err::kFileInUse;
  if (r.startMs < 0 || r.endMs < 0) return r.startMs < 0 ? err::kBadStart : err::kBadEnd;
  if (r.onThreshold && (r.startDurationMs < 0 || r.endDurationMs < 0 || r.endWindowMs < 0 ||
                        !(r.startDb <= 0) || !(r.endDb <= 0)))
    return err::kBadLevel;
  const HouseFrames old = ScanHouse(r.file);
  if (r.mode == RecordMode::Safe && old.exists) return err::kFileExists;
  slot.keepFrames = 0;
  slot.resumeFrame = -1;
  if (r.mode == RecordMode::ReplaceSafe || r.mode == RecordMode::ReplaceCut) {
    if (r.mode == RecordMode::ReplaceSafe && r.endMs != 0 && r.endMs <= r.startMs) return err::kBadEnd;
    slot.keepFrames = MsToHouseFrames(r.startMs);
    if (slot.keepFrames > (old.exists ? old.frames : 0)) return err::kBadStart;
    if (r.mode == RecordMode::ReplaceSafe && r.endMs != 0) slot.resumeFrame = MsToHouseFrames(r.endMs);
  }
  // The old sound is kept in part: it must be whole house frames.
  if (r.mode != RecordMode::Erase && r.mode != RecordMode::Safe && old.exists && !old.whole)
    return err::kFormatNotSupported;
  slot.request = r;
  slot.loaded = true;
  slot.started = false;
  slot.outcome = {};
  handle = ++nextHandle;
  const bool waitsForTake = r.start == RecordStart::AsaEof &&
                            std::any_of(slots_[pipe].begin(), slots_[pipe].end(),
                                        [&slot](const Slot& o) { return &o != &slot && o.started; });
  if (r.start == RecordStart::Asap || (r.start == RecordStart::AsaEof && !waitsForTake)) {
    if (const int code = begin(pipe, stream)) {
      slot.loaded = false;
      handle = 0;
      return code;
    }
  }
  return err::kNone;
}

int RecordTakes::begin(int pipe, int stream) {
  Slot& slot = slots_[pipe][stream];
  const RecordRequest& r = slot.request;
  recorder::TakeSettings settings;
  if (r.onThreshold) {
    settings.start = recorder::StartCondition::OnLevel;
    settings.startDb = r.startDb;
    settings.startDurationMs = r.startDurationMs;
    settings.stopDb = r.endDb;
    settings.stopDurationMs = r.endDurationMs;
    settings.tailMs = r.endWindowMs;
  }
  if (r.mode == RecordMode::ReplaceSafe && r.endMs != 0) settings.lengthMs = r.endMs - r.startMs;
  const int board = engine_.pipeBoard(pipe);
  auto source = opener_(engine_.boards()[static_cast<size_t>(board)], board);
  slot.takeFile = TakeFileFor(r.file);
  slot.take = std::make_unique<recorder::TakeRecorder>();
  std::string error;
  // A take started on a paused pipe records nothing until it is resumed.
  if (paused_[pipe]) slot.take->pause();
  if (!source || !slot.take->start(std::move(source), slot.takeFile, settings, error)) {
    slot.take.reset();
    ::unlink(slot.takeFile.c_str());
    slot.outcome.error = error;
    return err::kDeviceOpen;
  }
  slot.started = true;
  return err::kNone;
}

int RecordTakes::startPipe(int pipe) {
  paused_[pipe] = false;
  for (int s = 0; s < kMaxStreams; ++s) {
    Slot& slot = slots_[pipe][s];
    if (slot.started) slot.take->resume();
    if (const int code = startStream(pipe, s)) return code;
  }
  return err::kNone;
}

int RecordTakes::startStream(int pipe, int stream) {
  Slot& slot = slots_[pipe][stream];
  if (slot.loaded && !slot.started && slot.request.start == RecordStart::OnStart) return begin(pipe, stream);
  return err::kNone;
}

int RecordTakes::pausePipe(int pipe, bool on) {
  paused_[pipe] = on;
  for (Slot& slot : slots_[pipe])
    if (slot.started) on ? slot.take->pause() : slot.take->resume();
  return err::kNone;
}

int RecordTakes::stopPipe(int pipe) {
  for (int s = 0; s < kMaxStreams; ++s) complete(pipe, s, true);
  paused_[pipe] = false;
  return err::kNone;
}

int RecordTakes::status(int pipe, int stream, int& status) {
  Slot& slot = slots_[pipe][stream];
  if (slot.started && slot.take->done()) complete(pipe, stream, false);
  status = kRecordIdle;
  if (!slot.loaded) return err::kNone;
  if (!slot.started) {
    status = kRecordWaiting;
    return err::kNone;
  }
  switch (slot.take->state()) {
    case recorder::TakeState::Armed: status = kRecordWaiting; break;
    case recorder::TakeState::Paused: status = kRecordPaused; break;
    default: status = paused_[pipe] ? kRecordPaused : kRecordRunning;
  }
  return err::kNone;
}

int64_t RecordTakes::framesRecorded(int pipe, int stream) const {
  const Slot& slot = slots_[pipe][stream];
  return slot.started ? slot.take->framesRecorded() : 0;
}

void RecordTakes::complete(int pipe, int stream, bool stop) {
  Slot& slot = slots_[pipe][stream];
  if (!slot.loaded) return;
  slot.loaded = false;
  if (!slot.started) {
    slot.outcome.done = slot.outcome.empty = true;
    return;
  }
  slot.started = false;
  if (stop) slot.take->stop();
  slot.take->join();
  const recorder::TakeResult result = slot.take->result();
  slot.take.reset();
  RecordOutcome& o = slot.outcome;
  o.done = true;
  o.mpegFrames = result.mpegFrames;
  o.overrunFrames = result.overrunFrames;
  const RecordRequest& r = slot.request;
  if (result.reason == recorder::StopReason::Failure) {
    o.error = result.error;
    o.takeFile = slot.takeFile;  // what was recorded stays there
  } else if (result.mpegFrames == 0) {
    o.empty = true;
    ::unlink(slot.takeFile.c_str());
  } else {
    const HouseFrames old = ScanHouse(r.file);
    const bool keepsOld = old.exists && r.mode != RecordMode::Erase && r.mode != RecordMode::Safe &&
                          (r.mode == RecordMode::Append || slot.keepFrames > 0 || slot.resumeFrame >= 0);
    if (keepsOld && !old.whole) {
      o.error = "le son " + r.file + " n'est plus un son au format maison entier";
    } else if (keepsOld) {
      const int64_t keep = r.mode == RecordMode::Append ? old.frames : std::min(slot.keepFrames, old.frames);
      o.error = Splice(r.file, old, keep, slot.resumeFrame, slot.takeFile);
      if (o.error.empty()) ::unlink(slot.takeFile.c_str());
    } else if (::rename(slot.takeFile.c_str(), r.file.c_str()) == 0) {
      SyncFolder(ParentFolder(r.file));
    } else {
      o.error = "écriture du son impossible: " + r.file + " (" + SystemErrorText(errno) + ")";
    }
    if (!o.error.empty()) o.takeFile = slot.takeFile;
  }
  startWaitingAfter(pipe);
}

void RecordTakes::startWaitingAfter(int pipe) {
  for (int s = 0; s < kMaxStreams; ++s) {
    Slot& slot = slots_[pipe][s];
    if (slot.loaded && !slot.started && slot.request.start == RecordStart::AsaEof && begin(pipe, s) != 0)
      slot.loaded = false;
  }
}

void RecordTakes::releasePipe(int pipe) {
  for (int s = 0; s < kMaxStreams; ++s) complete(pipe, s, true);
  for (Slot& slot : slots_[pipe]) slot = Slot{};
  paused_[pipe] = false;
}

}  // namespace sono::audio
