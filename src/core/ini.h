// INI profile files with the semantics the suite's programs share: sections and
// keys found without regard to case, a default for anything missing, values
// trimmed and freed of surrounding quotes and cut to 255 characters. Files are
// UTF-8; an older file in Windows-1252 is read as such. A write rewrites the
// whole file atomically (temporary file + rename) and keeps every other line,
// comments included.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sono {

inline constexpr size_t kIniValueMax = 255;

class IniDocument {
 public:
  static IniDocument parse(std::string_view content);
  static IniDocument load(const std::string& path);  // empty when missing or unreadable

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  bool hasSection(std::string_view section) const;
  std::vector<std::string> keys(std::string_view section) const;
  void set(std::string_view section, std::string_view key, std::string_view value);
  std::string serialize() const;

 private:
  struct Line {
    std::string text;     // the line as it stands in the file
    std::string section;  // section it belongs to (empty before the first one)
    std::string key;      // key name when the line holds "key=value"
  };
  std::vector<Line> lines_;
  std::string eol_ = "\n";
};

// The value of `key` in `section` of `file`, or `defaultValue` when the file,
// the section or the key is missing, or when the file name is not correct.
std::string LectureIni(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view defaultValue);
// Writes the value (creating the file's folder when missing); false when the
// name is empty or not correct, or the file cannot be written.
bool EcritureIni(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value);

// The registry stand-in: "Registry.ini" in the settings folder, one section
// per root and key path ("HKEY_CURRENT_USER\Software\...").
class Registry {
 public:
  explicit Registry(std::string file) : file_(std::move(file)) {}
  bool Reg_GetValue(std::string_view root, std::string_view key, std::string_view valueName,
                    std::string& result) const;
  bool Reg_SetValue(std::string_view root, std::string_view key, std::string_view valueName,
                    std::string_view value);
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

}  // namespace sono
