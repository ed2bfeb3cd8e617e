#include "data/collation.h"

#include <array>
#include <cstdint>

#include "data/btr/btr.h"

namespace sono::data {

namespace {

// Accents in the order they rank at equal letters (0: none).
enum Accent : std::uint8_t {
  kNone, kAcute, kGrave, kCircumflex, kCaron, kRing, kDiaeresis, kTilde, kCedilla, kStroke, kLigature
};

// What one byte becomes: one or two plain letters, its accent, its case.
struct Unit {
  std::array<char, 2> letters{};
  std::uint8_t count = 1;
  std::uint8_t accent = kNone;
  std::uint8_t upper = 0;  // 1 for a capital (lower case sorts first)
};

// Capitals with an accent (as the keys' folding leaves them): plain letter and accent.
struct Accented {
  unsigned char capital;
  const char* letters;
  Accent accent;
};
constexpr Accented kAccented[] = {
    {0xC0, "A", kGrave},     {0xC1, "A", kAcute},     {0xC2, "A", kCircumflex}, {0xC3, "A", kTilde},
    {0xC4, "A", kDiaeresis}, {0xC5, "A", kRing},      {0xC6, "AE", kLigature},  {0xC7, "C", kCedilla},
    {0xC8, "E", kGrave},     {0xC9, "E", kAcute},     {0xCA, "E", kCircumflex}, {0xCB, "E", kDiaeresis},
    {0xCC, "I", kGrave},     {0xCD, "I", kAcute},     {0xCE, "I", kCircumflex}, {0xCF, "I", kDiaeresis},
    {0xD1, "N", kTilde},     {0xD2, "O", kGrave},     {0xD3, "O", kAcute},      {0xD4, "O", kCircumflex},
    {0xD5, "O", kTilde},     {0xD6, "O", kDiaeresis}, {0xD8, "O", kStroke},     {0xD9, "U", kGrave},
    {0xDA, "U", kAcute},     {0xDB, "U", kCircumflex}, {0xDC, "U", kDiaeresis}, {0xDD, "Y", kAcute},
    {0x8A, "S", kCaron},     {0x8C, "OE", kLigature}, {0x8E, "Z", kCaron},      {0x9F, "Y", kDiaeresis},
};

const std::array<Unit, 256>& Units() {
  static const std::array<Unit, 256> table = [] {
    std::array<Unit, 256> t{};
    std::array<bool, 256> hasLowerCase{};  // a capital is what another byte folds to
    for (int c = 0; c < 256; ++c) {
      const unsigned char folded = btr::foldCase1252(static_cast<unsigned char>(c));
      if (folded != c) hasLowerCase[folded] = true;
    }
    for (int c = 0; c < 256; ++c) {
      const unsigned char capital = btr::foldCase1252(static_cast<unsigned char>(c));
      Unit& u = t[static_cast<size_t>(c)];
      u.letters[0] = static_cast<char>(capital);
      u.upper = capital == c && hasLowerCase[capital] ? 1 : 0;
      for (const Accented& a : kAccented) {
        if (a.capital != capital) continue;
        u.letters = {a.letters[0], a.letters[1]};
        u.count = a.letters[1] ? 2 : 1;
        u.accent = a.accent;
      }
    }
    return t;
  }();
  return table;
}

std::string_view TrimEnd(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string FoldCase(std::string_view cp1252) {
  std::string out(cp1252);
  for (char& c : out) c = static_cast<char>(btr::foldCase1252(static_cast<unsigned char>(c)));
  return out;
}

void FoldForSearch(std::string_view cp1252, std::string& out) {
  // Written in place: this runs over every title of a station.
  const auto& units = Units();
  out.resize(cp1252.size() * 2);
  char* o = out.data();
  for (unsigned char c : cp1252) {
    const Unit& u = units[c];
    *o++ = u.letters[0];
    if (u.count == 2) *o++ = u.letters[1];
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

std::string FoldForSearch(std::string_view cp1252) {
  std::string out;
  FoldForSearch(cp1252, out);
  return out;
}

std::string CollationKey(std::string_view text) {
  std::string key;
  CollationKey(text, key);
  return key;
}

void CollationKey(std::string_view text, std::string& key) {
  text = TrimEnd(text);
  const auto& units = Units();
  // Three levels of the same number of units, each ended by 0.
  const size_t start = key.size();
  key.resize(start + text.size() * 6 + 2, '\0');
  char* o = key.data() + start;
  for (unsigned char c : text) {  // letters (0 separates the levels: none weighs 0)
    const Unit& u = units[c];
    *o++ = u.letters[0] == '\0' ? '\x01' : u.letters[0];
    if (u.count == 2) *o++ = u.letters[1];
  }
  *o++ = '\0';
  for (size_t i = text.size(); i-- > 0;) {  // accents, from the end of the text
    const Unit& u = units[static_cast<unsigned char>(text[i])];
    if (u.count == 2) *o++ = static_cast<char>(kNone);
    *o++ = static_cast<char>(u.accent);
  }
  *o++ = '\0';
  for (unsigned char c : text) {  // case
    const Unit& u = units[c];
    *o++ = static_cast<char>(u.upper);
    if (u.count == 2) *o++ = static_cast<char>(u.upper);
  }
  key.resize(static_cast<size_t>(o - key.data()));
}

bool CollatesBefore(std::string_view a, std::string_view b) { return CollationKey(a) < CollationKey(b); }

}  // namespace sono::data
