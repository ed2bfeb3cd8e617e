#include "editor/audition_deck.h"

#include <fmt/format.h>

#include <algorithm>

#include "audio/engine/engine.h"
#include "audio/player/player_control.h"
#include "audio/player/player_errors.h"

namespace sono::editor {

namespace {
constexpr int kPlayer = 0;
constexpr int kMaxRenderMs = 1000;  // a stalled window does not render minutes at once
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
  // The first card when the machine has one, else the virtual device.
  const int first = engine_->alsaCardsFound() ? 0 : player_->VirtualDevice(0);
  SelectDevice(first);
  lastTick_ = clock_.tickMs();
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

bool AuditionDeck::SelectDevice(int index) {
  const int rc = player_->InitDJSystem(index);
  log_.TraceLog(fmt::format("InitDJSystem: {} Selected Device: {}", rc, player_->GetOutputDeviceDesc(index)));
  if (rc != 0) {
    log_.TraceLog(fmt::format("Err: Init Sound Card: Selected Device: {} |{}", player_->GetOutputDeviceDesc(index),
                              audio::dj::ErrorText(rc)));
    ready_ = false;
    return false;
  }
  device_ = index;
  ready_ = true;
  wasPlaying_ = false;
  return true;
}

void AuditionDeck::Close() {
  Stop();
  player_->CloseSound(kPlayer);
}

bool AuditionDeck::outputIsVirtual() const { return ready_ && device_ >= 0 && device_ == player_->VirtualDevice(0); }

void AuditionDeck::PlayRange(const std::string& soundFile, int startMs, int endMs) {
  if (!ready_ || soundFile.empty()) return;
  if (player_->GetSoundFile(kPlayer) != soundFile) {
    if (const int rc = player_->LoadSoundFast(kPlayer, soundFile)) {
      log_.TraceLog(fmt::format("Err: Listen: Sound not loaded |{} |{}", soundFile, audio::dj::ErrorText(rc)));
      return;
    }
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
    log_.TraceLog(fmt::format("Err: Listen: {} |{}", soundFile, audio::dj::ErrorText(rc)));
    return;
  }
  lastTick_ = clock_.tickMs();
  headMs_ = startMs;
  wasPlaying_ = true;
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
  if (!wasPlaying_) return false;
  if (outputIsVirtual() && elapsed > 0) engine_->virtualDevice().renderMs(elapsed);
  player_->Poll();
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
  levelLeftDb = levelRightDb = -200;
  if (!view_) return;
  // The play head goes with the end of the play.
  view_->workingHeadShown = view_->globalHeadShown = false;
  view_->GestionAffichageSpectre();
}

}  // namespace sono::editor
