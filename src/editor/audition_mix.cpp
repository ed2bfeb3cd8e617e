#include "editor/audition_mix.h"

#include <algorithm>

#include "data/ptx.h"
#include "data/songs.h"
#include "core/text.h"

namespace sono::editor {

std::optional<MixSong> ReadMixSong(data::Library& lib, int station, const std::string& codeText) {
  const std::string code = Calibre(codeText, 8);
  if (Trim(code).empty()) return std::nullopt;
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "EcouteMixage", quiet) != 0)
    return std::nullopt;
  MixSong s;
  s.code = code;
  s.soundFile = data::SoundFilePath(lib, station, code);
  s.durationMs = static_cast<int>(data::HouseFormatDurationMs(s.soundFile).value_or(0));
  const data::LoadedPointers p = data::MorceauChargerPointeur(lib, station, code, s.durationMs);
  s.startNextMs = static_cast<int>(std::max(0LL, p.startNext));
  s.fadeOutMs = static_cast<int>(std::max(0LL, p.fadeOut));
  s.levelDb = p.level;
  s.pitch = p.pitch;
  return s;
}

int MixJoinMs(const MixSong& s) {
  if (s.startNextMs > 0 && s.startNextMs < s.durationMs) return s.startNextMs;
  if (s.fadeOutMs > 0 && s.fadeOutMs < s.durationMs) return s.fadeOutMs;
  return s.durationMs;
}

MixPlan PlanMix(bool startOfSound, const MixSong& current, const MixSong& other) {
  const MixSong& first = startOfSound ? other : current;
  const MixSong& second = startOfSound ? current : other;
  MixPlan plan;
  plan.currentFirst = !startOfSound;
  plan.joinMs = MixJoinMs(first);
  plan.first = {std::max(0, plan.joinMs - kMixLeadMs), std::min(first.durationMs, plan.joinMs + kMixAfterMs)};
  plan.second = {0, std::min(second.durationMs, kMixAfterMs)};
  return plan;
}

}  // namespace sono::editor
