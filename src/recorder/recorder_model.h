// The recorder window's model (`Frm_Main_Recorder` with `Lib_Recorder`):
// loading and readiness, the editor's record buttons on the recorder path
// (`BtnsRecord`), the existing-sound question, the take's status display
// (`TimerRecorderStatus`) and the hand-over of a finished take to the song.
// The capture, the level rules and the writing are the TakeRecorder's; the
// window only shows this model and forwards clicks.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/ports.h"
#include "core/tracelog.h"
#include "recorder/recorder_settings.h"
#include "recorder/take_recorder.h"

namespace sono::recorder {

struct RecorderPorts {
  Prompt& prompt;
  TraceLogger& log;
  Clock& clock;
};

// The song a take is for: the editor's song and its sound file.
struct RecordTarget {
  std::string code;  // trimmed; empty when no song is selected
  std::string soundFile;
};

// The editor's record buttons (`BtnsRecord`): stop, start, a new take (the
// pointers reset on request, RecordButtons), the release of a pause.
enum RecordButton { kRecordStop = 0, kRecordStart = 10, kRecordNewTake = 11, kRecordPauseOff = 12 };

class RecorderModel {
 public:
  RecorderModel(RecorderPorts ports, const SiteConfig& config) : p_(ports), config_(config) {}
  ~RecorderModel();

  // ChargerRecorder: mode 2 loads the window. Without a usable input the
  // user is told where to set one and nothing is loaded.
  bool ChargerRecorder(int mode, const std::string& caller);
  // TesterRecorderCharge: loaded, or loaded now when `load` is asked.
  bool TesterRecorderCharge(bool load, const std::string& caller);
  bool loaded() const { return loaded_; }
  // Form_Unload: a take still running is stopped and handed over first.
  void unload();

  // BtnsRecord on the recorder path; false when the button did nothing.
  bool BtnsRecord(int button, const RecordTarget& target);
  // The pause check box.
  void Pause(bool paused);
  // TimerRecorderStatus (every 100 ms while loaded): events logged, the
  // display updated, a finished take handed over.
  void TimerRecorderStatus();

  // The status bar and position display.
  const std::string& statusText() const { return status_; }
  std::string positionText() const;
  // The level meter, 0..100 (percent of the dB scale from -60 dB).
  int levelPercent() const;
  bool recording() const { return take_ != nullptr; }
  bool paused() const { return take_ && take_->state() == TakeState::Paused; }
  // Frames of the last finished take (its house frames x 1152), for the display.
  const TakeResult& lastResult() const { return lastResult_; }

  // Hands a finished take to the song: `take` becomes its sound (replaced,
  // or appended). True when the song now has it (the take file may go).
  std::function<bool(const RecordTarget& target, const std::string& take, bool append)> handOver;
  // Anything shown changed (status, position, level).
  std::function<void()> onChanged;

 private:
  // The chosen capture input; null (said) when it cannot be used.
  std::unique_ptr<audio::CaptureSource> openInput(const RecorderSettings& settings);
  bool start(const RecordTarget& target);
  void stop();
  void finished();
  void setStatus(const std::string& text);
  std::string takePath() const;

  RecorderPorts p_;
  const SiteConfig& config_;
  bool loaded_ = false;
  std::unique_ptr<TakeRecorder> take_;
  RecordTarget target_;
  bool append_ = false;
  std::string takeFile_;
  TakeSettings settings_;
  TakeResult lastResult_;
  std::string status_ = "Repos";
};

}  // namespace sono::recorder
