#include "editor/audition_ranges.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

namespace sono::editor {

namespace {
constexpr std::array<const char*, 10> kButtonNames = {"Stop",     "Play",      "PlayIn",     "PlayOut",     "Pause",
                                                      "GotoBegin", "GotoEnd", "PlayFadeIn", "PlayFadeOut", "PlayFrom"};
constexpr int kFieldWidth = 10;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<int> Field(std::string_view item, size_t from) {
  if (item.size() < from) return std::nullopt;
  std::string_view f = item.substr(from, kFieldWidth);
  while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
  while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
  if (f.empty() || ec != std::errc() || end != f.data() + f.size()) return std::nullopt;
  return value;
}
}  // namespace

const char* PlayButtonName(PlayButton button) {
  const auto i = static_cast<size_t>(button);
  return i < kButtonNames.size() ? kButtonNames[i] : "?";
}

std::optional<PlayButton> PlayButtonNamed(std::string_view name) {
  for (size_t i = 0; i < kButtonNames.size(); ++i)
    if (SameText(name, kButtonNames[i])) return static_cast<PlayButton>(i);
  return std::nullopt;
}

void ReadPlayRange(int& startMs, int& endMs, const RangeInputs& in) {
  if (startMs == -1) startMs = in.selectionStartMs;
  if (endMs == -1) {
    endMs = in.selectionEndMs;
    // The player plays to the end of the sound from a bare play point.
    if (in.nature == AuditionNature::DirectX && in.selectionEndMs == in.selectionStartMs && in.selectionStartMs != 0)
      endMs = in.durationMs;
  }
  if (in.nature == AuditionNature::DirectX && endMs != 0 && endMs < startMs) endMs = in.durationMs;
}

std::optional<AuditionRange> RangeOfButton(PlayButton button, int startMs, int endMs, const RangeInputs& in) {
  const int duration = in.durationMs;
  const auto within = [&](AuditionRange r) -> std::optional<AuditionRange> {
    r.startMs = std::max(0, r.startMs);
    if (duration > 0 && r.endMs > duration) r.endMs = duration;
    if (duration > 0 && r.startMs >= duration) return std::nullopt;
    if (r.endMs != 0 && r.endMs <= r.startMs) return std::nullopt;
    return r;
  };
  switch (button) {
    case PlayButton::Play:
      return AuditionRange{};
    case PlayButton::PlayIn:
      return within({startMs, std::max(0, endMs)});
    case PlayButton::PlayOut: {
      const int pre = static_cast<int>(std::lround(in.preRollS * 1000.0));
      const int post = static_cast<int>(std::lround(in.postRollS * 1000.0));
      // An end of 0 is the end of the sound: no post-roll to add.
      return within({startMs - pre, endMs > 0 ? endMs + post : 0});
    }
    case PlayButton::PlayFadeIn: {
      if (endMs <= startMs) return std::nullopt;
      const int lead = duration > 0 ? std::min(endMs + kFadeLeadMs, duration) : endMs + kFadeLeadMs;
      return within({startMs, lead, endMs - startMs, 0});
    }
    case PlayButton::PlayFadeOut:
      if (endMs <= startMs) return std::nullopt;
      return within({startMs - kFadeLeadMs, endMs, 0, endMs - startMs});
    case PlayButton::PlayFrom:
      return within({startMs, 0});
    case PlayButton::Stop:
    case PlayButton::Pause:
    case PlayButton::GotoBegin:
    case PlayButton::GotoEnd:
      break;
  }
  return std::nullopt;
}

std::string RangeList::Item(int startMs, int endMs) { return fmt::format("{:>10}{:>10}", startMs, endMs); }

void RangeList::clear() {
  items.clear();
  index = 0;
}

std::optional<std::pair<int, int>> RangeList::At(size_t i) const {
  if (i >= items.size()) return std::nullopt;
  const auto start = Field(items[i], 0), end = Field(items[i], kFieldWidth);
  if (start && end) return std::pair{*start, *end};
  return std::nullopt;
}

std::optional<std::pair<int, int>> RangeList::Next() {
  while (!exhausted()) {
    const std::string& item = items[static_cast<size_t>(index++)];
    const auto start = Field(item, 0), end = Field(item, kFieldWidth);
    if (start && end) return std::pair{*start, *end};
  }
  return std::nullopt;
}

}  // namespace sono::editor
