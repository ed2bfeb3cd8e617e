#include "data/fields.h"

#include <algorithm>

#include "core/text.h"

namespace sono::data {

namespace {
void ensure(std::string& record, Field f) {
  const size_t end = static_cast<size_t>(f.position - 1 + f.length);
  if (record.size() < end) record.resize(end, ' ');
}
}  // namespace

std::string GetRaw(const std::string& record, Field f) {
  std::string out(static_cast<size_t>(f.length), ' ');
  const size_t start = static_cast<size_t>(f.position - 1);
  if (start < record.size())
    out.replace(0, std::min(out.size(), record.size() - start), record, start,
                std::min(out.size(), record.size() - start));
  return out;
}

std::string GetText(const std::string& record, Field f) {
  return Cp1252ToUtf8(TrimRight(GetRaw(record, f)));
}

void SetRaw(std::string& record, Field f, std::string_view bytes) {
  ensure(record, f);
  record.replace(static_cast<size_t>(f.position - 1), static_cast<size_t>(f.length),
                 Calibre(bytes, f.length));
}

void SetText(std::string& record, Field f, std::string_view utf8) {
  SetRaw(record, f, Utf8ToCp1252(utf8));
}

long long GetNumber(const std::string& record, Field f) {
  // Read in place (bytes past the record's end read as blanks, which end the number).
  const size_t start = static_cast<size_t>(f.position - 1);
  const size_t end = std::min(record.size(), start + static_cast<size_t>(f.length));
  size_t i = start;
  while (i < end && record[i] == ' ') ++i;
  long long v = 0;
  for (; i < end && record[i] >= '0' && record[i] <= '9'; ++i) v = v * 10 + (record[i] - '0');
  return v;
}

bool SetNumber(std::string& record, Field f, long long value) {
  long long limit = 1;
  for (int i = 0; i < f.length && limit < 1000000000000000000LL / 10; ++i) limit *= 10;
  bool fits = true;
  if (value < 0) value = 0;
  if (value >= limit) {
    value = limit - 1;
    fits = false;
  }
  SetRaw(record, f, N2S(value, f.length, '0'));
  return fits;
}

uint16_t GetU16(const std::string& record, int position) {
  const size_t at = static_cast<size_t>(position - 1);
  if (at + 2 > record.size()) return 0;
  return static_cast<uint16_t>(static_cast<unsigned char>(record[at]) |
                               (static_cast<unsigned char>(record[at + 1]) << 8));
}

uint32_t GetU32(const std::string& record, int position) {
  const size_t at = static_cast<size_t>(position - 1);
  if (at + 4 > record.size()) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(record[at + i]);
  return v;
}

}  // namespace sono::data
