// The INI reader and writer on any file: a document read then written
// unchanged gives back the same bytes; a key set then read back (after the
// file is written and read again) gives the value set, and every other key
// keeps its value.
#include <string>
#include <utility>
#include <vector>

#include "core/ini.h"
#include "core/text.h"
#include "fuzz_target.h"

namespace {

// A name or value the windows could write: printable ASCII and a few French
// letters, no blanks or quotes at either end, no line break, at most
// `maxCharacters`. `forbidden` holds the characters the kind of text may not carry.
std::string Clean(std::string_view raw, std::string_view forbidden, size_t maxCharacters) {
  static const char* const kAccented[] = {"é", "è", "à", "ç", "ê", "ô", "ù"};
  std::string out;
  for (unsigned char c : raw) {
    if (sono::Utf8Length(out) >= maxCharacters) break;
    if (c >= 0x80) out += kAccented[c % 7];
    else if (c >= 0x20 && c < 0x7F && forbidden.find(static_cast<char>(c)) == std::string_view::npos)
      out += static_cast<char>(c);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '"' || out.back() == '\'')) out.pop_back();
  size_t start = 0;
  while (start < out.size() && (out[start] == ' ' || out[start] == '"' || out[start] == '\'')) ++start;
  return out.substr(start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sono::fuzz::InputCursor input(data, size);
  const size_t split = input.byte();
  const std::string section = Clean(input.take(split % 16), "[]", 40);
  const std::string key = Clean(input.take(split / 16), "=;[]", 40);
  const std::string value = Clean(input.take(input.byte()), "", sono::kIniValueMax);
  const std::string_view file = input.rest();

  sono::IniDocument doc = sono::IniDocument::parse(file);
  FUZZ_CHECK(doc.serialize() == file);
  if (section.empty() || key.empty() || doc.holdsBinary()) return 0;

  std::vector<std::pair<std::string, std::string>> others;  // section, key
  std::vector<std::string> before;
  // The other keys of the section set, and those before any section.
  for (const std::string& s : {section, std::string()}) {
    for (const std::string& k : doc.keys(s)) {
      others.emplace_back(s, k);
      before.push_back(doc.get(s, k).value_or("?"));
    }
  }
  doc.set(section, key, value);
  const sono::IniDocument again = sono::IniDocument::parse(doc.serialize());
  FUZZ_CHECK(again.get(section, key) == value);
  for (size_t i = 0; i < others.size(); ++i) {
    const auto& [s, k] = others[i];
    if (!sono::EqualsNoCase(s, section) || !sono::EqualsNoCase(k, key)) FUZZ_CHECK(again.get(s, k).value_or("?") == before[i]);
  }
  return 0;
}
