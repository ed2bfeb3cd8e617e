#include "editor/audition_deck.h"

#include <fmt/format.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/engine/engine.h"
#include "audio/player/player_control.h"
#include "audio/player/player_errors.h"
#include "core/datetime.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/house_format.h"
#include "core/text.h"
#include "editor/frame_edit.h"
#include "editor/smooth_join.h"

namespace sono::editor {

namespace {
constexpr int kPlayer = 0;       // the first audition stream: the sound under edit
constexpr int kPlayers = 2;      // and the second, for the mixing audition
constexpr int kMixPlayer = 1;    // the second audition stream
constexpr int kStartNextTrigger = 1;  // the mix's join: the second stream starts
constexpr int kStepTrigger = 8;  // stops the player with its smoothing (the fade-out)
constexpr int kMaxRenderMs = 1000;  // a stalled window does not render minutes at once
constexpr int64_t kMaxSmoothingMs = 60000;  // the player's longest fade

double Number(const std::string& text, double fallback) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end != text.c_str() && std::isfinite(v) ? v : fallback;
}

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
      player_(std::make_unique<audio::PlayerControl>(*engine_, kPlayers)) {
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
  player_->onTriggerReached = [this](int player, int id, int64_t, int64_t) { onTrigger(player, id); };
  lastTick_ = idleSince_ = clock_.tickMs();
}

AuditionDeck::~AuditionDeck() {
  if (!joined_.empty()) File_Delete(joined_);
}

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
  slotLevelDb = Number(LectureIni(file, kSettingsSection, kLevelKey, "0"), 0);
  preRollS = std::max(0.0, Number(LectureIni(file, kSettingsSection, kPreRollKey, "2"), 2));
  postRollS = std::max(0.0, Number(LectureIni(file, kSettingsSection, kPostRollKey, "2"), 2));
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
  for (int p = 0; p < kPlayers; ++p) player_->CloseSound(p);
  releaseOutput();
}

bool AuditionDeck::outputIsVirtual() const {
  return inUse_ >= 0 && outputs_[static_cast<size_t>(inUse_)].isVirtual;
}

// The file as it is on disk now: an edit (here or on another workstation)
// replaces it under the same name.
AuditionDeck::FileStamp AuditionDeck::StampOf(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool AuditionDeck::loadOn(int player, const std::string& soundFile, int attempt, bool& retry) {
  retry = false;
  const FileStamp stamp = StampOf(soundFile);
  auto& loaded = stamps_[static_cast<size_t>(player)];
  if (player_->GetSoundFile(player) == soundFile && loaded == stamp) return true;
  loaded = stamp;
  if (const int rc = player_->LoadSoundFast(player, soundFile)) {
    if (DeviceError(rc) && attempt == 0) {
      releaseOutput();
      retry = true;
      return false;
    }
    log_.TraceLog(fmt::format("Err: Listen: Sound not loaded |{} |{}", soundFile, audio::dj::ErrorText(rc)));
    return false;
  }
  if (const int64_t damaged = player_->GetSoundDamagedFrames(player))
    log_.TraceLog(fmt::format("Err: Damaged sound: {} |Damaged frames: {}", soundFile, damaged));
  return true;
}

void AuditionDeck::PlayRange(const std::string& soundFile, int startMs, int endMs) {
  rangeListRunning_ = false;
  play(soundFile, AuditionRange{startMs, endMs});
}

bool AuditionDeck::play(const std::string& soundFile, const AuditionRange& range) {
  if (!ready() || soundFile.empty()) return false;
  // One more try through the other outputs when the device went away since
  // it was opened.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!openOutput()) return false;
    idleSince_ = clock_.tickMs();
    bool retry = false;
    if (!loadOn(kPlayer, soundFile, attempt, retry)) {
      if (retry) continue;
      return false;
    }
    // The audition level: the slot's plus the sound's correction.
    player_->SetPlayerVolumeEx(kPlayer, slotLevelDb, audio::VolumeScale::Db);
    if (editor_) {
      player_->StreamVolumeLevelSet(kPlayer, static_cast<double>(editor_->ptx.position[data::kLevel]) / 100.0,
                                    audio::VolumeScale::Db);
      player_->SetTempoPerc(kPlayer, PlaySoundInitSpeed(editor_->ptx.position[data::kPitch]));
    }
    const int64_t duration = player_->GetSoundDuration(kPlayer);
    const int64_t end = range.endMs > 0 ? std::min<int64_t>(range.endMs, duration) : duration;
    if (range.startMs < 0 || range.startMs >= end) return false;
    const int64_t fadeOut = std::min<int64_t>(range.fadeOutMs, kMaxSmoothingMs);
    player_->StreamVolumeSmoothingSet(kPlayer, std::min<int64_t>(range.fadeInMs, kMaxSmoothingMs),
                                      fadeOut > 0 ? fadeOut : kStopFadeMs);
    player_->RemoveTrigger(kPlayer, kStepTrigger);
    player_->RemoveTrigger(kPlayer, kStartNextTrigger);
    if (fadeOut > 0 && end - fadeOut > range.startMs) player_->AddTrigger(kPlayer, kStepTrigger, end - fadeOut);
    if (const int rc = player_->PlaySoundRange(kPlayer, range.startMs, end)) {
      if (DeviceError(rc) && attempt == 0) {
        releaseOutput();
        continue;
      }
      log_.TraceLog(fmt::format("Err: Listen: {} |{}", soundFile, audio::dj::ErrorText(rc)));
      return false;
    }
    preListening_ = false;
    played_ = range;
    played_.endMs = static_cast<int>(end);
    rangeStartCaption = Tps2MinSecCen(range.startMs);
    rangeEndCaption = Tps2MinSecCen(static_cast<double>(end));
    lastTick_ = clock_.tickMs();
    headMs_ = range.startMs;
    tailMs_ = 0;
    wasPlaying_ = true;
    return true;
  }
  return false;
}

