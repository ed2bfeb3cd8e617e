// Lib_DirectX: playback slots of DirectX nature play through player
// controls (one per slot) instead of PCX streams. Starts a slot's output
// device (with one retry six seconds later), loads, seeks, plays, pauses,
// pitches and stops sounds, sets volumes and smoothing, measures durations and
// turns the control's error codes into log lines. The capture side lists the
// input devices and reads their formats, retried by `TimerFormat`.
// Audition procedures of the cue-point editor (`DirectXLancerSon`,
// `DirectXPauseSon`) drive the audition slot and player.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/pcx/pcx_qz.h"
#include "audio/player/player_control.h"
#include "audio/trigger/lib_trigger.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::audio {

class LibDirectX : public DirectXSlots {
 public:
  LibDirectX(TraceLogger& log, Prompt& prompt, Clock& clock, Scheduler& scheduler, Engine& engine,
             PcxQz& qz, std::string settingsFile);
  ~LibDirectX();

  void setTriggers(Triggers* triggers) { triggers_ = triggers; }
  // The slot's control once `InitDirectXOut` has made it; null before.
  PlayerControl* control(int slot) override;

  // --- output
  void InitDirectXOut(int slot);
  bool DirectXOutLoadSound(int slot, int player, const std::string& file, int64_t fadeInPosition,
                           int64_t fadeIn, int64_t fadeOut, double level);
  bool DirectXOutPlaySound(int slot, int player, int64_t& start, int64_t& end);
  bool DirectXOutPause(int slot, int player, bool on);
  bool DirectXOutStopSound(int slot, int player, int64_t fadeOut);
  bool DirectXOutCloseSound(int slot, int player);
  bool DirectXOutPitch(int slot, int player, double percent);
  bool DirectXPipeSetLevelOut(int slot, double level);
  bool VerificationDureeSon(const std::string& file, int64_t& duration);
  void AfficherErreurDJStudio(int code, const std::string& method, const std::string& procedure) override;
  static double SpeedFactor(double percent) { return (100.0 + percent) / 100.0; }

  // --- audition of the current sound
  bool DirectXLancerSon(int64_t start, int64_t end, bool loop = false);
  bool DirectXPauseSon(bool on);

  // --- capture
  void InitDirectXIn(int slot);
  bool DirectXUpdateInputFormats();
  void TimerFormat();  // the work of `TimerFormat`

  // Reports the players' triggers and ends (timer "TimerDirectX", 10 ms).
  void Poll();

  // --- module state
  float controlVersion = PlayerControl::kVersion;
  int bufferLength = 500;
  std::array<int, kPlaybackSlots> deviceOut{-1, -1, -1, -1, -1};
  uint64_t playStartTick = 0, stopTick = 0;
  std::string currentSoundFile;   // the sound under edit
  double auditionLevel = 0;       // the sound's level correction, dB
  int auditionSlot = 0, auditionPlayer = 0;
  bool auditionPaused = false;
  // The audition speed in percent (`PlaySoundInitSpeed` of the audition);
  // without it a play keeps the player's tempo.
  std::function<double()> playSoundInitSpeed;
  // Every trigger a player reached, after it was logged.
  std::function<void(int slot, int player, int kind, int64_t positionMs)> onTrigger;
  std::function<void(int slot, int player)> onSoundDone;

  // Capture side.
  std::vector<std::string> inputDevices, inputFormats;
  int deviceIn = 0;
  int formatTries = 0;
  // Reads the formats of an input device; by default from the engine's boards.
  std::function<bool(int device, std::vector<std::string>& formats)> readInputFormats;

  static constexpr int kPlayersPerControl = 4;
  static constexpr int kInitRetryMs = 6000;
  static constexpr int kFormatIntervalMs = 4000;
  static constexpr int kFormatTries = 6;
  static constexpr int kPollMs = 10;

 private:
  void logLine(const std::string& text, int slot = -1, int stream = -1);
  void logBox(const std::string& text, int slot = -1);
  void configLine(const std::string& text, int slot);
  void finishInitOut(int slot, int rc);
  bool setSmoothing(PlayerControl& c, int player, int64_t fadeIn, int64_t fadeOut,
                    const std::string& procedure);
  bool defaultInputFormats(int device, std::vector<std::string>& formats) const;
  PlayerControl* ready(int slot, int player, const std::string& method, const std::string& procedure);

  TraceLogger& log_;
  Prompt& prompt_;
  Clock& clock_;
  Scheduler& scheduler_;
  Engine& engine_;
  PcxQz& qz_;
  std::string settingsFile_;
  Triggers* triggers_ = nullptr;
  std::array<std::unique_ptr<PlayerControl>, kPlaybackSlots> controls_;
  std::unique_ptr<PlayerControl> measure_;  // loads a sound only to read its duration
  bool pollTimer_ = false;
};

}  // namespace sono::audio
