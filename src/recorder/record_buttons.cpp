#include "recorder/record_buttons.h"

#include "core/files.h"
#include "core/text.h"

namespace sono::recorder {

namespace {
constexpr const char* kCaller = "Lib_Pointeurs:BtnsRecord";
constexpr int kRecordSlot = 0, kRecordStream = 0;
constexpr int kDirIn = 1;
}  // namespace

void RecordButtons::logLine(const std::string& text) {
  TraceOptions o;
  o.caller = "Lib_Pointeurs";
  p_.log.TraceLog(-1, -1, -1, text, o);
}

void RecordButtons::say(const std::string& text, Icon icon) {
  lastMessage_ = text;
  p_.prompt.message(text, icon, Buttons::Ok);
}

bool RecordButtons::RecorderPath() const { return !inputNature || inputNature() != audio::kNaturePcxTools; }

bool RecordButtons::TesterRecorderCharge(bool load, const std::string& caller) {
  if (!RecorderPath()) return false;
  if (recorder_.loaded()) return true;
  if (!load) return false;
  return loadRecorder ? loadRecorder() : recorder_.TesterRecorderCharge(true, caller);
}

bool RecordButtons::BtnsRecord(int button, bool& handled) {
  handled = button == kRecordStop || button == kRecordStart || button == kRecordNewTake || button == kRecordPauseOff;
  if (!handled) return false;
  const RecordTarget t = target ? target() : RecordTarget{};
  if (Trim(t.code).empty()) {
    say("Vous n'avez pas sélectionné de morceau.", Icon::Exclamation);
    return false;
  }
  switch (button) {
    case kRecordNewTake: {
      const bool reset = p_.prompt.message("Voulez-vous remettre à 0 tous les pointeurs ?", Icon::Question,
                                           Buttons::YesNo) == Answer::Yes;
      if (stopTape) stopTape();
      if (reset && RAZPtx) RAZPtx();
      return true;
    }
    case kRecordStart:
      if (TesterRecorderCharge(true, kCaller)) return recorder_.BtnsRecord(kRecordStart, t);
      return !RecorderPath() && startBoardTake(t);
    case kRecordPauseOff:
      return RecorderPath() ? recorder_.BtnsRecord(kRecordPauseOff, t) : record_.RecordPauseOff();
    default:
      return RecorderPath() ? recorder_.BtnsRecord(kRecordStop, t) : stopBoardTake();
  }
}

bool RecordButtons::openRecordPipe() {
  if (!qz_.toolsAvailable && !qz_.InitTools()) return false;
  if (qz_.pipeIn.allocated) return true;
  qz_.InitPCXToolsIn(kRecordSlot);
  int streams = audio::kMaxStreams;
  return qz_.AllocatePipeIn(kRecordSlot, streams);
}

bool RecordButtons::startBoardTake(const RecordTarget& t) {
  logLine(":Start: Start Record");
  if (record_.recording) {
    say("Recorder déjà en cours d'enregistrement.", Icon::Exclamation);
    return false;
  }
  lastMessage_.clear();
  if (!openRecordPipe()) {
    say("Enregistrement impossible: l'entrée de la carte n'est pas disponible (voir le journal).", Icon::Critical);
    return false;
  }
  if (resetPointers) resetPointers();
  record_.DigitalRecordActivation(kRecordSlot, qz_.setup.in.clockBoard, qz_.setup.in.clockInput, true);
  if (!record_.PCXToolsInSetRecordFormat(kRecordSlot, kRecordStream)) {
    say("Enregistrement impossible: la carte n'enregistre qu'en MPEG Layer 2, 256 kbit/s, 48000 Hz "
        "(Options / Son / Entrée).",
        Icon::Critical);
    return false;
  }
  if (showPosition) showPosition("00:00.00");
  bool cancelled = false;
  if (!record_.PCXToolsInRecordFile(kRecordSlot, kRecordStream, t.soundFile, cancelled)) {
    if (!cancelled) say("Vous n'avez pas sélectionné de morceau.", Icon::Exclamation);
    return false;
  }
  boardTarget_ = t;
  return true;
}

bool RecordButtons::stopBoardTake() {
  logLine(":Start: Stop Record");
  if (!record_.recording) return false;
  if (qz_.PCXToolsInStopPipe())
    record_.DigitalRecordActivation(kRecordSlot, qz_.setup.in.clockBoard, qz_.setup.in.clockInput, false);
  return closeBoardTake();
}

bool RecordButtons::Pause() { return !RecorderPath() && record_.recording && record_.RecordPause(); }

void RecordButtons::Poll() {
  if (RecorderPath() || !record_.recording) return;
  int status = audio::kRecordRunning;
  audio::BoardTools& tools = *qz_.tools();
  if (!tools.TOOLStreamGetStatus(qz_.pipeIn.handle, kDirIn, qz_.pipeIn.streams[kRecordStream].handle, status) ||
      status != audio::kRecordIdle)
    return;
  record_.DigitalRecordActivation(kRecordSlot, qz_.setup.in.clockBoard, qz_.setup.in.clockInput, false);
  closeBoardTake();
}

bool RecordButtons::closeBoardTake() {
  record_.recording = record_.paused = false;
  audio::RecordOutcome outcome;
  qz_.tools()->TOOLRecordOutcome(qz_.pipeIn.handle, qz_.pipeIn.streams[kRecordStream].handle, outcome);
  if (!outcome.error.empty()) {
    logLine("Err: Record: " + outcome.error + " |Sub: " + kCaller);
    say("Enregistrement interrompu: " + outcome.error +
            (outcome.takeFile.empty() ? std::string() : "; la prise est gardée dans " + outcome.takeFile) +
            ". Le son du morceau est inchangé.",
        Icon::Critical);
    return false;
  }
  if (outcome.empty) {
    say("Aucun son enregistré: le niveau de déclenchement n'a pas été atteint; le son du morceau est inchangé",
        Icon::Exclamation);
    return false;
  }
  if (!File_Exist(boardTarget_.soundFile)) return false;
  // The new sound's end type is the one the editor shows as the take ends.
  const char end = endType ? endType() : ' ';
  return closeTake ? closeTake(boardTarget_, end) : true;
}

}  // namespace sono::recorder
