// The player control: players that load, seek, play (whole, range, looped
// range), pause, resume, stop and close sounds on an output device of the
// engine, with tempo in percent (pitch kept), volumes in dB or percent,
// smoothing (fade-in at each start, fade-out at a stop), level meters and
// triggers. Every method is called on the logic thread and answers 0 or a
// negative code of player_errors.h. `Poll` (called often, on the logic thread)
// reports triggers and ends as events.
//
// Each player is one engine stream; players on the same output device share
// one engine pipe on that device's stereo pair (so a meter reads the device's
// players together).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/engine/engine.h"
#include "audio/player/player_errors.h"
#include "audio/player/tempo_reader.h"

namespace sono::audio {

enum class VolumeScale { Percent = 0, Db = 1 };  // percent of amplitude: 100 = 0 dB
enum class PlayerStatus { NotReady = 0, Stopped = 1, Playing = 2, Paused = 3 };

struct OutputDeviceEntry {
  std::string name;   // "MODEL (a/b)"
  int firstMono = 1;  // across all boards
  std::string key;    // stays across starts: the ALSA PCM, or "virtual:PAIR"
  bool isVirtual = false;
};

class PlayerControl {
 public:
  explicit PlayerControl(Engine& engine, int players = 1);
  ~PlayerControl();
  PlayerControl(const PlayerControl&) = delete;
  PlayerControl& operator=(const PlayerControl&) = delete;

  static constexpr float kVersion = 8.0f;
  static std::string EngineVersion();

  // --- devices: one entry per stereo output pair of every board
  int GetOutputDevicesCount() const { return static_cast<int>(devices_.size()); }
  std::string GetOutputDeviceDesc(int device) const;
  const OutputDeviceEntry* outputDevice(int device) const;
  // The device of the virtual board carrying the output pair `pair`.
  int VirtualDevice(int pair) const;
  // Starts the sound system on `device` for every player (again: closes their sounds).
  int InitDJSystem(int device);
  bool initialized() const { return initialized_; }
  int SetPlayerOutputDevice(int player, int device);
  // Lets go of every output device (the players' sounds are closed, the
  // choice of device stays): the next load or play opens it again.
  void ReleaseOutputs();
  int SetBufferLength(int ms);
  int bufferLength() const { return bufferMs_; }
  int players() const { return static_cast<int>(players_.size()); }

  // --- sounds
  int LoadSoundFast(int player, const std::string& file);
  int SeekSound(int player, int64_t positionMs);
  int PlaySound(int player);  // from the current position to the end
  int PlaySoundRange(int player, int64_t startMs, int64_t endMs);
  int PlaySoundRangeLoop(int player, int64_t startMs, int64_t endMs);
  int PauseSound(int player);
  int ResumeSound(int player);
  int StopSound(int player);   // with the smoothing fade-out; back to the start
  int CloseSound(int player);  // at once; the player is empty
  // Durations in ms, or a negative code.
  int64_t GetSoundDuration(int player) const;
  static int64_t GetSoundFileDuration(const std::string& file);
  int64_t GetPlayerPosition(int player) const;  // ms in the sound
  PlayerStatus GetPlayerStatus(int player) const;
  const std::string& GetSoundFile(int player) const;
  // Frames of the loaded sound skipped as damaged (the duration counts only
  // the frames that play).
  int64_t GetSoundDamagedFrames(int player) const;

  // --- tempo: kept by the player across loads. A sound not heard yet starts
  // at the new tempo; a playing one changes after what is decoded ahead.
  int SetTempoPerc(int player, double percent);
  double GetTempoPerc(int player) const;
  static constexpr double kMaxTempo = 90.0;  // exclusive, both ways

  // --- volumes: player volume (the output's level, kept), stream volume
  // (kept across loads) and stream level (the sound's own, reset by a load)
  // add up in dB; the sum is held at +18 dB.
  int SetPlayerVolumeEx(int player, double value, VolumeScale scale);
  int StreamVolumeSet(int player, double value, VolumeScale scale);
  int StreamVolumeLevelSet(int player, double value, VolumeScale scale);
  double GetVolumeDb(int player) const;
  // --- smoothing: fade-in at each start, fade-out at each stop
  int StreamVolumeSmoothingSet(int player, int64_t fadeInMs, int64_t fadeOutMs);
  int SetSmoothingTimeLength(int player, int64_t fadeInMs, int64_t fadeOutMs) {
    return StreamVolumeSmoothingSet(player, fadeInMs, fadeOutMs);
  }
  // Peak levels in dB full scale of the player's output since the last reading.
  int GetOutputPeakDb(int player, double& leftDb, double& rightDb);

  // --- triggers: positions in the sound, reached whatever the tempo
  int AddTrigger(int player, int id, int64_t positionMs);
  int RemoveTrigger(int player, int id);
  int RemoveAllTriggers(int player);
  bool HasTrigger(int player, int id) const;
  static constexpr int kMaxTriggerId = 255;
  static constexpr size_t kMaxTriggers = 64;

  // Fires the triggers passed since the last call (in sound order) and the ends.
  void Poll();
  std::function<void(int player, int id, int64_t triggerMs, int64_t positionMs)> onTriggerReached;
  std::function<void(int player)> onSoundDone;
  // The output device of a sounding player stopped working (a card
  // unplugged): Poll stops the player and gives the system's reason. The
  // next play opens the device again.
  std::function<void(int player, const std::string& reason)> onDeviceLost;

 private:
  struct Trigger {
    int id;
    int64_t ms;
  };
  struct Player {
    int device = -1;
    std::string file;
    std::unique_ptr<SoundReader> opened;  // kept from the load for the first play
    bool loaded = false;
    int64_t lengthFrames = 0;
    int fileRate = 48000;
    int64_t durationMs = 0;
    int64_t damagedFrames = 0;
    PlayerStatus status = PlayerStatus::NotReady;
    int64_t seekFrame = 0;            // where PlaySound starts
    bool prepared = false;            // a stream waits on the engine, not started
    int64_t preparedStart = 0, preparedEnd = 0;
    bool preparedLoop = false;
    std::shared_ptr<TempoState> state;
    double tempo = 0;
    double playerDb = 0, streamDb = 0, levelDb = 0;
    int64_t fadeInMs = 0, fadeOutMs = 0;
    std::vector<Trigger> triggers;
    int64_t lastFrame = 0;            // position at the last poll
  };

  int check(int player) const;
  void unload(Player& p, int player);  // silent at once, nothing loaded
  int pipeOf(int device, int& pipe);
  int prepare(Player& p, int index, int64_t start, int64_t end, bool loop);
  int startPrepared(Player& p, int index);
  int playRange(int player, int64_t startMs, int64_t endMs, bool loop);
  int applyGain(int player);
  int setVolume(int player, double value, VolumeScale scale, double Player::*target);
  void silence(Player& p, int index, int64_t fadeMs);
  int64_t framePosition(const Player& p, int index) const;
  int64_t framesPlayed(const Player& p, int index) const;
  void fireBetween(Player& p, int index, int64_t fromFrame, int64_t toFrame);

  Engine& engine_;
  std::vector<OutputDeviceEntry> devices_;
  std::vector<Player> players_;
  std::map<int, int> pipes_;  // device -> engine pipe
  bool initialized_ = false;
  int bufferMs_ = 500;
};

}  // namespace sono::audio
