// Field access inside the fixed records the suite's programs share: text
// fields left-aligned and blank-padded, numbers right-aligned and zero-filled,
// single-byte Windows-1252 text. Positions count from 1, as the layouts give
// them. Every byte outside the fields written is left as it was read.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace sono::data {

struct Field {
  int position;  // from 1
  int length;
};

// The raw bytes of a field (blanks where the record is too short).
std::string GetRaw(const std::string& record, Field f);
// The field as UTF-8 text with trailing blanks removed.
std::string GetText(const std::string& record, Field f);
// Writes UTF-8 text, converted to the record's code page, cut or blank-padded.
void SetText(std::string& record, Field f, std::string_view utf8);
// Writes bytes as they are, cut or blank-padded.
void SetRaw(std::string& record, Field f, std::string_view bytes);
// Lenient reading: the leading digits of the field after blanks; anything
// else (blanks, garbage) reads as 0.
long long GetNumber(const std::string& record, Field f);
// Zero-filled to the field's width. A value too wide for it is clamped to all
// nines (and false is returned so the caller can log it); negatives write 0.
bool SetNumber(std::string& record, Field f, long long value);
// Little-endian binary values, at their aligned offsets.
uint16_t GetU16(const std::string& record, int position);
uint32_t GetU32(const std::string& record, int position);

}  // namespace sono::data
