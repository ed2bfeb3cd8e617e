#include "convert/take_purge.h"

#include <dirent.h>
#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/files.h"
#include "core/text.h"

namespace sono::convert {

namespace {
bool Digits(const std::string& s, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i)
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  return true;
}
}  // namespace

bool IsTakeFileName(const std::string& fileName) {
  const PathParts p = EclateRepFicExt(fileName);
  if (!EqualsNoCase(p.extension, ".wav") && !EqualsNoCase(p.extension, ".s48")) return false;
  // "YYYY-MM-DD-hh-mm-ss": 19 characters, dashes at 4, 7, 10, 13, 16.
  const std::string& n = p.name;
  if (n.size() < 19) return false;
  for (size_t at : {4u, 7u, 10u, 13u, 16u})
    if (n[at] != '-') return false;
  if (!Digits(n, 0, 4) || !Digits(n, 5, 2) || !Digits(n, 8, 2) || !Digits(n, 11, 2) || !Digits(n, 14, 2) ||
      !Digits(n, 17, 2))
    return false;
  // "_N" when the stamp's name was taken.
  return n.size() == 19 || (n[19] == '_' && n.size() > 20 && Digits(n, 20, n.size() - 20));
}

int PurgeOldTakes(TraceLogger& log, const std::string& folder, const LocalDateTime& now) {
  std::string dir = folder;
  if (dir.empty()) return 0;
  if (dir.back() != '/') dir += '/';
  log.TraceLog("PurgeOldTakes: Start |Folder: " + dir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    const int err = errno;
    if (err == ENOENT) {
      log.TraceLog("PurgeOldTakes: End |Deleted: 0 |No folder");
      return 0;
    }
    log.TraceLog("Err: PurgeOldTakes: Unable to read the folder: " + dir + " (" + std::strerror(err) + ")");
    return -1;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  ::closedir(d);
  const LocalDateTime l = now.plusDays(-kTakeKeepDays);
  const std::string limit = fmt::format("{:04}-{:02}-{:02}", l.year, l.month, l.day);
  int deleted = 0;
  for (const std::string& n : names) {
    if (!IsTakeFileName(n) || !(n.substr(0, 10) < limit) || !File_Exist(dir + n)) continue;
    log.TraceLog("File_Delete: " + dir + n);
    if (File_Delete(dir + n)) ++deleted;
    else log.TraceLog("Err: PurgeOldTakes: Unable to delete: " + dir + n);
  }
  log.TraceLog("PurgeOldTakes: End |Deleted: " + std::to_string(deleted));
  return deleted;
}

}  // namespace sono::convert
