// Local date and time values and the formatters shared by the log and the
// rest of the program. Wall times are local times; no time zone is applied here.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace sono {

struct LocalDateTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;

  // Milliseconds since 1970-01-01 00:00:00.000 of the same (local) calendar.
  int64_t toMs() const;
  static LocalDateTime fromMs(int64_t ms);
  LocalDateTime plusDays(int days) const;
  LocalDateTime dateOnly() const;
  bool sameDay(const LocalDateTime& o) const {
    return year == o.year && month == o.month && day == o.day;
  }
};

// Days since 1970-01-01 for a civil date, and back.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// "YYYYMMDD".
std::string D2S(const LocalDateTime& date);

// The date formatted with a pattern of the program's date and time formats:
// "yyyy", "yy", "dd", "d", "HH"/"hh", "SS"/"ss", and "MM"/"mm" which mean minutes
// when they follow an hour field (as in "HH:MM:SS") and months otherwise.
// An empty or blank format means "HH:MM:SS".
std::string Date2StringEx(const LocalDateTime& date, std::string_view format);

// "HH:MM:SS:mmm", 12 characters.
std::string TimingMilliSec(const LocalDateTime& now);

// Durations in milliseconds shown as minutes and seconds. Minutes take at least
// two digits and grow as needed ("125:07"); `sep` stands between minutes and
// seconds, `fracSep` before the fraction. Negative durations get a leading "-".
std::string Tps2MinSec(double ms, std::string_view sep = ":");
std::string Tps2MinSecCen(double ms, std::string_view sep = ":", std::string_view fracSep = ".");
std::string Tps2MinSecMil(double ms, std::string_view sep = ":", std::string_view fracSep = ".");

}  // namespace sono
