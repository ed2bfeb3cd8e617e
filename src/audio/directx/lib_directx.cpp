#include "audio/directx/lib_directx.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "audio/player/player_errors.h"
#include "audio/player/sound_duration.h"
#include "audio/setup/audio_setup.h"
#include "core/files.h"
#include "core/ini.h"

namespace sono::audio {

namespace {

constexpr const char* kModule = "Lib_DirectX:";

std::string NN(int n) { return fmt::format("{:02d}", n); }
std::string Num(double v) { return fmt::format("{}", v); }

std::string ProgramFile() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("sonoteka") : path.string();
}

bool IsHouseFile(const std::string& file) {
  const std::string ext = std::filesystem::path(file).extension().string();
  std::string lower(ext);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower == ".s48";
}

}  // namespace

LibDirectX::LibDirectX(TraceLogger& log, Prompt& prompt, Clock& clock, Scheduler& scheduler,
                       Engine& engine, PcxQz& qz, std::string settingsFile)
    : log_(log),
      prompt_(prompt),
      clock_(clock),
      scheduler_(scheduler),
      engine_(engine),
      qz_(qz),
      settingsFile_(std::move(settingsFile)) {
  readInputFormats = [this](int device, std::vector<std::string>& formats) {
    return defaultInputFormats(device, formats);
  };
}

LibDirectX::~LibDirectX() = default;

PlayerControl* LibDirectX::control(int slot) {
  if (slot < 0 || slot >= kPlaybackSlots) return nullptr;
  return controls_[static_cast<size_t>(slot)].get();
}

void LibDirectX::logLine(const std::string& text, int slot, int stream) {
  TraceOptions o;
  o.caller = "Lib_DirectX";
  log_.TraceLog(-1, slot, stream, text, o);
}

void LibDirectX::logBox(const std::string& text, int slot) {
  log_.TraceLogEncadre(-1, slot, -1, text, '=');
}

void LibDirectX::configLine(const std::string& text, int slot) {
  TraceOptions o;
  o.caller = "Config_Computer";
  log_.TraceLog(-1, slot, -1, text, o);
}

void LibDirectX::AfficherErreurDJStudio(int code, const std::string& method,
                                        const std::string& procedure) {
  if (code == 0) return;
  logLine(method);
  logLine("Err: " + std::to_string(code) + " |" + dj::ErrorText(code) + " |Sub: " + procedure);
}

PlayerControl* LibDirectX::ready(int slot, int player, const std::string& method,
                                 const std::string& procedure) {
  PlayerControl* c = control(slot);
  if (!c || !c->initialized() || player < 0 || player >= c->players()) {
    AfficherErreurDJStudio(dj::kInvalidPlayer, method, procedure);
    return nullptr;
  }
  return c;
}

// --- start of the output

