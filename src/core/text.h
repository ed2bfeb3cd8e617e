// Small text helpers shared by every module: fixed-width fields, folder names,
// and the Windows-1252 <-> UTF-8 conversion used by record field accessors.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sono {

// Value right-aligned to `width`, filled on the left with `fill` (7, 3, '0' -> "007").
// A value wider than `width` is kept whole: a number is never silently cut.
std::string N2S(long long value, int width, char fill = '0');
std::string N2S(std::string_view value, int width, char fill = '0');

// Text cut to `width`, or right-padded with blanks to it.
std::string Calibre(std::string_view text, int width);

// Folder with a trailing "/" (an empty folder stays empty).
std::string CheckRep(std::string_view folder);

struct PathParts {
  std::string folder;     // with its trailing "/", empty when the path has none
  std::string name;       // without extension
  std::string extension;  // with its leading ".", empty when none
};
PathParts EclateRepFicExt(std::string_view path);

// False when the name holds "*", "?", a double quote or "|".
bool NomFichierCorrect(std::string_view name);

// Blanks (spaces and tabs) removed at both ends.
std::string Trim(std::string_view text);
std::string TrimRight(std::string_view text);
bool IsBlank(std::string_view text);

// ASCII case-insensitive comparison, used for INI section and key names.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToUpperAscii(std::string_view text);

// A whole number written in `text` (blanks around allowed), or nothing.
std::optional<long long> ParseInt(std::string_view text);

// A whole number read from a setting and brought into [lo, hi]: a number past a
// bound, however many digits it has, gives that bound (4294967297 read into
// [0, 9] gives 9, never 1); text that is not a whole number gives `def`.
int ParseIntClamped(std::string_view text, int lo, int hi, int def);

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// Characters (code points) in UTF-8 text.
size_t Utf8Length(std::string_view utf8);

// Windows-1252 <-> UTF-8. The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 code points of the same value so a round trip is lossless.
// Characters with no Windows-1252 form become "?".
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8);
bool IsValidUtf8(std::string_view bytes);

// UTF-16 bytes (no byte-order mark) <-> UTF-8. A lone surrogate reads as U+FFFD;
// an odd last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string Utf8ToUtf16(std::string_view utf8, bool bigEndian);

}  // namespace sono
