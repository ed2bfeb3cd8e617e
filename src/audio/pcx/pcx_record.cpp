#include "audio/pcx/pcx_record.h"

#include <algorithm>

#include "audio/engine/error_codes.h"
#include "audio/pcx/pcx_texts.h"
#include "audio/setup/audio_setup.h"
#include "core/files.h"

namespace sono::audio {

namespace {
constexpr const char* kFormat = "Recorder_PCXTools_RecordFormat";
constexpr const char* kStart = "Recorder_PCXTools_StartCondition";
constexpr const char* kOverWrite = "Recorder_PCXTools_OverWrite";
constexpr const char* kModule = "Lib_PCX_QZ:";
// The tools' record format fields that the procedure passes as they are.
constexpr int kCodingMpeg = 1, kCodingLinear = 16;
constexpr int kRecordBufferBytes = 0x6000;
constexpr int kDirIn = 1;
constexpr int kThresholdMarginMs = 100;  // added to each threshold's duration
constexpr int kFileInUseCode = err::kFileInUse;

template <size_t N>
int Pick(const std::array<int, N>& list, int index) {
  return list[static_cast<size_t>(std::clamp(index, 0, static_cast<int>(N) - 1))];
}

const char* DataSourceName(int source) {
  switch (source) {
    case kDataFromDigitalSynchro: return "DATA_FROM_DIGITAL_SYNCHRO";
    case kDataFromDigitalData: return "DATA_FROM_DIGITAL_DATA";
    case kDataFromSyncConnector: return "DATA_FROM_SYNC_CONNECTOR";
    case kDataFromAudioOverIp: return "DATA_FROM_AUDIO_OVER_IP";
    default: return "DATA_FROM_ANALOG";
  }
}
}  // namespace

PcxRecordSettings ReadPcxRecordSettings(const AudioSetup& s) {
  const auto n = [&s](const char* section, const char* key) { return static_cast<int>(s.number(section, key)); };
  PcxRecordSettings r;
  r.compression = n(kFormat, "Compression");
  r.layer = n(kFormat, "Layer");
  r.bitRate = n(kFormat, "BitRate");
  r.frequency = n(kFormat, "Frequency");
  r.condition = n(kStart, "Condition");
  r.declenchement = n(kStart, "Declenchement");
  r.startThreshold = n(kStart, "StartThreshold");
  r.endThreshold = n(kStart, "EndThreshold");
  r.startDurationMs = n(kStart, "StartDuration");
  r.endDurationMs = n(kStart, "EndDuration");
  r.overWrite = n(kOverWrite, "Condition");
  r.startPosMs = n(kStart, "StartPos");
  r.endPosMs = n(kStart, "EndPos");
  r.startPosCutMs = n(kStart, "StartPosCut");
  return r;
}

const char* StartConditionName(int condition) {
  switch (condition) {
    case static_cast<int>(RecordStart::OnStart): return "ONSTART";
    case static_cast<int>(RecordStart::AsaEof): return "ASAEOF";
    default: return "ASAP";
  }
}

PcxRecord::PcxRecord(PcxQz& qz) : qz_(qz) {
  settings = [this] {
    AudioSetup stored;
    stored.Load(qz_.settingsFile(), SetupDevices{});
    return ReadPcxRecordSettings(stored);
  };
}

void PcxRecord::logLine(const std::string& text) {
  TraceOptions o;
  o.caller = "Lib_PCX_QZ";
  qz_.log().TraceLog(-1, 0, -1, text, o);
}

bool PcxRecord::inputAvailable() const { return qz_.toolsAvailable && qz_.pipeIn.allocated; }

bool PcxRecord::PCXToolsInSetRecordFormat(int slot, int stream) {
  if (!inputAvailable() || slot != 0 || stream < 0 || stream >= kMaxStreams) return false;
  const PcxRecordSettings s = settings();
  const bool mpeg = s.compression == 0;
  const bool layer2 = s.layer == 0;
  const int coding = mpeg ? kCodingMpeg : kCodingLinear;
  const int linear = mpeg ? 0 : 1;
  const int layer = mpeg ? (layer2 ? 2 : 3) : 1;
  const int bitRate = mpeg ? Pick(kRecordBitRates, s.bitRate) : 0;
  const int layer2Flag = mpeg ? (layer2 ? 1 : 0) : 1;
  const int frequency = Pick(kRecordFrequencies, s.frequency);
  BoardTools& tools = *qz_.tools();
  if (!tools.TOOLStreamSetRecordFormatEx(qz_.pipeIn.handle, qz_.pipeIn.streams[stream].handle, 0, coding, linear,
                                         layer, bitRate, layer2Flag, 0, frequency, kRecordBufferBytes, 0)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLStreamSetRecordFormatEx |IN", std::string(kModule) + "PCXToolsInSetRecordFormat");
    return false;
  }
  logLine("Set Record Format |IN Ok");
  return true;
}

bool PcxRecord::PCXToolsInRecordFile(int slot, int stream, const std::string& file, bool& cancelled) {
  cancelled = false;
  if (programStopping || !inputAvailable() || slot != 0 || stream < 0 || stream >= kMaxStreams) return false;
  const std::string procedure = std::string(kModule) + "PCXToolsInRecordFile";
  const PcxRecordSettings s = settings();
  const bool threshold = s.declenchement != 0;
  const int condition = std::clamp(s.condition, 0, static_cast<int>(RecordStart::AsaEof));
  const float startDb = static_cast<float>(Pick(kRecordThresholdsDb, s.startThreshold));
  const float endDb = static_cast<float>(Pick(kRecordThresholdsDb, s.endThreshold));
  const int startDuration = std::max(0, s.startDurationMs), endDuration = std::max(0, s.endDurationMs);

  RecordMode mode = RecordMode::Safe;
  int64_t start = 0, end = 0;
  switch (std::clamp(s.overWrite, 0, static_cast<int>(RecordMode::ReplaceCut))) {
    case 0:
      if (File_Exist(file)) {
        const Answer a = qz_.prompt().message(
            "Que voulez-vous faire ?\n\nUn son existe déjà.\n\nOui: Remplacer le son existant\n"
            "Non: Ajouter l'enregistrement à la fin du son existant",
            Icon::Question, Buttons::YesNoCancel, qz_.setup.caption);
        if (a == Answer::Cancel) {
          cancelled = true;
          return false;
        }
        const bool replace = a == Answer::Yes;
        qz_.log().TraceLogEncadre(-1, -1, -1,
                                  std::string("Question: Que voulez-vous faire ? |Reponse: ") +
                                      (replace ? "Remplacer le son existant"
                                               : "Ajouter l'enregistrement à la fin du son existant"),
                                  '=');
        if (soundChanged) soundChanged();
        logLine("SoundChanged change to: True |Sub: " + procedure);
        if (replace) {
          if (clearPictures) clearPictures();
          mode = RecordMode::Erase;
        } else {
          appendBase = currentDurationMs ? currentDurationMs() : 0;
          mode = RecordMode::Append;
        }
      }
      break;
    case 1:
      mode = RecordMode::Erase;
      if (clearPictures) clearPictures();
      if (deleteSteps) deleteSteps();
      break;
    case 2: mode = RecordMode::Append; break;
    case 3:
      mode = RecordMode::ReplaceSafe;
      start = s.startPosMs;
      end = s.endPosMs;
      break;
    default:
      mode = RecordMode::ReplaceCut;
      start = s.startPosCutMs;
      break;
  }

  BoardTools& tools = *qz_.tools();
  const uint32_t pipe = qz_.pipeIn.handle, streamHandle = qz_.pipeIn.streams[stream].handle;
  if (threshold) {
    recordHandle = tools.TOOLRecordFileOnThreshold(pipe, streamHandle, file, static_cast<int>(mode), condition, start,
                                                   end, startDuration + kThresholdMarginMs, startDb, startDuration,
                                                   endDuration + kThresholdMarginMs, endDb, endDuration);
    if (recordHandle == 0) {
      bool show = false;
      qz_.GestionErreurPCXTools(show, "TOOLRecordFileOnThreshold |IN", procedure);
      return false;
    }
    logLine("Record file On Threshold active for: " + file);
  } else {
    recordHandle = tools.TOOLRecordFile(pipe, streamHandle, file, static_cast<int>(mode), condition, start, end);
    if (recordHandle == 0) {
      if (tools.TOOLGetLastError() == kFileInUseCode) {
        qz_.prompt().message("Fichier en cours d'utilisation. Record impossible.", Icon::Critical, Buttons::Ok,
                             qz_.setup.caption);
      } else {
        bool show = false;
        qz_.GestionErreurPCXTools(show, "TOOLRecordFile |IN", procedure);
      }
      return false;
    }
    logLine("Record file active for: " + file);
  }
  if (!tools.TOOLPipeSetMonitoringMute(pipe, 0)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLPipeSetMonitoringMute", procedure);
  }
  recording = true;
  paused = false;
  recordStream = stream;
  logLine(std::string("OverWriteMode: ") + RecordModeName(mode));
  logLine(std::string("StartCondition: ") + StartConditionName(condition));
  logLine("StartPosition: " + std::to_string(start) +
          " EndPosition: " + (end == 0 ? std::string("RECORD_UNTIL_STOP") : std::to_string(end)));
  return true;
}

bool PcxRecord::DigitalRecordActivation(int slot, int board, int input, bool activate) {
  if (!inputAvailable() || slot != 0) return false;
  BoardTools& tools = *qz_.tools();
  const uint32_t pipe = qz_.pipeIn.handle;
  const std::string procedure = std::string(kModule) + "DigitalRecordActivation";
  if (!activate) {
    // Back to the analog input; the clock stays as it was.
    return tools.TOOLPipeDefineDigitalInput(pipe, kDataFromAnalog);
  }
  const int value = PcxQz::DigitalClock(qz_.setup.in.clockPosition);
  // Values from 8000 up are frequencies of the board's own clock.
  int type = value >= 8000 ? static_cast<int>(kClockInternal) : value;
  int frequency = value >= 8000 ? value : 0;
  while (!tools.TOOLPipeSetClockEx(pipe, kDirIn, type, frequency, board)) {
    if (type == kClockNone) {
      bool show = false;
      qz_.GestionErreurPCXTools(show, "TOOLPipeSetClockEx |IN", procedure);
      return false;
    }
    logLine("TOOLPipeSetClockEx |IN fail to set to " + ClockName(type, frequency) + ". Change to CLOCK_NO");
    type = kClockNone;
    frequency = 0;
  }
  logLine("TOOLPipeSetClockEx |IN set to " + ClockName(type, frequency) + ". NoBoard: " + std::to_string(board) +
          " NoUERInput: " + std::to_string(input));
  const int source = std::clamp(qz_.setup.in.digitalFormat, static_cast<int>(kDataFromAnalog),
                                static_cast<int>(kDataFromAudioOverIp));
  if (!tools.TOOLPipeDefineDigitalInput(pipe, source)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLPipeDefineDigitalInput", procedure);
    return false;
  }
  logLine(std::string("TOOLPipeDefineDigitalInput Ok: ") + DataSourceName(source));
  return true;
}

bool PcxRecord::PCXToolsInStreamStart(int stream) {
  if (!inputAvailable() || stream < 0 || stream >= kMaxStreams) return false;
  if (!qz_.tools()->TOOLStreamStart(qz_.pipeIn.handle, kDirIn, qz_.pipeIn.streams[stream].handle)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLStreamStart |IN", std::string(kModule) + "PCXToolsInStreamStart");
    return false;
  }
  return true;
}

bool PcxRecord::RecordPause() {
  if (!inputAvailable()) return false;
  BoardTools& tools = *qz_.tools();
  bool show = false;
  if (!tools.TOOLPipeSetMonitoringMute(qz_.pipeIn.handle, -1))
    qz_.GestionErreurPCXTools(show, "TOOLPipeSetMonitoringMute", std::string(kModule) + "RecordPause");
  if (!tools.TOOLPipePause(qz_.pipeIn.handle, kDirIn, 1)) {
    qz_.GestionErreurPCXTools(show, "TOOLPipePause (True)", std::string(kModule) + "RecordPause");
    return false;
  }
  paused = true;
  return true;
}

bool PcxRecord::RecordPauseOff() {
  if (!inputAvailable()) return false;
  DigitalRecordActivation(0, qz_.setup.in.clockBoard, qz_.setup.in.clockInput, true);
  const bool ok = qz_.PCXToolsInPipeStart() && PCXToolsInStreamStart(recordStream);
  if (!ok) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLPipePause (False)", "Lib_Pointeurs:RecordPauseOff");
    return false;
  }
  paused = false;
  logLine("TOOLPipePause (False)");
  return true;
}

}  // namespace sono::audio
