// INI profile files with the semantics the suite's programs share: sections and
// keys found without regard to case, a default for anything missing, values
// trimmed and freed of surrounding quotes and cut to 255 characters.
//
// Text encoding is decided line by line, because the suite's Windows programs
// write Windows-1252, this program writes UTF-8, and both meet in one file:
//   - Reading: a line that is valid UTF-8 is UTF-8 (a UTF-8 byte-order mark is
//     skipped), any other line is Windows-1252 (a Windows-1252 line that happens
//     to be valid UTF-8, such as "Ã©", reads as UTF-8). A file that starts with
//     a UTF-16 byte-order mark (Notepad's "Unicode") is read as UTF-16.
//   - Writing: a line nobody changed keeps its exact bytes, line end included.
//     A new or changed line is written in the file's own encoding: UTF-16 (same
//     byte order, mark kept) in a UTF-16 file; Windows-1252 in a file whose
//     non-ASCII lines are all Windows-1252, when the value has a Windows-1252
//     form (UTF-8 when it has not); UTF-8 in every other file (new, pure ASCII,
//     UTF-8 or mixed). New lines take the line end of the file's first line
//     (a carriage return alone is no line end: the default is taken then).
//   - A write that changes nothing does not touch the file.
//   - The whole file is read before a write: when it exists but cannot be read
//     (I/O error, no permission, a folder), the write is refused and the file
//     stays as it was; a key is never written into an empty stand-in.
//   - The file is replaced atomically (temporary file + fsync + rename); a
//     symbolic link stays a link and its target is replaced.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sono {

inline constexpr size_t kIniValueMax = 255;  // characters, not bytes

class IniDocument {
 public:
  static IniDocument parse(std::string_view content);
  static IniDocument load(const std::string& path);  // empty when missing or unreadable

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  bool hasSection(std::string_view section) const;
  std::vector<std::string> keys(std::string_view section) const;
  // False when the key already held exactly this value (nothing changed).
  bool set(std::string_view section, std::string_view key, std::string_view value);
  std::string serialize() const;

  // A line holds a NUL or another control character (tab aside): binary junk,
  // or UTF-16 without its byte-order mark.
  bool holdsBinary() const;
  bool isBlank() const;  // no line holds anything but blanks

 private:
  enum class Encoding { Utf8, Cp1252, Utf16LE, Utf16BE };
  struct Line {
    std::string raw;      // the line's bytes as they stand in the file, without its end
    std::string eol;      // its line end as found ("" for a last line without one)
    std::string text;     // the line as UTF-8
    std::string section;  // section it belongs to (empty before the first one)
    std::string key;      // key name when the line holds "key=value"
    bool rewritten = false;  // changed or new: encoded again when written
  };
  static Line makeLine(std::string text, std::string section, std::string key,
                       const std::string& eol);
  std::string encode(const std::string& text) const;

  std::vector<Line> lines_;
  std::string bom_;         // byte-order mark found at the start, written back
  // The lone last byte of a UTF-16 file cut short, kept at the very end so
  // that lines written after the last one stay on whole code units.
  std::string strayByte_;
  std::string eol_ = "\n";  // line end of new lines, in the file's encoding
  Encoding encoding_ = Encoding::Utf8;
};

// The value of `key` in `section` of `file`, or `defaultValue` when the file,
// the section or the key is missing, or when the file name is not correct.
std::string LectureIni(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view defaultValue);
// Writes the value (creating the file's folder when missing); false when the
// name is empty or not correct, or the file cannot be read or written.
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
