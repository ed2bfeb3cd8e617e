#include "editor/audition_deck.h"

#include <fmt/format.h>

#include <algorithm>

#include "audio/engine/engine.h"
#include "audio/player/player_control.h"
#include "audio/player/player_errors.h"
#include "core/ini.h"

namespace sono::editor {

namespace {
constexpr int kPlayer = 0;
constexpr int kMaxRenderMs = 1000;  // a stalled window does not render minutes at once

bool DeviceError(int rc) { return rc == audio::dj::kNoValidDriver || rc == audio::dj::kDeviceBusy; }
}  // namespace

double PlaySoundInitSpeed(long long pitch) {
  if (pitch == 0) pitch = data::kPitchNeutral;
  const double percent = static_cast<double>(pitch) / data::kPitchNeutral * 100.0 - 100.0;
  return std::clamp(percent, -20.0, 20.0);
}

AuditionDeck::AuditionDeck(TraceLogger& log, Clock& clock, const audio::EngineOptions& options)
    : log_(log),
      clock_(clock),
      engine_(std::make_unique<audio::Engine>(options)),
      player_(std::make_unique<audio::PlayerControl>(*engine_, 1)) {
  // The engine lists `default` first and the virtual device last; one entry
  // stands for the virtual device.
  for (int d = 0; d < player_->GetOutputDevicesCount(); ++d) {
    const audio::OutputDeviceEntry& e = *player_->outputDevice(d);
    if (e.isVirtual && d != player_->VirtualDevice(0)) continue;
    outputs_.push_back({e.key == "default" ? "Par défaut (default)" : e.name, e.key, d, e.isVirtual});
  }
  player_->onDeviceLost = [this](int, const std::string& reason) {
    lost_ = reason.empty() ? "?" : reason;
  };
  lastTick_ = idleSince_ = clock_.tickMs();
}

AuditionDeck::~AuditionDeck() = default;

void AuditionDeck::attach(PointerEditor& editor, WaveformView& view) {
  editor_ = &editor;
  view_ = &view;
}

std::vector<std::string> AuditionDeck::devices() const {
  std::vector<std::string> names;
  for (int d = 0; d < player_->GetOutputDevicesCount(); ++d) names.push_back(player_->GetOutputDeviceDesc(d));
  return names;
}

std::vector<std::string> AuditionDeck::outputs() const {
  std::vector<std::string> names;
  for (const Output& o : outputs_) names.push_back(o.label);
  return names;
}

std::string AuditionDeck::outputKey(int index) const {
  return index >= 0 && index < static_cast<int>(outputs_.size()) ? outputs_[static_cast<size_t>(index)].key
                                                                  : std::string();
}

void AuditionDeck::readChoice() {
  if (choiceRead_) return;
  const std::string file = settingsFile ? settingsFile() : std::string();
  if (file.empty()) return;  // not known yet: the first output meanwhile
  choiceRead_ = true;
  const std::string key = LectureIni(file, kSettingsSection, kSettingsKey, "");
  if (key.empty()) return;
  const auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const Output& o) { return o.key == key; });
  if (it != outputs_.end()) {
    chosen_ = static_cast<int>(it - outputs_.begin());
  } else {
    chosen_ = -1;
    missingKey_ = key;
  }
}

int AuditionDeck::output() {
  readChoice();
  return chosen_;
}

bool AuditionDeck::SelectOutput(int index) {
  if (index < 0 || index >= static_cast<int>(outputs_.size())) return false;
  readChoice();
  choiceRead_ = true;
  chosen_ = index;
  missingKey_.clear();
  message_.clear();
  const Output& o = outputs_[static_cast<size_t>(index)];
  log_.TraceLog("Audition output chosen: " + o.label + " |" + o.key);
  const std::string file = settingsFile ? settingsFile() : std::string();
  if (!file.empty() && !EcritureIni(file, kSettingsSection, kSettingsKey, o.key)) {
    log_.TraceLog("Err: Audition output not saved: " + file);
    tell("Le choix de la sortie son n'a pas pu être enregistré dans " + file + ".");
  }
  // The next play goes to the new choice.
  if (inUse_ >= 0 && inUse_ != index) {
    Stop();
    releaseOutput();
  }
  return true;
}

