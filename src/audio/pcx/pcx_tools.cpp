#include "audio/pcx/pcx_tools.h"

#include <fmt/format.h>

#include <cmath>

#include "audio/engine/error_codes.h"
#include "core/files.h"

namespace sono::audio {

namespace {

std::string Num(double v) {
  std::string s = fmt::format("{:.2f}", v);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

constexpr const char* kModule = "Lib_PCXTools:";

}  // namespace

bool PcxStreams::PCXToolsOutLoadSound(int slot, int stream, const std::string&,
                                      const std::string& file, int64_t start, int64_t fadeIn,
                                      double level, bool& flag, int64_t& end, int64_t& fadeOut,
                                      int64_t& loopStart, int64_t& loopEnd,
                                      int64_t& excerptStart, int64_t& excerptEnd) {
  TraceLogger& log = qz_.log();
  if (log.closing() || !qz_.toolsAvailable) return false;
  if (slot < 0 || slot >= kPlaybackSlots || stream < 0 || stream >= kMaxStreams) return false;
  PcxPipeRecord& pipe = qz_.pipesOut[slot];
  if (!pipe.allocated) {
    log.TraceLog(-1, slot, stream, "Err: PCXToolsOutLoadSound but Pipe Unavalaible");
    return false;
  }
  PcxStreamState& st = pipe.streams[stream];
  if (st.handle == 0) {
    log.TraceLog(-1, slot, stream, "Err: PCXToolsOutLoadSound but Stream_Handle null");
    return false;
  }
  flag = false;
  if (removeTriggers) removeTriggers(slot, stream);

  // The play range: a loop, an excerpt, or the range as given.
  bool loop = false;
  int64_t loopPosition = 0;
  if (loopStart != 0 || loopEnd != 0) {
    loop = true;
    loopPosition = start = loopStart;
    end = loopEnd;
    fadeIn = 0;
    fadeOut = 0;
  } else if (excerptStart != 0 || excerptEnd != 0) {
    start = excerptStart;
    fadeIn = 96;
    fadeOut = 512;
    end = excerptEnd + 512;
  }
  qz_.PipeOutSetClockFromSetup(slot);

  BoardTools& tools = *qz_.tools();
  const bool ok = tools.TOOLPlayFile(pipe.handle, st.handle, file, 1, 0, 0, 0, kTimeUnitMs, start,
                                     loopPosition, end, loop ? 1 : 0, fadeIn, fadeOut, level, 1);
  log.TraceLog(-1, slot, stream,
               "TOOLPlayFile parameters: PipeHwnd: " + std::to_string(pipe.handle) +
                   " |StreamHwnd: " + std::to_string(st.handle) + " |StartPos: " +
                   std::to_string(start) + " |EndPos: " + std::to_string(end) + " |Lvl: " +
                   Num(level) + " dB");
  if (!ok) {
    bool show = true;
    qz_.GestionErreurPCXTools(show, "TOOLPlayFile", std::string(kModule) + "PCXToolsOutLoadSound");
    log.TraceLog(-1, slot, stream, "Err: File: " + file);
    const int code = qz_.lastErrorCode;
    std::string head;
    if (code == err::kFileTooSmall) head = "Fichier son trop petit:";
    if (code == err::kFileInvalid)
      head = File_Exist(file) ? "Fichier son non valide:" : "Fichier son non trouvé:";
    if (!head.empty())
      qz_.prompt().message(head + "\n\n" + file, Icon::Critical, Buttons::Ok, qz_.setup.caption);
    return false;
  }

  lastLoadTick = qz_.clock().tickMs();
  ToolsFileInfo info;
  int64_t fileMs = 0;
  tools.TOOLFileInfo(file, info, kTimeUnitMs, fileMs);
  const int64_t last = end > 0 ? std::min(end, fileMs) : fileMs;
  const int64_t duration = std::max<int64_t>(0, last - start);
  st.startMs = start;
  st.endMs = last;
  log.TraceLog(-1, slot, stream, " |Sound loaded: " + std::to_string(stream) + " |" + file);
  log.TraceLog(-1, slot, stream, " |Sound duration: " + std::to_string(duration) + " ms");
  // A loop has no end to wait for.
  st.endWatch = !loop;
  if (!loop) {
    const int64_t margin = duration <= 10000 ? duration + 1000
                                             : static_cast<int64_t>(std::llround(duration * 1.1));
    st.expectedEnd = lastLoadTick + static_cast<uint64_t>(margin);
  }

  const int type = qz_.BoardTypeOfSlot(slot);
  if (type >= 30 && type <= 36) {
    log.TraceLog(-1, slot, stream, " |Digital Level not changed |Due to LCM card");
  } else {
    if (level > 18.0) {
      log.TraceLog(-1, slot, stream,
                   "Err: Digital Level out of range |Change from " + Num(level) + " to 18 dB");
      level = 18.0;
    }
    if (tools.TOOLStreamSetDigitalLevel(pipe.handle, st.handle, level)) {
      log.TraceLog(-1, slot, stream, " |Digital level set to " + Num(level) + " dB");
    } else {
      bool show = false;
      qz_.GestionErreurPCXTools(show, "TOOLStreamSetDigitalLevel",
                                std::string(kModule) + "PCXToolsOutLoadSound");
    }
  }
  st.loaded = true;
  return true;
}

bool PcxStreams::PCXToolsOutPlaySound(int slot, int stream) {
  if (!qz_.toolsAvailable || !qz_.pipesOut[slot].allocated) return false;
  PcxPipeRecord& pipe = qz_.pipesOut[slot];
  PcxStreamState& st = pipe.streams[stream];
  if (!qz_.tools()->TOOLStreamStart(pipe.handle, 0, st.handle)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLStreamStart |Out", std::string(kModule) + "PCXToolsOutPlaySound");
    return false;
  }
  if (st.checkAfterStop) {
    st.checkAfterStop = false;
    st.stopping = false;
    qz_.log().TraceLog(-1, slot, stream, "CheckStatusAfterStopSound set to False");
  }
  st.playing = true;
  return true;
}

bool PcxStreams::PCXToolsOutPause(int slot, int stream, bool on) {
  if (!qz_.toolsAvailable || !qz_.pipesOut[slot].allocated) return false;
  PcxPipeRecord& pipe = qz_.pipesOut[slot];
  PcxStreamState& st = pipe.streams[stream];
  if (!qz_.tools()->TOOLStreamPause(pipe.handle, 0, st.handle, on ? -1 : 0)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, on ? "TOOLStreamPause |On" : "TOOLStreamPause |Off",
                              std::string(kModule) + "PCXToolsOutPause");
    return false;
  }
  st.paused = on;
  return true;
}

bool PcxStreams::PCXToolsOutStopSound(int slot, int stream, int64_t fadeOut) {
  TraceLogger& log = qz_.log();
  if (!qz_.toolsAvailable) return false;
  PcxPipeRecord& pipe = qz_.pipesOut[slot];
  if (!pipe.allocated) {
    log.TraceLog(-1, slot, stream, "Err: PCXToolsOutStopSound but Pipe Unavalaible");
    return false;
  }
  PcxStreamState& st = pipe.streams[stream];
  if (st.handle == 0) {
    log.TraceLog(-1, slot, stream, "Err: PCXToolsOutStopSound but Stream_Handle null");
    return false;
  }
  BoardTools& tools = *qz_.tools();
  if (fadeOut > 0) {
    int64_t position = 0, remain = 0;
    if (!tools.TOOLStreamGetInfo(pipe.handle, 0, st.handle, position, remain)) {
      bool show = false;
      qz_.GestionErreurPCXTools(show, "TOOLStreamGetInfo", std::string(kModule) + "PCXToolsOutStopSound");
      return false;
    }
    // A fade longer than what remains is shortened to 80 % of the rest, and
    // ends at least 48 ms before the sound does.
    if (remain < fadeOut + 96) {
      int64_t fade = std::llround(static_cast<double>(remain) * 0.8);
      if (remain - fade < 48) fade = remain - 48;
      if (fade < 0) fade = 0;
      log.TraceLog(-1, slot, stream,
                   "FadeDuration too long: " + std::to_string(fadeOut) + " ms |Remain duration: " +
                       std::to_string(remain) + " ms |FadeOutDuration change to " +
                       std::to_string(fade) + " ms");
      fadeOut = fade;
    }
  }
  st.stopping = true;
  if (!tools.TOOLStreamStop(pipe.handle, 0, st.handle, fadeOut)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, "TOOLStreamStop", std::string(kModule) + "PCXToolsOutStopSound");
    return false;
  }
  st.stopping = false;
  st.loaded = st.playing = st.paused = false;
  if (!log.closing()) {
    st.checkTime = qz_.clock().tickMs() + static_cast<uint64_t>(fadeOut) + 1200;
    st.checkAfterStop = true;
  }
  st.endWatch = false;
  return true;
}