void AuditionDeck::onTrigger(int player, int id) {
  if (id == kStepTrigger) player_->StopSound(player);  // fades out with the smoothing set at play
  if (id == kStartNextTrigger && mixSecond_ >= 0) {
    const int second = mixSecond_;
    mixSecond_ = -1;
    player_->RemoveTrigger(player, kStartNextTrigger);
    if (const int rc = player_->PlaySoundRange(second, mixPlan_.second.startMs, mixPlan_.second.endMs))
      log_.TraceLog(fmt::format("Err: Listen: Mixe |{}", audio::dj::ErrorText(rc)));
  }
}

bool AuditionDeck::EcouteMixage(bool startOfSound, const std::optional<MixSong>& other) {
  if (!editor_) return false;
  if (mixing_) {
    tell("Vous êtes déjà en écoute de mixage.");
    return false;
  }
  if (playing() || paused()) Stop();
  const CurrentSound& s = editor_->sound;
  if (s.soundFile.empty() || s.code.find_first_not_of(' ') == std::string::npos) {
    tell(startOfSound ? "Vous n'avez pas sélectionné de fichier pour l'écoute du mixe de début."
                      : "Vous n'avez pas sélectionné de fichier pour l'écoute du mixe de fin.");
    return false;
  }
  if (!File_Exist(s.soundFile)) {
    tell("Fichier '" + s.soundFile + "' non trouvé.");
    return false;
  }
  if (!other || other->soundFile == s.soundFile) {
    tell("Il n'y a pas de morceau pour écouter l'enchainement");
    return false;
  }
  if (!File_Exist(other->soundFile) || other->durationMs <= 0) {
    tell("Fichier '" + other->soundFile + "' non trouvé.");
    return false;
  }
  log_.TraceLog(startOfSound ? "Listen: Start Mixe" : "Listen: End Mixe");
  readChoice();
  MixSong current;
  current.code = s.code;
  current.soundFile = s.soundFile;
  current.durationMs = editor_->soundLength();
  current.startNextMs = static_cast<int>(editor_->ptx.position[data::kStartNext]);
  current.fadeOutMs = static_cast<int>(editor_->ptx.position[data::kFadeOut]);
  current.levelDb = static_cast<double>(editor_->ptx.position[data::kLevel]) / 100.0;
  current.pitch = editor_->ptx.position[data::kPitch];
  const MixPlan plan = PlanMix(startOfSound, current, *other);
  const int first = plan.currentFirst ? kPlayer : kMixPlayer, second = plan.currentFirst ? kMixPlayer : kPlayer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!openOutput()) return false;
    bool retry = false, loaded = true;
    const MixSong* songs[] = {&current, &*other};  // the first stream, the second
    for (int player : {kPlayer, kMixPlayer}) {
      const MixSong* song = songs[player];
      if (!loaded || !loadOn(player, song->soundFile, attempt, retry)) {
        loaded = false;
        continue;
      }
      player_->SetPlayerVolumeEx(player, slotLevelDb, audio::VolumeScale::Db);
      player_->StreamVolumeLevelSet(player, song->levelDb, audio::VolumeScale::Db);
      player_->SetTempoPerc(player, PlaySoundInitSpeed(song->pitch));
      player_->StreamVolumeSmoothingSet(player, 0, player == kPlayer ? kStopFadeMs : 0);
      player_->RemoveAllTriggers(player);
    }
    if (!loaded) {
      if (retry) continue;
      return false;
    }
    mixPlan_ = plan;
    mixSecond_ = second;
    mixFirst_ = first;
    player_->AddTrigger(first, kStartNextTrigger, plan.joinMs);
    if (const int rc = player_->PlaySoundRange(first, plan.first.startMs, plan.first.endMs)) {
      mixSecond_ = -1;
      if (DeviceError(rc) && attempt == 0) {
        releaseOutput();
        continue;
      }
      log_.TraceLog(fmt::format("Err: Listen: Mixe |{}", audio::dj::ErrorText(rc)));
      return false;
    }
    mixing_ = true;
    played_ = {plan.first.startMs, plan.first.endMs};
    rangeStartCaption = Tps2MinSecCen(plan.first.startMs);
    rangeEndCaption = Tps2MinSecCen(plan.first.endMs);
    lastTick_ = clock_.tickMs();
    headMs_ = plan.currentFirst ? plan.first.startMs : 0;
    tailMs_ = 0;
    wasPlaying_ = true;
    return true;
  }
  return false;
}

