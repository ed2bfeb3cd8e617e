#include "core/ini.h"

#include <cerrno>

#include "core/files.h"
#include "core/text.h"

namespace sono {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

std::string unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v;
}

// "[name]" -> name; nothing when the line is not a section header.
std::optional<std::string> sectionName(std::string_view line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(std::string_view(t).substr(1, close - 1));
}

// The value of a "key=value" line, trimmed and unquoted, not yet cut.
std::string lineValue(std::string_view text) {
  const std::string t = Trim(text);
  return unquote(Trim(std::string_view(t).substr(t.find('=') + 1)));
}

bool hasNonAscii(std::string_view bytes) {
  for (unsigned char c : bytes)
    if (c >= 0x80) return true;
  return false;
}

// A line end that really ends the line: it holds the line feed ("\n", "\r\n"
// or their UTF-16 code units), not a carriage return alone.
bool breaksLine(std::string_view eol) { return eol.find('\n') != std::string_view::npos; }

// The first `max` characters of UTF-8 text: the suite's programs count
// Windows-1252 characters, and a cut inside a UTF-8 sequence would leave a
// broken character.
std::string cutToCharacters(std::string text, size_t max) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (characters++ == max) {
      text.resize(i);
      break;
    }
  }
  return text;
}

struct RawLine {
  std::string raw, eol;
};

// Lines of a byte-oriented file (UTF-8 or Windows-1252): split on "\n", a "\r"
// before it belongs to the line end.
std::vector<RawLine> splitBytes(std::string_view content) {
  std::vector<RawLine> out;
  size_t pos = 0;
  while (pos < content.size()) {
    const size_t end = content.find('\n', pos);
    RawLine l;
    if (end == std::string_view::npos) {
      l.raw = std::string(content.substr(pos));
      pos = content.size();
    } else {
      l.raw = std::string(content.substr(pos, end - pos));
      l.eol = "\n";
      pos = end + 1;
    }
    if (!l.raw.empty() && l.raw.back() == '\r') {
      l.raw.pop_back();
      l.eol.insert(0, "\r");
    }
    out.push_back(std::move(l));
  }
  return out;
}

// Lines of a UTF-16 file: split on the code unit U+000A, a U+000D before it
// belongs to the line end.
std::vector<RawLine> splitUtf16(std::string_view content, bool bigEndian) {
  auto unitIs = [&](size_t i, unsigned char c) {
    const auto hi = static_cast<unsigned char>(content[bigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(content[bigEndian ? i + 1 : i]);
    return hi == 0 && lo == c;
  };
  std::vector<RawLine> out;
  size_t start = 0;
  auto emit = [&](size_t end, size_t eolEnd) {
    RawLine l{std::string(content.substr(start, end - start)),
              std::string(content.substr(end, eolEnd - end))};
    if (l.raw.size() >= 2 && l.raw.size() % 2 == 0 && unitIs(end - 2, '\r')) {
      l.eol.insert(0, l.raw.substr(l.raw.size() - 2));
      l.raw.resize(l.raw.size() - 2);
    }
    out.push_back(std::move(l));
    start = eolEnd;
  };
  for (size_t i = 0; i + 1 < content.size(); i += 2)
    if (unitIs(i, '\n')) emit(i, i + 2);
  if (start < content.size()) emit(content.size(), content.size());
  return out;
}

}  // namespace

IniDocument::Line IniDocument::makeLine(std::string text, std::string section, std::string key,
                                        const std::string& eol) {
  Line line;
  line.text = std::move(text);
  line.section = std::move(section);
  line.key = std::move(key);
  line.eol = eol;
  line.rewritten = true;
  return line;
}

IniDocument IniDocument::parse(std::string_view content) {
  IniDocument doc;
  std::vector<RawLine> raws;
  bool utf16 = false, bigEndian = false;
  if (content.substr(0, 3) == kUtf8Bom) {
    doc.bom_ = kUtf8Bom;
  } else if (content.substr(0, 2) == kUtf16LeBom || content.substr(0, 2) == kUtf16BeBom) {
    utf16 = true;
    bigEndian = content.substr(0, 2) == kUtf16BeBom;
    doc.bom_ = content.substr(0, 2);
    doc.encoding_ = bigEndian ? Encoding::Utf16BE : Encoding::Utf16LE;
  }
  content.remove_prefix(doc.bom_.size());
  if (utf16 && content.size() % 2 == 1) {
    doc.strayByte_ = content.substr(content.size() - 1);
    content.remove_suffix(1);
  }
  raws = utf16 ? splitUtf16(content, bigEndian) : splitBytes(content);

  int utf8Lines = 0, cp1252Lines = 0;  // lines holding non-ASCII text
  std::string current;
  for (auto& r : raws) {
    Line line;
    if (utf16) {
      line.text = Utf16ToUtf8(r.raw, bigEndian);
    } else if (!hasNonAscii(r.raw)) {
      line.text = r.raw;
    } else if (IsValidUtf8(r.raw)) {
      line.text = r.raw;
      ++utf8Lines;
    } else {
      line.text = Cp1252ToUtf8(r.raw);
      ++cp1252Lines;
    }
    line.raw = std::move(r.raw);
    line.eol = std::move(r.eol);
    if (auto name = sectionName(line.text)) {
      current = *name;
    } else {
      const std::string t = Trim(line.text);
      const size_t eq = t.find('=');
      if (!t.empty() && t[0] != ';' && eq != std::string::npos && eq > 0)
        line.key = Trim(std::string_view(t).substr(0, eq));
    }
    line.section = current;
    doc.lines_.push_back(std::move(line));
  }
  if (!utf16 && doc.bom_.empty() && cp1252Lines > 0 && utf8Lines == 0)
    doc.encoding_ = Encoding::Cp1252;
  // A carriage return alone ends only a last line: it is no line break to
  // give the lines written after it.
  if (!doc.lines_.empty() && breaksLine(doc.lines_.front().eol))
    doc.eol_ = doc.lines_.front().eol;
  else if (utf16)
    doc.eol_ = Utf8ToUtf16("\r\n", bigEndian);
  return doc;
}

IniDocument IniDocument::load(const std::string& path) {
  auto content = ReadWholeFile(path);
  return content ? parse(*content) : IniDocument{};
}

std::string IniDocument::encode(const std::string& text) const {
  switch (encoding_) {
    case Encoding::Utf16LE: return Utf8ToUtf16(text, false);
    case Encoding::Utf16BE: return Utf8ToUtf16(text, true);
    case Encoding::Cp1252: {
      std::string cp = Utf8ToCp1252(text);
      return Cp1252ToUtf8(cp) == text ? cp : text;  // no Windows-1252 form: UTF-8
    }
    case Encoding::Utf8: break;
  }
  return text;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
  for (const auto& l : lines_) {
    if (l.key.empty() || !EqualsNoCase(l.section, section) || !EqualsNoCase(l.key, key)) continue;
    return cutToCharacters(lineValue(l.text), kIniValueMax);
  }
  return std::nullopt;
}

bool IniDocument::hasSection(std::string_view section) const {
  for (const auto& l : lines_)
    if (l.key.empty() && EqualsNoCase(l.section, section) && sectionName(l.text)) return true;
  return false;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (!l.key.empty() && EqualsNoCase(l.section, section)) out.push_back(l.key);
  return out;
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  // A line break inside a value would split it into a second, bogus line.
  const std::string v = ReplaceAll(ReplaceAll(std::string(value), "\r", " "), "\n", " ");
  int headerIndex = -1, lastContent = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    Line& l = lines_[i];
    if (!EqualsNoCase(l.section, section)) continue;
    if (headerIndex < 0 && l.key.empty() && sectionName(l.text)) {
      headerIndex = static_cast<int>(i);
      lastContent = headerIndex;
      continue;
    }
    if (headerIndex < 0) continue;
    if (!l.key.empty() && EqualsNoCase(l.key, key)) {
      if (lineValue(l.text) == v) return false;
      // The key as written and the blanks around "=" stay; only the value changes.
      size_t valueStart = l.text.find('=') + 1;
      while (valueStart < l.text.size() && (l.text[valueStart] == ' ' || l.text[valueStart] == '\t'))
        ++valueStart;
      l.text = l.text.substr(0, valueStart) + v;
      l.rewritten = true;
      return true;
    }
    if (!Trim(l.text).empty()) lastContent = static_cast<int>(i);
  }
  Line newLine = makeLine(std::string(key) + "=" + v, std::string(section), std::string(key), eol_);
  if (headerIndex >= 0) {
    lines_.insert(lines_.begin() + lastContent + 1, std::move(newLine));
    return true;
  }
  if (!lines_.empty() && !Trim(lines_.back().text).empty())
    lines_.push_back(makeLine("", lines_.back().section, {}, eol_));
  lines_.push_back(makeLine("[" + std::string(section) + "]", std::string(section), {}, eol_));
  lines_.push_back(std::move(newLine));
  return true;
}

