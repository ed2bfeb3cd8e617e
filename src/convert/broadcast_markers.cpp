#include "convert/broadcast_markers.h"

#include <sndfile.h>

#include <fmt/format.h>

#include <cstring>

#include "core/text.h"

namespace sono::convert {

namespace {

struct MarkerSlot {
  const char* usage;
  long long BroadcastTags::*ms;
  data::Slot slot;
  const char* words;  // as the question names it
};
constexpr MarkerSlot kMarkers[] = {
    {"INTe", &BroadcastTags::intro, data::kIntro, "intro"},
    {"SEGs", &BroadcastTags::startNext, data::kStartNext, "start next"},
    {"SEGe", &BroadcastTags::fadeOut, data::kFadeOut, "fade out"},
    {"HOKs", &BroadcastTags::hook, data::kHook, "hook"},
};

std::string FieldText(const char* field, size_t size) {
  return Trim(std::string(field, strnlen(field, size)));
}

}  // namespace

std::optional<BroadcastTags> ReadBroadcastMarkers(const std::string& file) {
  SF_INFO info{};
  SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
  if (!sound) return std::nullopt;
  SF_CART_INFO cart{};
  const bool has = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && info.samplerate > 0 &&
                   sf_command(sound, SFC_GET_CART_INFO, &cart, sizeof cart) == SF_TRUE;
  sf_close(sound);
  if (!has) return std::nullopt;
  BroadcastTags tags;
  bool any = false;
  for (const SF_CART_TIMER& timer : cart.post_timers)
    for (const MarkerSlot& m : kMarkers)
      if (std::memcmp(timer.usage, m.usage, 4) == 0 && timer.value >= 0) {
        tags.*m.ms = (static_cast<long long>(timer.value) * 1000 + info.samplerate / 2) / info.samplerate;
        any = true;
      }
  if (!any) return std::nullopt;
  tags.title = FieldText(cart.title, sizeof cart.title);
  tags.artist = FieldText(cart.artist, sizeof cart.artist);
  return tags;
}

std::string DescribeMarkers(const BroadcastTags& markers) {
  std::string out;
  for (const MarkerSlot& m : kMarkers)
    if (const long long ms = markers.*m.ms; ms >= 0)
      out += fmt::format("{}{} {} ms", out.empty() ? "" : ", ", m.words, ms);
  return out;
}

BroadcastTags ShiftMarkersForTrim(const BroadcastTags& markers, long long trimmedMs,
                                  std::vector<std::string>& dropped) {
  BroadcastTags shifted = markers;
  if (trimmedMs <= 0) return shifted;
  for (const MarkerSlot& m : kMarkers) {
    long long& ms = shifted.*m.ms;
    if (ms < 0) continue;
    if (ms < trimmedMs) {
      // The cue pointed into silence that is gone.
      dropped.push_back(fmt::format("{} {} ms", m.words, ms));
      ms = -1;
    } else {
      ms -= trimmedMs;
    }
  }
  return shifted;
}

std::string MarkerDroppedByTrim(const std::string& marker) {
  return "Marqueur du fichier non repris (dans le silence coupé au début): " + marker;
}

MarkersApplied ApplyBroadcastMarkers(editor::PointerEditor& editor, const BroadcastTags& markers) {
  MarkersApplied result;
  for (const MarkerSlot& m : kMarkers) {
    const long long ms = markers.*m.ms;
    if (ms < 0) continue;
    const double second = static_cast<double>(editor.ptx.second[static_cast<size_t>(m.slot)]);
    const std::string refusal = editor.ptx.MemoriseUserValue(m.slot, static_cast<double>(ms), second);
    if (refusal.empty())
      result.taken.push_back(fmt::format("{} {} ms", data::SlotDescription(m.slot).label, ms));
    else
      result.refused.push_back(refusal);
  }
  result.stored = result.taken.empty() || editor.StorePointers();
  return result;
}

}  // namespace sono::convert
