#include "core/ini.h"

#include "core/files.h"
#include "core/text.h"

namespace sono {

namespace {

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

}  // namespace

IniDocument IniDocument::parse(std::string_view content) {
  IniDocument doc;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::string text = IsValidUtf8(content) ? std::string(content) : Cp1252ToUtf8(content);
  if (text.find("\r\n") != std::string::npos) doc.eol_ = "\r\n";
  std::string current;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    pos = end + 1;
    Line line{raw, current, {}};
    if (auto name = sectionName(raw)) {
      current = *name;
      line.section = current;
    } else {
      const std::string t = Trim(raw);
      const size_t eq = t.find('=');
      if (!t.empty() && t[0] != ';' && eq != std::string::npos && eq > 0)
        line.key = Trim(std::string_view(t).substr(0, eq));
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

IniDocument IniDocument::load(const std::string& path) {
  auto content = ReadWholeFile(path);
  return content ? parse(*content) : IniDocument{};
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
  for (const auto& l : lines_) {
    if (l.key.empty() || !EqualsNoCase(l.section, section) || !EqualsNoCase(l.key, key)) continue;
    const std::string t = Trim(l.text);
    std::string value = unquote(Trim(std::string_view(t).substr(t.find('=') + 1)));
    if (value.size() > kIniValueMax) value.resize(kIniValueMax);
    return value;
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

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  // A line break inside a value would split it into a second, bogus line.
  std::string v = ReplaceAll(ReplaceAll(std::string(value), "\r", " "), "\n", " ");
  int headerIndex = -1, lastContent = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (!EqualsNoCase(l.section, section)) continue;
    if (headerIndex < 0 && l.key.empty() && sectionName(l.text)) {
      headerIndex = static_cast<int>(i);
      lastContent = headerIndex;
      continue;
    }
    if (headerIndex < 0) continue;
    if (!l.key.empty() && EqualsNoCase(l.key, key)) {
      lines_[i].text = l.key + "=" + v;
      return;
    }
    if (!Trim(l.text).empty()) lastContent = static_cast<int>(i);
  }
  Line newLine{std::string(key) + "=" + v, std::string(section), std::string(key)};
  if (headerIndex >= 0) {
    lines_.insert(lines_.begin() + lastContent + 1, newLine);
    return;
  }
  if (!lines_.empty() && !Trim(lines_.back().text).empty())
    lines_.push_back(Line{"", lines_.back().section, {}});
  lines_.push_back(Line{"[" + std::string(section) + "]", std::string(section), {}});
  lines_.push_back(newLine);
}

std::string IniDocument::serialize() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l.text;
    out += eol_;
  }
  return out;
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
  IniDocument doc = IniDocument::load(file);
  doc.set(section, key, value);
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