void AuditionDeck::tell(const std::string& text) {
  message_ = text;
  if (onMessage) onMessage(text);
}

bool AuditionDeck::openOutput() {
  if (inUse_ >= 0) return true;
  readChoice();
  std::vector<int> order;
  if (chosen_ >= 0) order.push_back(chosen_);
  for (int i = 0; i < static_cast<int>(outputs_.size()); ++i)
    if (i != chosen_) order.push_back(i);
  std::string why, reason;  // what happened to the chosen output, for the user and the log
  if (chosen_ < 0) {
    why = fmt::format("La sortie son choisie « {} » n'est pas sur cet ordinateur (débranchée ?)", missingKey_);
    reason = "missing: " + missingKey_;
  }
  for (int index : order) {
    const Output& o = outputs_[static_cast<size_t>(index)];
    const int rc = player_->InitDJSystem(o.playerDevice);
    log_.TraceLog(fmt::format("InitDJSystem: {} Selected Device: {}", rc, o.label));
    if (rc == audio::dj::kNone) {
      inUse_ = index;
      idleSince_ = clock_.tickMs();
      if (index != chosen_) {
        log_.TraceLog("Err: Audition output " + reason + " |Fallback: " + o.label);
        tell(fmt::format("{} : l'écoute passe par « {} ».", why, o.label));
      } else {
        message_.clear();  // whatever was said about it is over
      }
      return true;
    }
    log_.TraceLog(fmt::format("Err: Init Sound Card: Selected Device: {} |{}", o.label, audio::dj::ErrorText(rc)));
    if (index == chosen_) {
      const bool busy = rc == audio::dj::kDeviceBusy;
      why = "La sortie son choisie « " + o.label +
            (busy ? " » est occupée par un autre programme" : " » ne peut pas être ouverte");
      reason = (busy ? "busy: " : "cannot be opened: ") + o.label;
    }
  }
  log_.TraceLog("Err: Audition: no output available");
  tell("Aucune sortie son n'est disponible : l'écoute est impossible.");
  return false;
}

void AuditionDeck::releaseOutput() {
  if (inUse_ < 0) return;
  player_->ReleaseOutputs();
  inUse_ = -1;
}

void AuditionDeck::Close() {
  Stop();
  player_->CloseSound(kPlayer);
  releaseOutput();
}

bool AuditionDeck::outputIsVirtual() const {
  return inUse_ >= 0 && outputs_[static_cast<size_t>(inUse_)].isVirtual;
}

void AuditionDeck::PlayRange(const std::string& soundFile, int startMs, int endMs) {
  if (!ready() || soundFile.empty()) return;
  // One more try through the other outputs when the device went away since
  // it was opened.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!openOutput()) return;
    idleSince_ = clock_.tickMs();
    if (player_->GetSoundFile(kPlayer) != soundFile) {
      if (const int rc = player_->LoadSoundFast(kPlayer, soundFile)) {
        if (DeviceError(rc) && attempt == 0) {
          releaseOutput();
          continue;
        }
        log_.TraceLog(fmt::format("Err: Listen: Sound not loaded |{} |{}", soundFile, audio::dj::ErrorText(rc)));
        return;
      }
      if (const int64_t damaged = player_->GetSoundDamagedFrames(kPlayer))
        log_.TraceLog(fmt::format("Err: Damaged sound: {} |Damaged frames: {}", soundFile, damaged));
    }
    if (editor_) {
      player_->StreamVolumeLevelSet(kPlayer, static_cast<double>(editor_->ptx.position[data::kLevel]) / 100.0,
                                    audio::VolumeScale::Db);
      player_->SetTempoPerc(kPlayer, PlaySoundInitSpeed(editor_->ptx.position[data::kPitch]));
    }
    const int64_t duration = player_->GetSoundDuration(kPlayer);
    const int64_t end = endMs > 0 ? std::min<int64_t>(endMs, duration) : duration;
    if (startMs < 0 || startMs >= end) return;
    if (const int rc = player_->PlaySoundRange(kPlayer, startMs, end)) {
      if (DeviceError(rc) && attempt == 0) {
        releaseOutput();
        continue;
      }
      log_.TraceLog(fmt::format("Err: Listen: {} |{}", soundFile, audio::dj::ErrorText(rc)));
      return;
    }
    lastTick_ = clock_.tickMs();
    headMs_ = startMs;
    wasPlaying_ = true;
    return;
  }
}