std::string IniDocument::serialize() const {
  std::string out = bom_;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    out += l.rewritten ? encode(l.text) : l.raw;
    // A last line without an end gets one only when lines now follow it; one
    // ended by a carriage return alone gets its line feed (its bytes stay).
    if (breaksLine(l.eol) || i + 1 == lines_.size()) out += l.eol;
    else if (l.eol.empty()) out += eol_;
    else out += l.eol + encode("\n");
  }
  return out + strayByte_;
}

bool IniDocument::holdsBinary() const {
  for (const auto& l : lines_)
    for (unsigned char c : l.text)
      if (c < 0x20 && c != '\t' && c != '\r') return true;
  return false;
}

bool IniDocument::isBlank() const {
  for (const auto& l : lines_)
    if (!IsBlank(l.text)) return false;
  return true;
}

std::string LectureIni(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view defaultValue) {
  if (file.empty() || !NomFichierCorrect(file)) return std::string(defaultValue);
  auto value = IniDocument::load(file).get(section, key);
  return value ? *value : std::string(defaultValue);
}

bool EcritureIni(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value) {
  if (file.empty() || !NomFichierCorrect(file)) return false;
  if (!CreateFolders(ParentFolder(file))) return false;
  // Only a file that is not there starts empty: any other failure to read it
  // refuses the write, or the file would be replaced by this one key.
  int readError = 0;
  const auto content = ReadWholeFile(file, &readError);
  if (!content && readError != ENOENT) return false;
  IniDocument doc = content ? IniDocument::parse(*content) : IniDocument{};
  if (!doc.set(section, key, value)) return true;
  return WriteFileAtomic(file, doc.serialize());
}

bool Registry::Reg_GetValue(std::string_view root, std::string_view key,
                            std::string_view valueName, std::string& result) const {
  auto v = IniDocument::load(file_).get(std::string(root) + "\\" + std::string(key), valueName);
  if (!v) return false;
  result = *v;
  return true;
}

bool Registry::Reg_SetValue(std::string_view root, std::string_view key,
                            std::string_view valueName, std::string_view value) {
  return EcritureIni(file_, std::string(root) + "\\" + std::string(key), valueName, value);
}

}  // namespace sono
