// The editor's record buttons (`BtnsRecord` of Lib_Pointeurs, with
// `TesterRecorderCharge` and the closing of a take): a take goes to the
// recorder window when the record input's nature is not a board, else to
// the boards' record pipe through Lib_PCX_QZ's record procedures, recorded
// into the song's sound file (untouched until the take has ended), then the
// closing update `MAJDataFinRecordOuConvert` reloads it and writes its data.
#pragma once
#include <functional>
#include <string>

#include "audio/pcx/pcx_record.h"
#include "recorder/recorder_model.h"

namespace sono::recorder {

class RecordButtons {
 public:
  RecordButtons(RecorderPorts ports, audio::PcxQz& qz, audio::PcxRecord& record, RecorderModel& recorder)
      : p_(ports), qz_(qz), record_(record), recorder_(recorder) {}

  // The editor's song.
  std::function<RecordTarget()> target;
  // The record input's nature in the set-up ("Pipe_00_Nature" of "General_In").
  std::function<int()> inputNature;
  // Loads and shows the recorder window (TesterRecorderCharge(true)).
  std::function<bool()> loadRecorder;
  // The tape-recorder's Stop (`BtnMagnetophoneClick_01` with button 0).
  std::function<void()> stopTape;
  // The song's pointers back to 0 in the editor as a take starts (stored
  // with the take's closing update).
  std::function<void()> resetPointers;
  // RAZPtx (the new take's Yes): the pointers back to 0 and stored on every
  // station, the sound's pointer records removed.
  std::function<void()> RAZPtx;
  // DetermineTypeDeFin: the end-type code the editor's combo shows, read
  // when the take is stopped (" " when not given).
  std::function<char()> endType;
  // MAJDataFinRecordOuConvert (origin 3): the song's new sound is in its
  // file; its data written with `endType` and the editor reloaded. False
  // when it failed (said).
  std::function<bool(const RecordTarget& target, char endType)> closeTake;
  // The play position shown ("00:00.00" at the start of a take).
  std::function<void(const std::string& text)> showPosition;

  // True when the take goes to the recorder window (its nature is not a board).
  bool RecorderPath() const;
  // TesterRecorderCharge: the recorder window is in use (loaded now when
  // `load`); False when the record input is a board.
  bool TesterRecorderCharge(bool load, const std::string& caller);
  // BtnsRecord: `handled` when the button is a record button.
  bool BtnsRecord(int button, bool& handled);
  bool BtnsRecord(int button) {
    bool handled = false;
    return BtnsRecord(button, handled);
  }
  // Pause of a board take (the tape-recorder's Pause).
  bool Pause();
  // Every 100 ms: a board take that ended by itself (the level's silence,
  // a range filled, the input's end) is closed as the stop button does.
  void Poll();

  bool recording() const { return RecorderPath() ? recorder_.recording() : record_.recording; }
  bool paused() const { return RecorderPath() ? recorder_.paused() : record_.paused; }
  // What the last board take said ("" when it went well).
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  bool openRecordPipe();
  bool startBoardTake(const RecordTarget& t);
  bool stopBoardTake();
  bool closeBoardTake();
  void say(const std::string& text, Icon icon);
  void logLine(const std::string& text);

  RecorderPorts p_;
  audio::PcxQz& qz_;
  audio::PcxRecord& record_;
  RecorderModel& recorder_;
  RecordTarget boardTarget_;
  std::string lastMessage_;
};

}  // namespace sono::recorder
