#include "audio/trigger/lib_trigger.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/pcx/pcx_tools.h"
#include "audio/player/player_control.h"
#include "audio/player/player_errors.h"

namespace sono::audio {

namespace {

constexpr std::array<const char*, kTriggerKinds> kNames = {
    "TRIGGER_POS_INTRO",
    "TRIGGER_START_NEXT",
    "TRIGGER_FADE_OUT",
    "TRIGGER_FADE_OUT_AND_SART_NEXT",
    "TRIGGER_SEND_ON",
    "TRIGGER_START_NEXT_WITH_FADE_IN_ON_SAME_SOUND",
    "TRIGGER_POS_BED",
    "TRIGGER_STOP",
    "TRIGGER_STEP",
};

bool InTable(int slot, int stream, int kind) {
  return slot >= 0 && slot < kPlaybackSlots && stream >= 0 && stream < kMaxStreams && kind >= 0 &&
         kind < kTriggerKinds;
}

}  // namespace

std::string Triggers::LibTrigger(int kind) {
  if (kind >= 0 && kind < kTriggerKinds) return kNames[static_cast<size_t>(kind)];
  return std::to_string(kind);
}

void Triggers::attach(PcxStreams& streams) {
  streams.removeTriggers = [this](int slot, int stream) {
    TriggerRemove(slot, stream, 0, kTriggerKinds - 1, false, "Lib_PCXTools:PCXToolsOutLoadSound");
  };
}

bool Triggers::isDirectX(int slot) const { return qz_.natureOut[static_cast<size_t>(slot)] == kNatureDirectX; }

void Triggers::logLine(const std::string& text, int slot, int stream) {
  TraceOptions o;
  o.caller = "Lib_Trigger";
  log_.TraceLog(-1, slot, stream, text, o);
}

bool Triggers::TriggerAdd(int slot, int stream, int kind, int32_t pos, int32_t second, bool keep,
                          const std::string& caller) {
  if (!InTable(slot, stream, kind)) {
    logLine("Err: TriggerAdd out of range: Slot: " + std::to_string(slot) + " |Stream: " +
                std::to_string(stream) + " |Kind: " + std::to_string(kind) + " |Sub: " + caller,
            -1, -1);
    return false;
  }
  const int idx = Index(slot, stream, kind);
  const std::string name = LibTrigger(kind);
  if (exists[idx]) TriggerRemove(slot, stream, kind, kind, false, caller);

  // The next sound cannot start sooner than the player can follow.
  if ((kind == kTriggerStartNext || kind == kTriggerStartNextWithFadeIn) && pos > 10 &&
      pos < kMinStartNextMs) {
    logLine(name + " too close: Change from " + std::to_string(pos) + " ms to: " +
                std::to_string(kMinStartNextMs) + " ms",
            slot, stream);
    pos = kMinStartNextMs;
  }

  std::string due;
  if (pos > 0) {
    const int64_t seconds = std::llround((pos + 500) / 1000.0);
    dueTime[idx] = LocalDateTime::fromMs(clock_.now().toMs() + seconds * 1000);
    due = Date2StringEx(dueTime[idx], "dd/MM/yyyy HH:MM:SS");
  }

  if (isDirectX(slot)) {
    PlayerControl* control = directX_ ? directX_->control(slot) : nullptr;
    int rc = control ? control->AddTrigger(stream, kind, pos) : dj::kInvalidPlayer;
    if (rc == dj::kTriggerExists) {
      logLine("Err: Trigger " + name + " already exists |Try to remove it", slot, stream);
      control->RemoveTrigger(stream, kind);
      rc = control->AddTrigger(stream, kind, pos);
    }
    if (rc != dj::kNone) {
      if (directX_) directX_->AfficherErreurDJStudio(rc, "AddTrigger", caller);
      return false;
    }
  } else if (pos < 1) {
    logLine("Err: Add " + name + " |Sub: " + caller + ": TriggerPos < 0: " + std::to_string(pos) +
                " ms",
            slot, stream);
    return false;
  }

  exists[idx] = true;
  placed_[idx] = pos;
  if (keep) {
    position[idx] = pos;
    secondValue[idx] = second;
  }
  const std::string at = std::to_string(pos) + " ms |";
  if (kind == kTriggerIntro)
    logLine("Add: TRIGGER_POS_INTRO: " + std::to_string(pos) + " ms |Intro - LinerDuration: " +
                std::to_string(second) + " ms",
            slot, stream);
  else if (kind <= kTriggerBed)
    logLine("Add: " + name + ": " + at + due, slot, stream);
  else
    logLine("Add: TRIGGER # " + std::to_string(kind) + ": " + at + due, slot, stream);
  return true;
}

void Triggers::TriggerRemove(int slot, int stream, int firstKind, int lastKind, bool logFlag,
                             const std::string& caller) {
  for (int kind = std::max(firstKind, 0); kind <= std::min(lastKind, kTriggerKinds - 1); ++kind) {
    if (!InTable(slot, stream, kind)) continue;
    const int idx = Index(slot, stream, kind);
    if (!exists[idx]) continue;
    if (isDirectX(slot)) {
      PlayerControl* control = directX_ ? directX_->control(slot) : nullptr;
      const int rc = control ? control->RemoveTrigger(stream, kind) : dj::kInvalidPlayer;
      if (rc != dj::kNone) logLine("RemoveTrigger |Sub: " + caller, slot, stream);
    }
    exists[idx] = false;
    if (logFlag) logLine("Remove: " + LibTrigger(kind) + " |Sub: " + caller, slot, stream);
  }
}

void Triggers::TimerPtx() {
  BoardTools* tools = qz_.tools();
  if (!tools || !qz_.toolsAvailable) return;
  struct Due {
    int idx;
    int32_t pos;
  };
  std::vector<Due> due;
  for (int slot = 0; slot < kPlaybackSlots; ++slot) {
    if (isDirectX(slot)) continue;
    const PcxPipeRecord& pipe = qz_.pipesOut[static_cast<size_t>(slot)];
    if (!pipe.allocated) continue;
    for (int stream = 0; stream < kMaxStreams; ++stream) {
      bool any = false;
      for (int kind = 0; kind < kTriggerKinds; ++kind) any = any || exists[Index(slot, stream, kind)];
      const PcxStreamState& st = pipe.streams[static_cast<size_t>(stream)];
      if (!any || !st.playing) continue;
      // Where the sound is: its position while it plays or pauses, the end
      // of its range once it played to it.
      int status = 0;
      int64_t reached = 0, remaining = 0;
      if (!tools->TOOLStreamGetStatus(pipe.handle, 0, st.handle, status)) continue;
      if (status == kStreamStatusIdle) reached = st.endMs;
      else if (status == kStreamStatusLoaded ||
               !tools->TOOLStreamGetInfo(pipe.handle, 0, st.handle, reached, remaining))
        continue;
      for (int kind = 0; kind < kTriggerKinds; ++kind) {
        const int idx = Index(slot, stream, kind);
        if (exists[idx] && placed_[idx] >= st.startMs && placed_[idx] <= reached)
          due.push_back({idx, placed_[idx]});
      }
    }
  }
  std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.pos < b.pos; });
  for (const Due& d : due) {
    if (!exists[d.idx]) continue;  // an earlier trigger's work removed it
    const int slot = d.idx % kPlaybackSlots;
    const int stream = (d.idx / kPlaybackSlots) % kMaxStreams;
    const int kind = d.idx / (kPlaybackSlots * kMaxStreams);
    exists[d.idx] = false;
    logLine("Trigger Reached: " + LibTrigger(kind) + " |Position: " + std::to_string(d.pos) +
                " ms |PCXTools",
            slot, stream);
    if (onPcxTrigger) onPcxTrigger(slot, stream, kind, d.pos);
  }
}

}  // namespace sono::audio
