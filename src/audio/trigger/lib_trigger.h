// Lib_Trigger: named positions in a playing sound at which the program acts
// (end of intro, start of the next sound, fade-out, send, bed, stop, step),
// per playback slot, stream and kind. On a DirectX slot each trigger is also
// placed in the slot's player control, which reports it when the sound gets
// there; on a PCX slot it lives in these tables only and `TimerPtx` fires it
// when the stream's own position reaches it (a pause holds it back).
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/pcx/pcx_qz.h"
#include "core/datetime.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::audio {

class PcxStreams;
class PlayerControl;

// What the trigger tables need of the DirectX side (`LibDirectX`): the player
// control of a slot, and the report of its errors. Lib_DirectX includes this
// module, never the other way round.
class DirectXSlots {
 public:
  virtual ~DirectXSlots() = default;
  virtual PlayerControl* control(int slot) = 0;
  virtual void AfficherErreurDJStudio(int code, const std::string& method, const std::string& procedure) = 0;
};

inline constexpr int kTriggerKinds = 9;
inline constexpr int kTriggerIntro = 0, kTriggerStartNext = 1, kTriggerFadeOut = 2,
                     kTriggerFadeOutAndStartNext = 3, kTriggerSendOn = 4,
                     kTriggerStartNextWithFadeIn = 5, kTriggerBed = 6, kTriggerStop = 7,
                     kTriggerStep = 8;

class Triggers {
 public:
  Triggers(TraceLogger& log, Clock& clock, PcxQz& qz) : log_(log), clock_(clock), qz_(qz) {}

  // The DirectX side, for the slots whose nature is DirectX.
  void setDirectX(DirectXSlots* directX) { directX_ = directX; }
  // Loading a PCX stream removes its triggers of kinds 0 to 8.
  void attach(PcxStreams& streams);

  static std::string LibTrigger(int kind);
  static int Index(int slot, int stream, int kind) {
    return slot + kPlaybackSlots * (stream + kMaxStreams * kind);
  }

  bool TriggerAdd(int slot, int stream, int kind, int32_t position, int32_t secondValue, bool keep,
                  const std::string& caller);
  void TriggerRemove(int slot, int stream, int firstKind, int lastKind, bool logFlag,
                     const std::string& caller);
  // The work of the main window's `TimerPtx` (100 ms) for triggers: fires,
  // once, every PCX trigger its stream's position has reached (read from
  // the board tools), in sound order. Only a stream that plays or played
  // to its end fires: a paused one is held where it is, a stopped one or
  // one whose device failed fires nothing; a trigger before the start of
  // the range played never fires.
  void TimerPtx();

  // Told of every PCX trigger fired by `TimerPtx`.
  std::function<void(int slot, int stream, int kind, int32_t position)> onPcxTrigger;

  static constexpr int kTableSize = kPlaybackSlots * kMaxStreams * kTriggerKinds;
  static constexpr int32_t kMinStartNextMs = 428;
  std::array<bool, kTableSize> exists{};
  std::array<int32_t, kTableSize> position{};
  std::array<int32_t, kTableSize> secondValue{};
  std::array<LocalDateTime, kTableSize> dueTime{};  // shown in the log only

 private:
  bool isDirectX(int slot) const;
  void logLine(const std::string& text, int slot, int stream);

  TraceLogger& log_;
  Clock& clock_;
  PcxQz& qz_;
  DirectXSlots* directX_ = nullptr;
  std::array<int32_t, kTableSize> placed_{};  // the position placed, kept or not
};

}  // namespace sono::audio
