#include "core/text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace sono {

std::string N2S(long long value, int width, char fill) {
  return N2S(std::to_string(value), width, fill);
}

std::string N2S(std::string_view value, int width, char fill) {
  std::string out;
  if (static_cast<int>(value.size()) < width) out.assign(width - value.size(), fill);
  out.append(value);
  return out;
}

std::string Calibre(std::string_view text, int width) {
  if (width <= 0) return {};
  std::string out(text.substr(0, static_cast<size_t>(width)));
  out.resize(static_cast<size_t>(width), ' ');
  return out;
}

std::string CheckRep(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out.push_back('/');
  return out;
}

PathParts EclateRepFicExt(std::string_view path) {
  PathParts parts;
  const size_t slash = path.find_last_of('/');
  std::string_view file = path;
  if (slash != std::string_view::npos) {
    parts.folder = std::string(path.substr(0, slash + 1));
    file = path.substr(slash + 1);
  }
  const size_t dot = file.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) {
    parts.name = std::string(file);
  } else {
    parts.name = std::string(file.substr(0, dot));
    parts.extension = std::string(file.substr(dot));
  }
  return parts;
}

bool NomFichierCorrect(std::string_view name) {
  return name.find_first_of("*?\"|") == std::string_view::npos;
}

static bool isBlankChar(char c) { return c == ' ' || c == '\t'; }

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && isBlankChar(text[b])) ++b;
  while (e > b && isBlankChar(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && isBlankChar(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), isBlankChar);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::optional<long long> ParseInt(std::string_view text) {
  const std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size()) return std::nullopt;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    if (v > 100000000000000000LL) return std::nullopt;
    v = v * 10 + (t[i] - '0');
  }
  return t[0] == '-' ? -v : v;
}

int ParseIntClamped(std::string_view text, int lo, int hi, int def) {
  const std::string t = Trim(text);
  const bool negative = !t.empty() && t[0] == '-';
  size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size()) return def;
  // Digits past the range of an int cannot change the verdict: the value
  // saturates instead of wrapping.
  constexpr long long kSaturated = 1LL << 40;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return def;
    v = std::min(kSaturated, v * 10 + (t[i] - '0'));
  }
  if (negative) v = -v;
  return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// Code points of bytes 0x80..0x9F in Windows-1252.
static constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

static void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char b : bytes) {
    if (b < 0x80) out.push_back(static_cast<char>(b));
    else if (b < 0xA0) appendUtf8(out, kHigh[b - 0x80]);
    else appendUtf8(out, b);
  }
  return out;
}

// Decodes one UTF-8 sequence at `i`; returns false on a malformed one.
static bool decodeUtf8(std::string_view s, size_t& i, char32_t& cp) {
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  int len = 0;
  if (b0 < 0x80) { cp = b0; i += 1; return true; }
  if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; }
  else return false;
  if (i + len > s.size()) return false;
  for (int k = 1; k < len; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += len;
  return true;
}

size_t Utf8Length(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  char32_t cp;
  while (i < bytes.size())
    if (!decodeUtf8(bytes, i, cp)) return false;
  return true;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  std::string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    appendUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToUtf16(std::string_view utf8, bool bigEndian) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&](char32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  };
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    if (!decodeUtf8(utf8, i, cp)) {
      cp = 0xFFFD;
      ++i;
    }
    if (cp < 0x10000) {
      put(cp);
    } else {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    if (!decodeUtf8(utf8, i, cp)) {
      out.push_back('?');
      ++i;
      continue;
    }
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char mapped = '?';
    for (size_t k = 0; k < kHigh.size(); ++k) {
      if (kHigh[k] == cp) { mapped = static_cast<char>(0x80 + k); break; }
    }
    out.push_back(mapped);
  }
  return out;
}

}  // namespace sono