RangeInputs AuditionDeck::rangeInputs() const {
  RangeInputs in;
  if (editor_) {
    const StripSelection& sel = editor_->sound.selection;
    if (sel.marked) {
      in.selectionStartMs = sel.startMs;
      in.selectionEndMs = sel.endMs;
    } else {
      // No selection: the play position stands for a bare play point.
      in.selectionStartMs = in.selectionEndMs = editor_->playPosition;
    }
    in.durationMs = editor_->soundLength();
  }
  in.preRollS = preRollS;
  in.postRollS = postRollS;
  in.nature = AuditionNature::DirectX;
  return in;
}

bool AuditionDeck::SetRolls(double preS, double postS) {
  readChoice();
  preRollS = std::max(0.0, preS);
  postRollS = std::max(0.0, postS);
  const std::string file = settingsFile ? settingsFile() : std::string();
  if (file.empty()) return true;
  if (EcritureIni(file, kSettingsSection, kPreRollKey, fmt::format("{}", preRollS)) &&
      EcritureIni(file, kSettingsSection, kPostRollKey, fmt::format("{}", postRollS)))
    return true;
  log_.TraceLog("Err: Audition pre-roll not saved: " + file);
  tell("Le pré-roll et le post-roll n'ont pas pu être enregistrés dans " + file + ".");
  return false;
}