void LibDirectX::InitDirectXOut(int slot) {
  if (slot < 0 || slot >= kPlaybackSlots || log_.closing()) return;
  auto& c = controls_[static_cast<size_t>(slot)];
  if (!c) c = std::make_unique<PlayerControl>(engine_, kPlayersPerControl);
  c->onTriggerReached = [this, slot](int player, int id, int64_t triggerMs, int64_t) {
    logLine("Trigger Reached: " + Triggers::LibTrigger(id) + " |Position: " +
                std::to_string(triggerMs) + " ms |DirectX",
            slot, player);
    if (onTrigger) onTrigger(slot, player, id, triggerMs);
  };
  c->onSoundDone = [this, slot](int player) {
    if (onSoundDone) onSoundDone(slot, player);
  };
  // A card that stops under a play: the player stopped; the user is told, and
  // the next play opens the device again.
  c->onDeviceLost = [this, slot](int player, const std::string& reason) {
    logLine("Err: Sound Card stopped |" + reason + " |Sub: " + std::string(kModule) + "Poll", slot, player);
    prompt_.message("La carte son a cessé de fonctionner (" + reason + ").\n\nLa lecture est arrêtée.",
                    Icon::Critical, Buttons::Ok, qz_.setup.caption);
    if (onSoundDone) onSoundDone(slot, player);
  };

  logLine("File: " + ProgramFile() + " |ControlVersion: " + Num(controlVersion), slot);
  AudioSetup stored;
  stored.Load(settingsFile_, DevicesOfEngine(engine_));
  bufferLength = static_cast<int>(stored.number(kDirectXSection, "BufferSize"));
  // The number as stored, even of a device gone: the log names it.
  int device = static_cast<int>(stored.number(DeviceSection(kNatureDirectX, SetupSide::Out, slot), "Device"));
  if (device < 0 || device >= c->GetOutputDevicesCount()) {
    logBox("Device " + std::to_string(device) + " unavailable", slot);
    // The virtual output of the slot keeps the program working without the card.
    device = std::max(0, c->VirtualDevice(slot % std::max(1, engine_.virtualDevice().mixer().outputPairs())));
  }
  deviceOut[static_cast<size_t>(slot)] = device;

  if (c->initialized())
    for (int p = 0; p < c->players(); ++p) c->StopSound(p);
  logBox("Init DirectX: Out", slot);
  configLine("ControlVersion: " + Num(controlVersion), slot);
  configLine("EngineVersion: " + PlayerControl::EngineVersion(), slot);
  configLine("Nb Devices: " + std::to_string(c->GetOutputDevicesCount()) +
                 " Selected Device: " + std::to_string(device),
             slot);
  for (int d = 0; d < c->GetOutputDevicesCount(); ++d)
    configLine("Device #" + NN(d) + ": " + c->GetOutputDeviceDesc(d), slot);

  logLine("Call InitDJSystem: Device: " + std::to_string(device), slot);
  const int rc = c->InitDJSystem(device);
  if (rc == dj::kNone) {
    finishInitOut(slot, rc);
    return;
  }
  logLine("Err: Init Sound Card |New try in few seconds: Selected Device: " +
              std::to_string(device) + " |" + dj::ErrorText(rc),
          slot);
  // One more try later, from the timers: the program goes on meanwhile.
  const std::string timer = "DirectXInitOut_" + NN(slot);
  scheduler_.add(timer, kInitRetryMs, true, [this, slot, timer] {
    scheduler_.setEnabled(timer, false);
    PlayerControl* again = control(slot);
    if (!again || log_.closing()) return;
    logLine("Err: Init Sound Card |New try Now", slot);
    finishInitOut(slot, again->InitDJSystem(deviceOut[static_cast<size_t>(slot)]));
  });
}

void LibDirectX::finishInitOut(int slot, int rc) {
  PlayerControl& c = *controls_[static_cast<size_t>(slot)];
  const int device = deviceOut[static_cast<size_t>(slot)];
  logLine("InitDJSystem: " + std::to_string(rc) + " Selected Device: " + std::to_string(device), slot);
  if (rc != dj::kNone) {
    prompt_.message("Le périphérique choisi (" + c.GetOutputDeviceDesc(device) +
                        ") ne possède pas de driver valide\nOu la carte son est utilisée et "
                        "verrouillée par un autre programme.\n\nVous ne pourrez pas travailler "
                        "tout ce qui est lié aux sons",
                    Icon::Critical, Buttons::Ok, qz_.setup.caption);
    logLine("Err: Init Sound Card: Selected Device: " + std::to_string(device) + " |Err: " +
                std::to_string(rc) + " |" + dj::ErrorText(rc),
            slot);
    return;
  }
  for (int p = 0; p < c.players(); ++p) {
    const int r = c.SetPlayerOutputDevice(p, device);
    logLine("SetPlayerOutputDevice: " + std::to_string(r), slot, p);
  }
  DirectXPipeSetLevelOut(slot, qz_.setup.out[static_cast<size_t>(slot)].analogLeft);
  const int b = c.SetBufferLength(bufferLength);
  if (b == dj::kNone)
    logLine("Buffer Length set to " + std::to_string(bufferLength) + " ms", slot);
  else
    AfficherErreurDJStudio(b, "SetBufferLength", std::string(kModule) + "InitDirectXOut");
  logLine("VuMeter.Create: Ok", slot);
  logLine("===============================", slot);
  if (!pollTimer_) {
    pollTimer_ = true;
    scheduler_.add("TimerDirectX", kPollMs, true, [this] { Poll(); });
  }
}

