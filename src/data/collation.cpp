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
  const auto& units = Units();
  out.clear();
  for (unsigned char c : cp1252) {
    const Unit& u = units[c];
    out.push_back(u.letters[0]);
    if (u.count == 2) out.push_back(u.letters[1]);
  }
}

std::string FoldForSearch(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + 2);
  FoldForSearch(cp1252, out);
  return out;
}

std::string CollationKey(std::string_view text) {
  text = TrimEnd(text);
  const auto& units = Units();
  std::string primary, accents, cases;
  primary.reserve(text.size() + 2);
  accents.reserve(text.size() + 2);
  cases.reserve(text.size() + 2);
  for (unsigned char c : text) {
    const Unit& u = units[c];
    for (int i = 0; i < u.count; ++i) {
      // 0 separates the levels: no letter may weigh 0.
      primary.push_back(u.letters[static_cast<size_t>(i)] == '\0' ? '\x01' : u.letters[static_cast<size_t>(i)]);
      accents.push_back(static_cast<char>(i == 0 ? u.accent : 0));
      cases.push_back(static_cast<char>(u.upper));
    }
  }
  // Accents count from the end of the text: they are written backwards.
  std::string key = std::move(primary);
  key.reserve(key.size() * 3 + 2);
  key.push_back('\0');
  key.append(accents.rbegin(), accents.rend());
  key.push_back('\0');
  key.append(cases);
  return key;
}

bool CollatesBefore(std::string_view a, std::string_view b) { return CollationKey(a) < CollationKey(b); }

}  // namespace sono::data