bool AuditionDeck::PlayRanges(const std::vector<std::pair<int, int>>& ranges) {
  if (ranges.size() > 1 && editor_) {
    const std::string& sound = editor_->sound.soundFile;
    const long long count = HouseFrameCount(sound);
    std::vector<FramePiece> pieces;
    for (const auto& [from, to] : ranges) {
      const FrameSpan frames{from / kHouseFrameMs + 1, std::min<long long>(count, (to + kHouseFrameMs - 1) / kHouseFrameMs)};
      if (!frames.empty()) pieces.push_back({sound, frames});
    }
    if (count > 0 && !pieces.empty()) {
      // A new name each time: the player never takes the previous one for it.
      const char* tmp = std::getenv("TMPDIR");
      std::string folder = tmp && *tmp ? tmp : "/tmp";
      if (folder.back() != '/') folder += '/';
      const std::string joined = folder + fmt::format("sonoteka-ecoute-{}-{}{}", ::getpid(), ++joinedCount_, kHouseExtension);
      if (const std::string error = WriteFramePieces(joined, pieces); !error.empty()) {
        log_.TraceLog("Err: PlayRanges: " + error);
        tell("Ecoute impossible: " + error);
        return false;
      }
      // With "Jonctions douces" the joins are heard as a cut of the steps
      // would make them: the same smoothing on the same pieces.
      if (pieces.size() > 1 && smoothJoins && smoothJoins()) {
        const SmoothJoinsResult r = SmoothJoins(joined, pieces);
        log_.TraceLog(fmt::format("PlayRanges: Smooth joins: {} of {}", r.smoothed, r.joins));
        for (const std::string& why : r.leftHard) log_.TraceLog("Err: PlayRanges: Join left hard |At " + why);
        if (!r.error.empty()) {
          File_Delete(joined);
          log_.TraceLog("Err: PlayRanges: " + r.error);
          tell("Ecoute impossible: " + r.error);
          return false;
        }
      }
      if (!joined_.empty()) File_Delete(joined_);
      joined_ = joined;
      rangeList.clear();
      rangeListRunning_ = false;
      log_.TraceLog(fmt::format("PlayRanges: {} ranges joined |File: {}", pieces.size(), joined));
      return play(joined, AuditionRange{0, 0});
    }
  }
  rangeList.clear();
  for (const auto& [from, to] : ranges) rangeList.add(from, to);
  int startMs = 0, endMs = 0;
  return BtnsPlay(PlayButton::PlayOut, "GestionSteps", startMs, endMs, true);
}

bool AuditionDeck::AddSelectionToRangeList() {
  if (!editor_) return false;
  const StripSelection& sel = editor_->sound.selection;
  const int from = std::min(sel.startMs, sel.endMs), to = std::max(sel.startMs, sel.endMs);
  if (!sel.marked || from == to) {
    tell("Vous devez sélectionner une portion de son.");
    return false;
  }
  rangeList.add(from, to);
  return true;
}

void AuditionDeck::FillRangeList(const std::vector<std::pair<int, int>>& ranges) {
  if (rangeListRunning_) Stop();
  rangeList.clear();
  for (const auto& [from, to] : ranges)
    if (to > from) rangeList.add(from, to);
}

void AuditionDeck::ClearRangeList() { FillRangeList({}); }

bool AuditionDeck::PlayRangeList() {
  if (playing() || paused()) Stop();
  rangeList.index = 0;
  int startMs = 0, endMs = 0;
  return BtnsPlay(PlayButton::PlayOut, "ListePlages", startMs, endMs, true);
}

std::vector<std::string> AuditionDeck::RangeListCaptions() const {
  std::vector<std::string> captions;
  for (size_t i = 0; i < rangeList.items.size(); ++i)
    if (const auto range = rangeList.At(i))
      captions.push_back(fmt::format("{}: {} – {}", i + 1, Trim(Tps2MinSecMil(range->first)),
                                     Trim(Tps2MinSecMil(range->second))));
  return captions;
}

bool AuditionDeck::BtnsPlay(PlayButton button, const std::string& caller, int& startMs, int& endMs,
                            bool rangeList) {
  if (!editor_) return false;
  const CurrentSound& s = editor_->sound;
  if (s.code.find_first_not_of(' ') == std::string::npos || s.soundFile.empty()) return false;
  readChoice();
  const RangeInputs in = rangeInputs();
  ReadPlayRange(startMs, endMs, in);
  log_.TraceLog(fmt::format("BtnsPlay: {} |Caller: {} |Start: {} |End: {}", PlayButtonName(button), caller, startMs,
                            endMs));
  switch (button) {
    case PlayButton::Stop:
      Stop();
      return true;
    case PlayButton::Pause: {
      const bool wasPaused = paused();
      if (!wasPaused && !playing()) return false;
      for (int p = 0; p < kPlayers; ++p) {
        if (wasPaused && player_->GetPlayerStatus(p) == audio::PlayerStatus::Paused) player_->ResumeSound(p);
        else if (!wasPaused && player_->GetPlayerStatus(p) == audio::PlayerStatus::Playing) player_->PauseSound(p);
      }
      lastTick_ = clock_.tickMs();
      return true;
    }
    case PlayButton::GotoBegin:
      GotoBegin();
      return true;
    case PlayButton::GotoEnd:
      GotoEnd();
      return true;
    case PlayButton::PlayOut:
      if (rangeList) {
        const auto next = this->rangeList.Next();
        if (!next) {
          rangeListRunning_ = false;
          return false;
        }
        startMs = next->first;
        endMs = next->second;
        const auto range = RangeOfButton(PlayButton::PlayIn, startMs, endMs, in);
        rangeListRunning_ = range && play(s.soundFile, *range);
        return rangeListRunning_;
      }
      break;
    default:
      break;
  }
  rangeListRunning_ = false;
  const auto range = RangeOfButton(button, startMs, endMs, in);
  return range && play(s.soundFile, *range);
}

