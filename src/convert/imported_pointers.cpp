#include "convert/imported_pointers.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "core/text.h"
#include "data/pervasive.h"
#include "data/ptx.h"

namespace sono::convert {

namespace {
// The pointers that are times, in the order the log lists them.
constexpr std::array<data::Slot, 8> kTimeSlots = {data::kFadeIn, data::kIntro, data::kHook,    data::kLoop,
                                                  data::kSend,   data::kStartEqui, data::kStartNext, data::kFadeOut};

// The record manager's status of the change, 0 when written.
int apply(data::Library& lib, const std::string& code, const PointerFit& fit) {
  const data::SlotInfo& info = data::SlotDescription(fit.slot);
  const int st = data::PtxDetruirePointeur(lib, fit.station, code, info.type - '0');
  if (st != 0 || fit.removed) return st;
  // Written as a store of the editor writes it.
  return data::PtxSauvegarderPointeur(lib, fit.station, code, info.type, fit.position, fit.newSecond, -1, 0, true);
}
}  // namespace

PointerFitResult FitPointersToSound(data::Library& lib, const std::string& code, long long soundMs,
                                    const std::string& caller) {
  PointerFitResult result;
  const data::SoundLength length{soundMs, true, false};
  for (int station = 1; station <= lib.stationCount(); ++station)
    for (const data::Slot slot : kTimeSlots) {
      const data::SlotInfo& info = data::SlotDescription(slot);
      long long position = 0, second = 0;
      if (!data::PtxChargerPointeur(lib, station, code, info.type, position, second)) continue;
      if (info.secondColumn == 0) second = 0;
      const double pos = static_cast<double>(position), sec = static_cast<double>(second);
      if (data::CheckPointerValue(slot, pos, sec, length).empty()) continue;
      PointerFit fit{station, slot, position, second, false, 0};
      fit.removed = !data::CheckTimeValue(info.label, pos, length).empty();
      if (!fit.removed) fit.newSecond = soundMs - position;
      result.changes.push_back(fit);
    }
  if (result.changes.empty()) return result;

  data::BaseTransaction txn(lib.db(), lib.base(), data::kPointers, caller);
  bool written = txn.begun();
  for (const PointerFit& fit : result.changes)
    if (written && apply(lib, code, fit) != 0) written = false;
  if (written && txn.commit() != 0) written = false;
  if (!written) {
    txn.abort();
    lib.log().TraceLog(fmt::format("Err: ImporterUnSon: pointers past the end of the sound not changed |Code: {} "
                                   "|Sub: {}",
                                   Trim(code), caller));
    result.ok = false;
    result.changes.clear();
    return result;
  }
  for (const PointerFit& fit : result.changes) {
    const char* label = data::SlotDescription(fit.slot).label;
    const std::string what = fit.second > 0 ? fmt::format("{} + {} ms", fit.position, fit.second)
                                            : fmt::format("{} ms", fit.position);
    const std::string done = fit.removed ? std::string("Removed")
                                         : fmt::format("Duration changed from {} ms to {} ms", fit.second,
                                                       fit.newSecond);
    lib.log().TraceLog(fmt::format("ImporterUnSon: Pointer past the end of the sound |Code: {} |Station: {} |{}: {} "
                                   "> {} ms |{}",
                                   Trim(code), fit.station, label, what, soundMs, done));
  }
  return result;
}

BroadcastTags SongCuePoints(data::Library& lib, int station, const std::string& code, long long soundMs) {
  const data::LoadedPointers p = data::MorceauChargerPointeur(lib, station, code, soundMs);
  BroadcastTags tags;
  const auto within = [&](long long ms) { return soundMs > 0 ? std::min(ms, soundMs) : ms; };
  if (p.intro > 0) tags.intro = within(p.intro);
  if (p.hook > 0) tags.hook = within(p.hook);
  if (soundMs > 0 || p.fadeOut > 0) {
    tags.fadeOut = within(p.fadeOut);
    tags.startNext = within(p.startNext);
  }
  return tags;
}

std::string DescribeFit(const PointerFit& fit, long long soundMs) {
  const char* label = data::SlotDescription(fit.slot).label;
  if (fit.removed)
    return fmt::format("{} ({} ms) effacé: au-delà de la fin du son ({} ms)", label, fit.position, soundMs);
  return fmt::format("{} ({} ms) raccourci de {} ms à {} ms pour finir avec le son ({} ms)", label, fit.position,
                     fit.second, fit.newSecond, soundMs);
}

}  // namespace sono::convert
