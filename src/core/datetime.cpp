#include "core/datetime.h"

#include <cmath>
#include <fmt/format.h>

#include "core/text.h"

namespace sono {

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

int64_t LocalDateTime::toMs() const {
  const int64_t days = DaysFromCivil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + millisecond;
}

LocalDateTime LocalDateTime::fromMs(int64_t ms) {
  int64_t days = ms / 86400000LL;
  int64_t rest = ms % 86400000LL;
  if (rest < 0) { rest += 86400000LL; --days; }
  LocalDateTime t;
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

LocalDateTime LocalDateTime::plusDays(int days) const {
  LocalDateTime t = *this;
  CivilFromDays(DaysFromCivil(year, month, day) + days, t.year, t.month, t.day);
  return t;
}

LocalDateTime LocalDateTime::dateOnly() const {
  LocalDateTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  return t;
}

std::string D2S(const LocalDateTime& d) {
  return fmt::format("{:04}{:02}{:02}", d.year, d.month, d.day);
}

std::string Date2StringEx(const LocalDateTime& d, std::string_view format) {
  if (IsBlank(format)) format = "HH:MM:SS";
  std::string out;
  bool afterHour = false;  // "MM" right after an hour field means minutes
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < format.size() && format[i + n] == c) ++n;
    return n;
  };
  while (i < format.size()) {
    const char c = format[i];
    const size_t n = run(c);
    switch (c) {
      case 'y':
        out += n >= 4 ? fmt::format("{:04}", d.year) : fmt::format("{:02}", d.year % 100);
        afterHour = false;
        break;
      case 'd':
        out += n >= 2 ? fmt::format("{:02}", d.day) : std::to_string(d.day);
        afterHour = false;
        break;
      case 'H':
      case 'h':
        out += n >= 2 ? fmt::format("{:02}", d.hour) : std::to_string(d.hour);
        afterHour = true;
        break;
      case 'm':
        out += n >= 2 ? fmt::format("{:02}", d.minute) : std::to_string(d.minute);
        break;
      case 'M':
        if (afterHour) out += n >= 2 ? fmt::format("{:02}", d.minute) : std::to_string(d.minute);
        else out += n >= 2 ? fmt::format("{:02}", d.month) : std::to_string(d.month);
        break;
      case 'S':
      case 's':
        out += n >= 2 ? fmt::format("{:02}", d.second) : std::to_string(d.second);
        afterHour = false;
        break;
      default:
        out.append(n, c);
        i += n;
        continue;
    }
    i += n;
  }
  return out;
}

std::string TimingMilliSec(const LocalDateTime& now) {
  return fmt::format("{:02}:{:02}:{:02}:{:03}", now.hour, now.minute, now.second,
                     now.millisecond);
}

namespace {
struct Split {
  bool negative;
  long long minutes;
  int seconds;
  int millis;
};
Split split(double ms) {
  Split s{};
  s.negative = ms < 0;
  const long long total = std::llround(std::fabs(ms));
  s.minutes = total / 60000;
  s.seconds = static_cast<int>(total / 1000 % 60);
  s.millis = static_cast<int>(total % 1000);
  return s;
}
std::string head(const Split& s, std::string_view sep) {
  return fmt::format("{}{:02}{}{:02}", s.negative ? "-" : "", s.minutes, sep, s.seconds);
}
}  // namespace

std::string Tps2MinSec(double ms, std::string_view sep) { return head(split(ms), sep); }

std::string Tps2MinSecCen(double ms, std::string_view sep, std::string_view fracSep) {
  const Split s = split(ms);
  return head(s, sep) + std::string(fracSep) + fmt::format("{:02}", s.millis / 10);
}

std::string Tps2MinSecMil(double ms, std::string_view sep, std::string_view fracSep) {
  const Split s = split(ms);
  return head(s, sep) + std::string(fracSep) + fmt::format("{:03}", s.millis);
}

}  // namespace sono