bool AuditionDeck::PreEcouteSon(PreListen action) {
  switch (action) {
    case PreListen::Stop:
      Stop();
      return true;
    case PreListen::PauseResume:
      if (!preListening_) return false;
      if (paused()) player_->ResumeSound(kPlayer);
      else player_->PauseSound(kPlayer);
      lastTick_ = clock_.tickMs();
      return true;
    case PreListen::Play:
      break;
  }
  const std::string file = preListenFile;
  log_.TraceLog("Pre-listening: Try to listen: " + file);
  if (file.empty() || !File_Exist(file)) {
    log_.TraceLog("Pre-listening: File not found: " + file);
    tell("Fichier son non trouvé: " + file);
    return false;
  }
  if (playing() || paused()) Stop();
  readChoice();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!openOutput()) return false;
    bool retry = false;
    if (!loadOn(kPlayer, file, attempt, retry)) {
      if (retry) continue;
      log_.TraceLog("Pre-listening: DirectX: Sound not loaded");
      tell("Le son " + file + " ne peut pas être lu.");
      return false;
    }
    log_.TraceLog("Pre-listening: DirectX: Sound loaded");
    // The file as it is: the slot's level, no correction, nominal speed.
    player_->SetPlayerVolumeEx(kPlayer, slotLevelDb, audio::VolumeScale::Db);
    player_->StreamVolumeLevelSet(kPlayer, 0, audio::VolumeScale::Db);
    player_->SetTempoPerc(kPlayer, 0);
    player_->StreamVolumeSmoothingSet(kPlayer, 0, kStopFadeMs);
    player_->RemoveAllTriggers(kPlayer);
    const int64_t duration = player_->GetSoundDuration(kPlayer);
    if (const int rc = player_->PlaySoundRange(kPlayer, 0, duration)) {
      if (DeviceError(rc) && attempt == 0) {
        releaseOutput();
        continue;
      }
      log_.TraceLog(fmt::format("Err: Pre-listening: {} |{}", file, audio::dj::ErrorText(rc)));
      return false;
    }
    preListening_ = true;
    played_ = {0, static_cast<int>(duration)};
    lastTick_ = clock_.tickMs();
    headMs_ = 0;
    tailMs_ = 0;
    wasPlaying_ = true;
    return true;
  }
  return false;
}

int AuditionDeck::durationMs() const { return static_cast<int>(player_->GetSoundDuration(kPlayer)); }

void AuditionDeck::ChronometerDoubleClick() {
  if (!editor_) return;
  int start = editor_->playPosition, end = 0;
  if (playing() || paused()) Stop();
  BtnsPlay(PlayButton::PlayFrom, "LabelChrono:DblClick", start, end);
}

void AuditionDeck::Stop() {
  rangeListRunning_ = false;
  const bool sounding = playing() || paused();
  if (!player_->GetSoundFile(kPlayer).empty()) {
    player_->RemoveTrigger(kPlayer, kStepTrigger);
    player_->StreamVolumeSmoothingSet(kPlayer, 0, kStopFadeMs);
    player_->StopSound(kPlayer);
  }
  for (int p = kPlayer + 1; p < kPlayers; ++p)
    if (!player_->GetSoundFile(p).empty()) {
      player_->StreamVolumeSmoothingSet(p, 0, 0);
      player_->StopSound(p);
    }
  if (sounding) tailMs_ = kStopFadeMs;
  rangeStartCaption.clear();
  rangeEndCaption.clear();
  FinDeJeu();
}

