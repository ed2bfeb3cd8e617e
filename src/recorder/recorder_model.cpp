#include "recorder/recorder_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "audio/codec/house_format.h"
#include "audio/codec/sound_reader.h"
#include "audio/engine/alsa_capture.h"
#include "audio/engine/virtual_capture.h"
#include "core/files.h"

namespace sono::recorder {

namespace {
constexpr const char* kModule = "Lib_Recorder:";
constexpr const char* kNoInput =
    "Pour utiliser le Recorder il faut paramétrer les entrées\n\nAllez dans Options / Son / Entrée.";
constexpr const char* kNoSong = "Vous n'avez pas sélectionné de morceau.";
constexpr float kMeterFloorDb = -60;

std::string Stamp(const LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}
}  // namespace

RecorderModel::~RecorderModel() {
  if (take_) {
    take_->stop();
    take_->join();
  }
}

bool RecorderModel::ChargerRecorder(int mode, const std::string& caller) {
  const RecorderSettings settings = LoadRecorderSettings(config_);
  const auto inputs = CaptureInputs();
  const bool usable = settings.inputDeviceIndex < static_cast<int>(inputs.size()) &&
                      (!inputs[static_cast<size_t>(settings.inputDeviceIndex)].pcm.empty() ||
                       File_Exist(settings.virtualInputFile));
  if (!usable) {
    p_.log.TraceLog(std::string("Err: ChargerRecorder: no usable input |Sub: ") + caller);
    p_.prompt.message(kNoInput, Icon::Exclamation, Buttons::Ok);
    return false;
  }
  if (mode == 2 && !loaded_) {
    p_.log.TraceLog(std::string(kModule) + "ChargerRecorder:Start |Sub: " + caller);
    loaded_ = true;
    p_.log.TraceLog(std::string(kModule) + "ChargerRecorder:BTN_MAG_RECORD: Enabled = True |Sub: " + caller);
    p_.log.TraceLog(std::string(kModule) + "ChargerRecorder:End |Sub: " + caller);
    setStatus("Repos");
  }
  return true;
}

bool RecorderModel::TesterRecorderCharge(bool load, const std::string& caller) {
  if (loaded_) return true;
  return load && ChargerRecorder(2, caller);
}

void RecorderModel::unload() {
  if (take_) {
    stop();
    take_->join();
    finished();
  }
  loaded_ = false;
}

std::unique_ptr<audio::CaptureSource> RecorderModel::openInput(const RecorderSettings& s) {
  const auto inputs = CaptureInputs();
  if (s.inputDeviceIndex >= static_cast<int>(inputs.size())) return nullptr;
  const CaptureInput& input = inputs[static_cast<size_t>(s.inputDeviceIndex)];
  if (!input.pcm.empty()) return std::make_unique<audio::AlsaCapture>(input.pcm);
  // The virtual input reads its file as fast as the take takes it; silence
  // follows only as long as a silence stop needs, so that it always ends.
  auto capture = audio::VirtualCapture::FromFile(s.virtualInputFile);
  const TakeSettings t = TakeSettingsFrom(s);
  if (t.start == StartCondition::OnLevel && t.stopDurationMs > 0) {
    const audio::OpenedSound sound = audio::OpenSound(s.virtualInputFile);
    const int64_t fileMs = sound.reader && sound.reader->format().sampleRate > 0
                               ? sound.reader->format().lengthFrames * 1000 / sound.reader->format().sampleRate
                               : 0;
    capture->setLengthFrames((fileMs + t.stopDurationMs + t.tailMs + 1000) * audio::kHouseRate / 1000);
  } else {
    capture->setEndAtFileEnd(true);
  }
  return capture;
}

std::string RecorderModel::takePath() const {
  const RecorderSettings s = LoadRecorderSettings(config_);
  std::string path = s.folder + Stamp(p_.clock.now()) + audio::kHouseExtension;
  for (int n = 2; File_Exist(path); ++n)
    path = s.folder + Stamp(p_.clock.now()) + "_" + std::to_string(n) + audio::kHouseExtension;
  return path;
}

bool RecorderModel::start(const RecordTarget& target) {
  if (take_) {
    p_.prompt.message("Recorder déjà en cours d'enregistrement.", Icon::Exclamation, Buttons::Ok);
    return false;
  }
  // The existing-sound question: replace (at the hand-over) or append.
  append_ = false;
  if (File_Exist(target.soundFile)) {
    const Answer a = p_.prompt.message(
        "Que voulez-vous faire ?\n\nUn son existe déjà.\n\nOui: Remplacer le son existant\n"
        "Non: Ajouter l'enregistrement à la fin du son existant",
        Icon::Question, Buttons::YesNoCancel);
    if (a == Answer::Cancel) return false;
    append_ = a == Answer::No;
    p_.log.TraceLogEncadre(-1, -1, -1,
                           std::string("Question: Que voulez-vous faire ? |Reponse: ") +
                               (append_ ? "Ajouter l'enregistrement à la fin du son existant" : "Remplacer le son existant"),
                           '-');
  }
  // The settings as they are now; what could not be taken as written is logged.
  std::vector<std::string> warnings;
  const RecorderSettings s = LoadRecorderSettings(config_, &warnings);
  for (const std::string& w : warnings) p_.log.TraceLog("Err: Recorder settings: " + w + " |Sub: Lib_Recorder:Record");
  settings_ = TakeSettingsFrom(s);
  auto input = openInput(s);
  std::string error;
  if (!input) error = "aucune entrée";
  if (input && !std::filesystem::exists(s.folder)) {
    std::error_code ec;
    std::filesystem::create_directories(s.folder, ec);
  }
  takeFile_ = takePath();
  auto take = std::make_unique<TakeRecorder>();
  if (!input || !take->start(std::move(input), takeFile_, settings_, error)) {
    p_.log.TraceLog("Err: StartFromDirectSoundDevice: " + error + " |Sub: Frm_Main_Recorder:Record");
    p_.prompt.message("Recorder non prêt.\n\n" + error, Icon::Critical, Buttons::Ok);
    return false;
  }
  take_ = std::move(take);
  target_ = target;
  p_.log.TraceLog(std::string("Record file active for: ") + takeFile_);
  setStatus(settings_.start == StartCondition::OnLevel ? "Record: Attente du niveau" : "Record");
  return true;
}

void RecorderModel::stop() {
  if (take_) take_->stop();
}

void RecorderModel::Pause(bool paused) {
  if (!take_) return;
  if (paused) take_->pause();
  else take_->resume();
}

bool RecorderModel::BtnsRecord(int button, const RecordTarget& target) {
  switch (button) {
    case kRecordStart:
      if (target.code.empty()) {
        p_.prompt.message(kNoSong, Icon::Exclamation, Buttons::Ok);
        return false;
      }
      return start(target);
    case kRecordStop:
      if (!take_) return false;
      p_.log.TraceLog(":Start: Stop Record");
      stop();
      return true;
    case kRecordPauseOff:
      if (!take_) return false;
      take_->resume();
      p_.log.TraceLog("TOOLPipePause (False)");
      return true;
    default:
      return false;
  }
}

void RecorderModel::TimerRecorderStatus() {
  if (!take_) return;
  const bool done = take_->done();
  for (const TakeEvent& e : take_->takeEvents()) {
    switch (e.kind) {
      case TakeEvent::Kind::Armed: p_.log.TraceLog("Recorder: RECORD_STATUS_READY |Sub: TimerRecorderStatus"); break;
      case TakeEvent::Kind::Started:
        p_.log.TraceLog("Record started");
        p_.log.TraceLog("Recorder: RECORD_STATUS_RECORDING_FILE |Sub: TimerRecorderStatus");
        setStatus("Record");
        break;
      case TakeEvent::Kind::Paused:
        p_.log.TraceLog("Recording: Paused");
        setStatus("Record: Pause");
        break;
      case TakeEvent::Kind::Resumed:
        p_.log.TraceLog("Recording: Resumed");
        setStatus("Record");
        break;
      case TakeEvent::Kind::Overrun:
        p_.log.TraceLog("Err: Recorder: capture overrun |Frames lost: " + std::to_string(e.value) +
                        " |Sub: TimerRecorderStatus");
        break;
      case TakeEvent::Kind::Stopped: break;
      case TakeEvent::Kind::Failed:
        p_.log.TraceLog("Err: Recorder: " + e.text + " |Sub: TimerRecorderStatus");
        break;
    }
  }
  if (done) {
    take_->join();
    finished();
  }
  if (onChanged) onChanged();
}

void RecorderModel::finished() {
  lastResult_ = take_->result();
  take_.reset();
  setStatus("Repos");
  const TakeResult& r = lastResult_;
  if (r.reason == StopReason::Failure) {
    p_.prompt.message("L'enregistrement s'est interrompu: " + r.error + "\n\nLa prise est gardée: " + takeFile_ +
                          "\nLe son du morceau est inchangé.",
                      Icon::Critical, Buttons::Ok);
    return;
  }
  if (r.mpegFrames == 0) {
    std::remove(takeFile_.c_str());
    p_.log.TraceLog("Recorder: empty take removed |Sub: TimerRecorderStatus");
    return;
  }
  p_.log.TraceLog("Fichier généré: " + takeFile_);
  if (handOver && handOver(target_, takeFile_, append_)) {
    std::remove(takeFile_.c_str());
    return;
  }
  p_.prompt.message("La prise n'a pas pu être donnée au morceau.\n\nElle est gardée: " + takeFile_, Icon::Exclamation,
                    Buttons::Ok);
}

void RecorderModel::setStatus(const std::string& text) {
  status_ = text;
  if (onChanged) onChanged();
}

std::string RecorderModel::positionText() const {
  const int64_t frames = take_ ? take_->framesRecorded() : 0;
  const int64_t cs = frames / (audio::kHouseRate / 100);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld.%02lld", static_cast<long long>(cs / 6000),
                static_cast<long long>(cs / 100 % 60), static_cast<long long>(cs % 100));
  return text;
}

int RecorderModel::levelPercent() const {
  if (!take_) return 0;
  const float peak = take_->peak();
  if (peak <= 0) return 0;
  const float db = 20 * std::log10(peak);
  return static_cast<int>(std::clamp((db - kMeterFloorDb) / -kMeterFloorDb * 100, 0.0f, 100.0f));
}

}  // namespace sono::recorder