void LibDirectX::Poll() {
  for (auto& c : controls_)
    if (c && c->initialized()) c->Poll();
}

// --- sounds

bool LibDirectX::setSmoothing(PlayerControl& c, int player, int64_t fadeIn, int64_t fadeOut,
                              const std::string& procedure) {
  const bool newer = controlVersion >= 7;
  const std::string method = newer ? "StreamVolumeSmoothingSet" : "SetSmoothingTimeLength";
  const int rc = newer ? c.StreamVolumeSmoothingSet(player, fadeIn, fadeOut)
                       : c.SetSmoothingTimeLength(player, fadeIn, fadeOut);
  if (rc != dj::kNone) {
    AfficherErreurDJStudio(rc, method, procedure);
    return false;
  }
  logLine(method + ": FadeInDuration: " + std::to_string(fadeIn) + " ms |FadeOutDuration: " +
          std::to_string(fadeOut) + " ms");
  return true;
}

bool LibDirectX::DirectXOutLoadSound(int slot, int player, const std::string& file,
                                     int64_t fadeInPosition, int64_t fadeIn, int64_t fadeOut,
                                     double level) {
  const std::string proc = std::string(kModule) + "DirectXOutLoadSound";
  if (log_.closing()) return false;
  if (triggers_) triggers_->TriggerRemove(slot, player, 0, kTriggerKinds - 1, false, proc);
  if (file.empty()) {
    prompt_.message("Vous devez sélectionner un son.", Icon::Exclamation, Buttons::Ok,
                    qz_.setup.caption);
    return false;
  }
  PlayerControl* c = ready(slot, player, "LoadSoundFast: " + file, proc);
  if (!c) return false;
  const int rc = c->LoadSoundFast(player, file);
  if (rc != dj::kNone) {
    AfficherErreurDJStudio(rc, "LoadSoundFast: " + file, proc);
    logLine("Err: File: " + file + " |LoadSoundFast |Sub: " + proc, slot, player);
    prompt_.message("Impossible de charger le fichier son sur la carte son:\n\n" +
                        std::string(File_Exist(file) ? "Fichier son non valide:"
                                                     : "Fichier son non trouvé:") +
                        "\n\n" + file,
                    Icon::Critical, Buttons::Ok, qz_.setup.caption);
    return false;
  }
  logLine("Sound loaded: " + file, slot, player);
  if (const int64_t damaged = c->GetSoundDamagedFrames(player))
    logLine("Err: Damaged sound: " + file + " |Damaged frames: " + std::to_string(damaged), slot, player);
  if (fadeInPosition > 0) {
    if (int e = c->SeekSound(player, fadeInPosition))
      AfficherErreurDJStudio(e, "SeekSound", proc);
    else
      logLine("SeekSound: FadeInPosition: " + std::to_string(fadeInPosition) + " ms", slot, player);
  }
  // The slot's output level on the player, the sound's own level on its stream.
  const double slotLevel = qz_.setup.out[static_cast<size_t>(slot)].analogLeft;
  if (int e = c->SetPlayerVolumeEx(player, slotLevel, VolumeScale::Db))
    AfficherErreurDJStudio(e, "SetPlayerVolumeEx", proc);
  if (int e = c->StreamVolumeLevelSet(player, level, VolumeScale::Db))
    AfficherErreurDJStudio(e, "StreamVolumeLevelSet", proc);
  setSmoothing(*c, player, fadeIn, fadeOut, proc);
  return true;
}

