// The markers of a broadcast WAV offered as the song's pointers: an export
// of this program (or of any station tool writing AES46) carries its cue
// points in the "cart" chunk's post timers, in sample frames:
//   "INTe" intro, "SEGs" start next, "SEGe" fade out, "HOKs" hook.
// An import of such a file offers them (a question); taken, each goes
// through the value rules of every entry path against the new sound's
// length (a marker past its end is refused and said), then the pointers
// are stored on every station with the durations they give.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "convert/converter_command.h"
#include "editor/pointer_editor.h"

namespace sono::convert {

// The cart chunk's markers (ms) with its title and artist; nothing when the
// file is no WAV with a cart chunk holding at least one known timer.
std::optional<BroadcastTags> ReadBroadcastMarkers(const std::string& file);

// "intro 1,000 s, fade out 3,904 s" (the markers set), for the question.
std::string DescribeMarkers(const BroadcastTags& markers);

// The markers of a file whose start the import's trim removed: each moves
// back by `trimmedMs`; one inside the removed part is dropped and named in
// `dropped` ("intro 500 ms").
BroadcastTags ShiftMarkersForTrim(const BroadcastTags& markers, long long trimmedMs,
                                  std::vector<std::string>& dropped);

// The message for one marker dropped by the trim.
std::string MarkerDroppedByTrim(const std::string& marker);

struct MarkersApplied {
  std::vector<std::string> taken;    // "Intro 1000 ms"
  std::vector<std::string> refused;  // the value rules' messages
  bool stored = false;               // the pointers reached every station
};

// Puts the markers into the editor's loaded song (fade-out and hook keep
// their durations) and stores the pointers.
MarkersApplied ApplyBroadcastMarkers(editor::PointerEditor& editor, const BroadcastTags& markers);

}  // namespace sono::convert
