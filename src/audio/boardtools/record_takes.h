// The takes of the record pipes' streams: what TOOLRecordFile and
// TOOLRecordFileOnThreshold start, TOOLPipePause pauses and TOOLPipeStop
// ends. A take is recorded by the recorder's TakeRecorder (pre-roll, level
// rules, house-format file valid after every frame) into a take file beside
// the target, "<target stem>_Prise_YYYYMMDD_HHMMSS.s48"; the target is
// only changed once the take has ended, in one rename (the take itself, or
// the old sound's frames around it written beside the target and renamed
// over it). A crash while recording leaves the target whole and the take
// file holding everything up to the last second.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/engine/capture_source.h"
#include "audio/engine/device_provider.h"
#include "audio/engine/engine.h"

namespace sono::recorder {
class TakeRecorder;
}

namespace sono::audio {

// How a take meets the sound file already there (the tools' record modes).
enum class RecordMode : int {
  Safe = 0,         // refused when the file exists (the layer asks first)
  Erase = 1,        // the take replaces the file
  Append = 2,       // the take follows the file's sound
  ReplaceSafe = 3,  // the take replaces [start, end) of the file; the rest is kept
  ReplaceCut = 4,   // the take replaces everything from start on
};

// When a take starts (the tools' start conditions).
enum class RecordStart : int {
  Asap = 0,     // at once
  OnStart = 1,  // at the pipe's or the stream's start command
  AsaEof = 2,   // when the take under way on the pipe has ended (at once without one)
};

// The record format of a stream (TOOLStreamSetRecordFormatEx's fields).
struct RecordFormat {
  int coding = 1;  // 1 MPEG, 16 linear
  int linear = 0;
  int layer = 2;
  int bitrateKbps = 256;
  int layer2 = 1;
  int frequency = 48000;
};

struct RecordRequest {
  std::string file;
  RecordMode mode = RecordMode::Safe;
  RecordStart start = RecordStart::Asap;
  int64_t startMs = 0, endMs = 0;  // in the existing sound (ReplaceSafe, ReplaceCut); end 0: until stopped
  bool onThreshold = false;
  float startDb = -50;
  int startDurationMs = 0;
  float endDb = -50;
  int endDurationMs = 0;   // 0: never stops on silence
  int endWindowMs = 0;     // how long after the silence's onset the take ends
};

// Take statuses, as TOOLStreamGetStatus reports them on a record stream.
enum RecordStatus : int {
  kRecordIdle = 0,       // no take, or the take has ended and is in its file
  kRecordWaiting = 1,    // waiting for its start command, the level or the take before it
  kRecordRunning = 2,
  kRecordPaused = 3,
};

// What the last take of a stream left.
struct RecordOutcome {
  bool done = false;
  int64_t mpegFrames = 0;    // house frames of the take itself
  int64_t overrunFrames = 0;
  bool empty = false;        // the level was never reached: the target is as it was
  std::string error;         // a failure's cause (French); the take file is then kept
  std::string takeFile;      // kept when the take failed or could not be put in place
};

using CaptureOpener =
    std::function<std::unique_ptr<CaptureSource>(const BoardDesc& board, int firstMono)>;

class RecordTakes {
 public:
  explicit RecordTakes(Engine& engine);
  ~RecordTakes();

  // The input a take on `board` records (the default: the virtual device's
  // capture side, or the card's ALSA capture).
  void setCaptureOpener(CaptureOpener opener) { opener_ = std::move(opener); }

  // Every call answers a tools error code (0 = done).
  int setFormat(int pipe, int stream, const RecordFormat& format);
  int record(int pipe, int stream, const RecordRequest& request, uint32_t& handle);
  int startPipe(int pipe);
  int startStream(int pipe, int stream);
  int pausePipe(int pipe, bool on);
  // Ends the pipe's takes and puts each one in its file.
  int stopPipe(int pipe);
  // The stream's take status; a take that ended by itself is put in its file.
  int status(int pipe, int stream, int& status);
  const RecordOutcome& outcome(int pipe, int stream) const { return slots_[pipe][stream].outcome; }
  // Frames the running take has recorded.
  int64_t framesRecorded(int pipe, int stream) const;
  // The file the running (or last) take is written into.
  const std::string& takeFile(int pipe, int stream) const { return slots_[pipe][stream].takeFile; }
  void releasePipe(int pipe);

 private:
  bool fileTaken(const std::string& file) const;
  int begin(int pipe, int stream);
  void complete(int pipe, int stream, bool stop);
  void startWaitingAfter(int pipe);

  struct Slot {
    RecordFormat format;
    RecordRequest request;
    bool loaded = false, started = false;
    int64_t keepFrames = 0;       // ReplaceSafe, ReplaceCut: house frames of the old sound kept before the take
    int64_t resumeFrame = -1;     // ReplaceSafe: first old frame after the take (-1: none)
    std::string takeFile;
    std::unique_ptr<recorder::TakeRecorder> take;
    RecordOutcome outcome;
  };
  Engine& engine_;
  CaptureOpener opener_;
  std::array<std::array<Slot, kMaxStreams>, Engine::kMaxPipes> slots_;
  std::array<bool, Engine::kMaxPipes> paused_{};
};

const char* RecordModeName(RecordMode mode);

}  // namespace sono::audio