bool LibDirectX::DirectXOutPlaySound(int slot, int player, int64_t& start, int64_t& end) {
  const std::string proc = std::string(kModule) + "DirectXOutPlaySound";
  if (log_.closing()) return false;
  PlayerControl* c = ready(slot, player, "PlaySound", proc);
  if (!c) return false;
  if (start == 0 && end == 0) {
    if (int e = c->PlaySound(player)) {
      AfficherErreurDJStudio(e, "PlaySound", proc);
      return false;
    }
  } else {
    logLine("DirectXPlaySound: StartPos: " + std::to_string(start) + " ms |EndPos: " +
                std::to_string(end) + " ms",
            slot, player);
    if (end <= start) end = -1;
    const int64_t duration = c->GetSoundDuration(player);
    if (duration < 0) {
      AfficherErreurDJStudio(static_cast<int>(duration), "GetSoundDuration", proc);
      return false;
    }
    if (end == 0 || end == -1) {
      end = duration;
      logLine("DirectXPlaySound: New EndPos: " + std::to_string(end) + " ms", slot, player);
    }
    if (start > duration) {
      prompt_.message(
          "La position de début d'écoute est au-delà de la durée du son\n\nVeuillez vérifier la "
          "durée du son.",
          Icon::Exclamation, Buttons::Ok, qz_.setup.caption);
      return false;
    }
    if (int e = c->PlaySoundRange(player, start, end)) {
      AfficherErreurDJStudio(e, "PlaySoundRange", proc);
      return false;
    }
  }
  playStartTick = clock_.tickMs();
  const double speed = playSoundInitSpeed ? playSoundInitSpeed() : c->GetTempoPerc(player);
  DirectXOutPitch(slot, player, speed);
  return true;
}

bool LibDirectX::DirectXOutPause(int slot, int player, bool on) {
  const std::string proc = std::string(kModule) + "DirectXOutPause";
  const char* method = on ? "PauseSound" : "ResumeSound";
  PlayerControl* c = ready(slot, player, method, proc);
  if (!c) return false;
  const int rc = on ? c->PauseSound(player) : c->ResumeSound(player);
  AfficherErreurDJStudio(rc, method, proc);
  return rc == dj::kNone;
}

bool LibDirectX::DirectXOutStopSound(int slot, int player, int64_t fadeOut) {
  const std::string proc = std::string(kModule) + "DirectXOutStopSound";
  PlayerControl* c = ready(slot, player, "StopSound", proc);
  if (!c) return false;
  if (fadeOut > 0) setSmoothing(*c, player, 0, fadeOut, proc);
  logLine("StopSound |Sub: " + proc, slot, player);
  const int rc = c->StopSound(player);
  AfficherErreurDJStudio(rc, "StopSound", proc);
  stopTick = clock_.tickMs();
  DirectXOutCloseSound(slot, player);
  return rc == dj::kNone;
}

bool LibDirectX::DirectXOutCloseSound(int slot, int player) {
  const std::string proc = std::string(kModule) + "DirectXOutCloseSound";
  PlayerControl* c = ready(slot, player, "Close Sound |Sub: " + proc, proc);
  if (!c) return false;
  const int rc = c->CloseSound(player);
  AfficherErreurDJStudio(rc, "Close Sound |Sub: " + proc, proc);
  return rc == dj::kNone;
}

