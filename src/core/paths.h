// Maps folder values written in Windows form, as the suite's configuration
// files hold them, to local POSIX folders:
//   "C:\a\b\"        -> <root of drive C>/a/b/   (roots from the site file's
//                       [Drives] section, key "C"; default <program folder>drives/c/)
//   "\\srv\share\x"  -> through the site file's [Shares] section: a key naming a
//                       share of this computer ("Sons") or a whole UNC prefix
//                       ("\\srv\share"); a share nobody mapped lands under
//                       <program folder>unc/srv/share/ so the folder still works
//   "/abs/path"      -> unchanged
//   "relative\path"  -> under the program folder
// Blanks around the value and surrounding quotes are removed first.
#pragma once
#include <string>
#include <string_view>

namespace sono {

class PathMapper {
 public:
  PathMapper() = default;
  PathMapper(std::string programFolder, std::string siteFile, std::string computerName);

  std::string toLocal(std::string_view configured) const;
  std::string driveRoot(char letter) const;
  // Local folder of a share of this computer, or empty.
  std::string shareOfThisComputer(std::string_view shareName) const;
  const std::string& computerName() const { return computer_; }
  const std::string& siteFile() const { return siteFile_; }

 private:
  std::string mapUnc(std::string_view unc) const;
  std::string program_;
  std::string siteFile_;
  std::string computer_;
};

// "a\b\c" -> "a/b/c"
std::string BackslashesToSlashes(std::string_view text);

}  // namespace sono