bool AuditionDeck::paused() const {
  for (int p = 0; p < kPlayers; ++p)
    if (player_->GetPlayerStatus(p) == audio::PlayerStatus::Paused) return true;
  return false;
}

bool AuditionDeck::playing() const {
  for (int p = 0; p < kPlayers; ++p)
    if (player_->GetPlayerStatus(p) == audio::PlayerStatus::Playing) return true;
  return false;
}

void AuditionDeck::PlayStop() {
  if (!editor_) return;
  if (playing() || paused()) {
    Stop();
    return;
  }
  const CurrentSound& s = editor_->sound;
  if (s.soundFile.empty() || s.code.find_first_not_of(' ') == std::string::npos) return;
  const StripSelection& sel = s.selection;
  int start = -1, end = -1;
  if (sel.marked && sel.endMs > sel.startMs) BtnsPlay(PlayButton::PlayIn, "Space", start, end);
  else {
    start = editor_->playPosition;
    end = 0;
    BtnsPlay(PlayButton::PlayFrom, "Space", start, end);
  }
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

void AuditionDeck::render(int ms) {
  // In steps of the player's poll, so that triggers act within one period.
  for (int done = 0; done < ms; done += kPollStepMs) {
    if (outputIsVirtual()) engine_->virtualDevice().renderMs(std::min(kPollStepMs, ms - done));
    player_->Poll();
    // A join at the very end of the first sound is its end: no trigger lies there.
    if (mixSecond_ >= 0 && player_->GetPlayerStatus(mixFirst_) != audio::PlayerStatus::Playing &&
        player_->GetPlayerStatus(mixFirst_) != audio::PlayerStatus::Paused)
      onTrigger(mixFirst_, kStartNextTrigger);
    // The range list goes on with its next item as soon as one ends.
    if (rangeListRunning_ && !playing() && !paused()) {
      int start = 0, end = 0;
      BtnsPlay(PlayButton::PlayOut, "TimerPtx", start, end, true);
    }
  }
}

bool AuditionDeck::TimerPtx() {
  const uint64_t now = clock_.tickMs();
  const int elapsed = static_cast<int>(std::min<uint64_t>(now - lastTick_, kMaxRenderMs));
  lastTick_ = now;
  if (!wasPlaying_) {
    // What a stop's fade still has to play.
    if (tailMs_ > 0 && inUse_ >= 0) {
      const int ms = std::min(tailMs_, elapsed);
      if (outputIsVirtual() && ms > 0) engine_->virtualDevice().renderMs(ms);
      tailMs_ -= ms;
    }
    // Nothing plays: the output is let go of a little after the end.
    if (inUse_ >= 0 && !playing() && now - idleSince_ >= static_cast<uint64_t>(kReleaseAfterMs))
      releaseOutput();
    return false;
  }
  if (paused()) {
    player_->Poll();
    return false;
  }
  render(elapsed);
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
    // A fade-out that stopped the player still sounds for its length.
    if (played_.fadeOutMs > 0) tailMs_ = static_cast<int>(std::min<int64_t>(played_.fadeOutMs, kMaxSmoothingMs));
    FinDeJeu();
    return true;
  }
  headMs_ = static_cast<int>(player_->GetPlayerPosition(kPlayer));
  chronometer = Tps2MinSecCen(headMs_);
  // A pre-listened file is not the sound under edit: its head stays off the views.
  if (view_ && !preListening_) view_->AffichePositionTeteLecture(headMs_);
  return true;
}

void AuditionDeck::FinDeJeu() {
  wasPlaying_ = false;
  mixing_ = false;
  preListening_ = false;
  mixSecond_ = -1;
  chronometer = kChronometerIdle;
  idleSince_ = clock_.tickMs();
  levelLeftDb = levelRightDb = -200;
  if (!view_) return;
  // The play head goes with the end of the play.
  view_->workingHeadShown = view_->globalHeadShown = false;
  view_->GestionAffichageSpectre();
}

}  // namespace sono::editor