bool LibDirectX::DirectXOutPitch(int slot, int player, double percent) {
  const std::string proc = std::string(kModule) + "DirectXOutPitch";
  if (log_.closing()) return false;
  PlayerControl* c = ready(slot, player, "SetTempoPerc", proc);
  if (!c) return false;
  const double previous = c->GetTempoPerc(player);
  if (percent == previous) {
    logLine("Pitch stay at " + Num(percent) + " |Sub: " + proc, slot, player);
    return true;
  }
  if (std::fabs(percent) >= PlayerControl::kMaxTempo) {
    logLine("Pitch out of the available range: " + Num(percent) + " |Sub: " + proc, slot, player);
    return false;
  }
  if (int e = c->SetTempoPerc(player, percent)) {
    AfficherErreurDJStudio(e, "SetTempoPerc", proc);
    return false;
  }
  const double delta = SpeedFactor(percent) / SpeedFactor(previous);
  logLine("Pitch change to " + Num(percent) + " |Previous value: " + Num(previous) +
              " |Delta Speed: " + fmt::format("{:.4f}", delta) + " |Sub: " + proc,
          slot, player);
  // The player's triggers stay on their positions in the sound, which the
  // control follows at any tempo; placing them again brings their due times
  // to the new speed.
  if (triggers_) {
    for (int kind = 0; kind < kTriggerKinds; ++kind) {
      const int idx = Triggers::Index(slot, player, kind);
      if (!triggers_->exists[idx]) continue;
      const int32_t pos = triggers_->position[idx], second = triggers_->secondValue[idx];
      triggers_->TriggerRemove(slot, player, kind, kind, false, proc);
      triggers_->TriggerAdd(slot, player, kind, pos, second, true, proc);
    }
  }
  return true;
}

bool LibDirectX::DirectXPipeSetLevelOut(int slot, double level) {
  const std::string proc = std::string(kModule) + "DirectXPipeSetLevelOut";
  PlayerControl* c = control(slot);
  if (!c || !c->initialized()) return false;
  bool ok = true;
  for (int p = 0; p < c->players(); ++p) {
    if (int e = c->SetPlayerVolumeEx(p, level, VolumeScale::Db)) {
      AfficherErreurDJStudio(e, "SetPlayerVolumeEx", proc);
      ok = false;
    }
  }
  if (ok) logLine("Analog  Level set to " + Num(level), slot);
  return ok;
}

bool LibDirectX::VerificationDureeSon(const std::string& file, int64_t& duration) {
  const std::string proc = std::string(kModule) + "VerificationDureeSon";
  duration = 0;
  if (!File_Exist(file)) return false;
  if (qz_.toolsAvailable && qz_.tools()) {
    ToolsFileInfo info;
    if (qz_.tools()->TOOLFileInfo(file, info, kTimeUnitMs, duration)) return true;
    logLine("Err: File: " + file + " |TOOLFileInfo |Sub: " + proc);
    return false;
  }
  if (IsHouseFile(file)) {
    const FileDuration d = SoundFileDuration(file);
    duration = d.ms;
    return d.error == OpenError::None;
  }
  const int64_t d = PlayerControl::GetSoundFileDuration(file);
  if (d >= 0) {
    duration = d;
    return true;
  }
  // Last resort: load the sound on a player of its own and ask it.
  logLine("---> Load sound file: " + file);
  if (!measure_) {
    measure_ = std::make_unique<PlayerControl>(engine_, 1);
    measure_->InitDJSystem(std::max(0, measure_->VirtualDevice(0)));
  }
  if (measure_->LoadSoundFast(0, file) != dj::kNone) {
    logLine("Err: File: " + file + " |LoadSoundFast |Sub: " + proc);
    return false;
  }
  duration = measure_->GetSoundDuration(0);
  logLine("StopSound |Sub: " + proc);
  measure_->StopSound(0);
  measure_->CloseSound(0);
  return true;
}

// --- audition