bool PcxStreams::PCXToolsLancerSon(int64_t start, int64_t end) {
  if (currentSoundFile.empty()) return false;
  const int64_t length = end - start;
  if (!(length >= kMinimumSelectionMs || end == 0 || start == 0)) {
    qz_.prompt().message("Sélection à écouter trop courte: " + std::to_string(length) + " ms.",
                         Icon::Information, Buttons::Ok, qz_.setup.caption);
    return false;
  }
  bool flag = false;
  int64_t fadeOut = 0, loopStart = 0, loopEnd = 0, excerptStart = 0, excerptEnd = 0;
  if (!PCXToolsOutLoadSound(auditionSlot, auditionStream, "", currentSoundFile, start, 0, 0.0, flag,
                            end, fadeOut, loopStart, loopEnd, excerptStart, excerptEnd))
    return false;
  if (!PCXToolsOutPlaySound(auditionSlot, auditionStream)) return false;
  auditionPaused = false;
  if (showPlayedRange) showPlayedRange(start, end);
  return true;
}

bool PcxStreams::PCXToolsPauseSon(bool on) {
  if (!qz_.toolsAvailable || !qz_.pipesOut[auditionSlot].allocated) return false;
  PcxPipeRecord& pipe = qz_.pipesOut[auditionSlot];
  if (!qz_.tools()->TOOLStreamPause(pipe.handle, 0, pipe.streams[auditionStream].handle,
                                    on ? -1 : 0)) {
    bool show = false;
    qz_.GestionErreurPCXTools(show, on ? "TOOLStreamPause |On" : "TOOLStreamPause |Off",
                              "Lib_Pointeurs:PCXToolsPauseSon");
    return false;
  }
  auditionPaused = on;
  return true;
}

void PcxStreams::AfficheNiveauPCXTools(double leftDb, double rightDb) {
  auto scale = [](double db) {
    return static_cast<int>(std::lround(std::min(32767.0, 32767.0 * std::pow(10.0, db / 20.0))));
  };
  if (showLevels) showLevels(scale(leftDb), scale(rightDb));
}

}  // namespace sono::audio
