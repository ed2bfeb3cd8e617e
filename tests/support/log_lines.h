// What a logger under test holds: each line's message, without the time
// stamp the log puts in front of it.
#pragma once
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "core/tracelog.h"

namespace sono::test {

// "14/03/2026 09:30:00.000 : " and the like: the stamp before each message.
constexpr std::size_t kLogStampLength = 25;

inline std::vector<std::string> LogMessages(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(line.size() > kLogStampLength ? line.substr(kLogStampLength) : "");
  return out;
}
inline std::vector<std::string> LogMessages(const TraceLogger& log) { return LogMessages(log.fileBuffer()); }

// How many messages are exactly `message`.
inline int LoggedCount(const TraceLogger& log, const std::string& message) {
  const auto m = LogMessages(log);
  return static_cast<int>(std::count(m.begin(), m.end(), message));
}

// Whether a message holds `text` (anywhere, or at its start with `atStart`).
inline bool LoggedContaining(const TraceLogger& log, const std::string& text, bool atStart = false) {
  const auto m = LogMessages(log);
  return std::any_of(m.begin(), m.end(), [&](const std::string& s) {
    return atStart ? s.rfind(text, 0) == 0 : s.find(text) != std::string::npos;
  });
}

}  // namespace sono::test