bool LibDirectX::DirectXLancerSon(int64_t start, int64_t end, bool loop) {
  const std::string proc = "Lib_Pointeurs:DirectXLancerSon";
  if (currentSoundFile.empty()) return false;
  if (!DirectXOutLoadSound(auditionSlot, auditionPlayer, currentSoundFile, 0, 0, 0, auditionLevel))
    return false;
  auditionPaused = false;
  if (loop) {
    PlayerControl* c = control(auditionSlot);
    if (int e = c->PlaySoundRangeLoop(auditionPlayer, start, end)) {
      AfficherErreurDJStudio(e, "PlaySoundRangeloop", proc);
      return false;
    }
    playStartTick = clock_.tickMs();
    DirectXOutPitch(auditionSlot, auditionPlayer,
                    playSoundInitSpeed ? playSoundInitSpeed() : c->GetTempoPerc(auditionPlayer));
    return true;
  }
  return DirectXOutPlaySound(auditionSlot, auditionPlayer, start, end);
}

bool LibDirectX::DirectXPauseSon(bool on) {
  if (!DirectXOutPause(auditionSlot, auditionPlayer, on)) return false;
  auditionPaused = on;
  return true;
}

// --- capture

bool LibDirectX::defaultInputFormats(int device, std::vector<std::string>& formats) const {
  // Inputs are listed board by board, one entry per stereo pair.
  int index = 0;
  for (const BoardDesc& b : engine_.boards())
    for (int m = b.firstInput; m + 1 < b.firstInput + b.inputs; m += 2, ++index)
      if (index == device) {
        // Only the virtual board's capture is open to this program so far.
        if (!b.isVirtual) return false;
        formats = {"48000 Hz 16 bits Stéréo", "48000 Hz 16 bits Mono"};
        return true;
      }
  return false;
}

void LibDirectX::InitDirectXIn(int slot) {
  if (log_.closing()) return;
  logBox("Init DirectX: In", slot);
  inputDevices.clear();
  for (const BoardDesc& b : engine_.boards())
    for (int m = b.firstInput; m + 1 < b.firstInput + b.inputs; m += 2)
      inputDevices.push_back(b.model + " (" + std::to_string(m) + "/" + std::to_string(m + 1) + ")");
  AudioSetup stored;
  stored.Load(settingsFile_, DevicesOfEngine(engine_));
  deviceIn = static_cast<int>(stored.number(DeviceSection(kNatureDirectX, SetupSide::In, slot), "Device"));
  if (deviceIn < 0 || deviceIn >= static_cast<int>(inputDevices.size())) {
    logBox("Device " + std::to_string(deviceIn) + " unavailable", slot);
    deviceIn = 0;
  }
  configLine("Nb Devices: " + std::to_string(inputDevices.size()) +
                 " Selected Device: " + std::to_string(deviceIn),
             slot);
  for (size_t d = 0; d < inputDevices.size(); ++d)
    configLine("Device #" + NN(static_cast<int>(d)) + ": " + inputDevices[d], slot);
  formatTries = 0;
  if (!DirectXUpdateInputFormats())
    scheduler_.add("TimerFormat", kFormatIntervalMs, true, [this] { TimerFormat(); });
  logLine("===============================", slot);
}

bool LibDirectX::DirectXUpdateInputFormats() {
  std::vector<std::string> formats;
  if (!readInputFormats || !readInputFormats(deviceIn, formats) || formats.empty()) {
    logLine("Err: DirectXUpdateInputFormats |No format read |Device: " + std::to_string(deviceIn) +
            " |Try: " + std::to_string(formatTries));
    return false;
  }
  inputFormats = std::move(formats);
  logLine("DirectXUpdateInputFormats: " + std::to_string(inputFormats.size()) +
          " formats |Device: " + std::to_string(deviceIn));
  return true;
}

void LibDirectX::TimerFormat() {
  ++formatTries;
  if (DirectXUpdateInputFormats()) {
    scheduler_.setEnabled("TimerFormat", false);
    return;
  }
  if (formatTries >= kFormatTries) {
    scheduler_.setEnabled("TimerFormat", false);
    logLine("Err: DirectXUpdateInputFormats |Abandon after " + std::to_string(kFormatTries) +
            " tries");
  }
}

}  // namespace sono::audio