void AuditionDeck::Stop() {
  if (!player_->GetSoundFile(kPlayer).empty()) player_->StopSound(kPlayer);
  FinDeJeu();
}

bool AuditionDeck::playing() const { return player_->GetPlayerStatus(kPlayer) == audio::PlayerStatus::Playing; }

void AuditionDeck::PlayStop() {
  if (!editor_) return;
  if (playing()) {
    Stop();
    return;
  }
  const CurrentSound& s = editor_->sound;
  if (s.soundFile.empty() || s.code.find_first_not_of(' ') == std::string::npos) return;
  const StripSelection& sel = s.selection;
  if (sel.marked && sel.endMs > sel.startMs) PlayRange(s.soundFile, sel.startMs, sel.endMs);
  else PlayRange(s.soundFile, editor_->playPosition, 0);
}

void AuditionDeck::GotoBegin() {
  if (!editor_ || !view_) return;
  if (playing()) Stop();
  editor_->playPosition = 0;
  headMs_ = 0;
  view_->AffichePositionTeteLecture(0);
}

void AuditionDeck::GotoEnd() {
  if (!editor_ || !view_) return;
  if (playing()) Stop();
  editor_->playPosition = editor_->soundLength();
  headMs_ = editor_->playPosition;
  view_->AffichePositionTeteLecture(headMs_);
}

bool AuditionDeck::TimerPtx() {
  const uint64_t now = clock_.tickMs();
  const int elapsed = static_cast<int>(std::min<uint64_t>(now - lastTick_, kMaxRenderMs));
  lastTick_ = now;
  if (!wasPlaying_) {
    // Nothing plays: the output is let go of a little after the end.
    if (inUse_ >= 0 && !playing() && now - idleSince_ >= static_cast<uint64_t>(kReleaseAfterMs))
      releaseOutput();
    return false;
  }
  if (outputIsVirtual() && elapsed > 0) engine_->virtualDevice().renderMs(elapsed);
  player_->Poll();
  if (!lost_.empty()) {
    const std::string label = inUse_ >= 0 ? outputs_[static_cast<size_t>(inUse_)].label : std::string();
    log_.TraceLog("Err: Audition output lost: " + label + " |" + lost_);
    tell(fmt::format("La sortie son « {} » a cessé de fonctionner ({}) : l'écoute est arrêtée. "
                     "Elle sera essayée de nouveau à la prochaine écoute.",
                     label, lost_));
    lost_.clear();
    releaseOutput();
    FinDeJeu();
    return true;
  }
  player_->GetOutputPeakDb(kPlayer, levelLeftDb, levelRightDb);
  if (!playing()) {
    FinDeJeu();
    return true;
  }
  headMs_ = static_cast<int>(player_->GetPlayerPosition(kPlayer));
  if (view_) view_->AffichePositionTeteLecture(headMs_);
  return true;
}

void AuditionDeck::FinDeJeu() {
  wasPlaying_ = false;
  idleSince_ = clock_.tickMs();
  levelLeftDb = levelRightDb = -200;
  if (!view_) return;
  // The play head goes with the end of the play.
  view_->workingHeadShown = view_->globalHeadShown = false;
  view_->GestionAffichageSpectre();
}

}  // namespace sono::editor
