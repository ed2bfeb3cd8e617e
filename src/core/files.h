// File helpers. Every write that replaces a file goes through a temporary file
// in the same folder, flushed to disk, then renamed over the target, so a crash
// or a full disk leaves the previous file whole. A symbolic link is written
// through: the temporary file goes beside the link's target, which it replaces,
// and the link stays.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sono {

bool File_Exist(const std::string& path);          // a regular file exists there
bool Folder_Exist(const std::string& path);
bool File_Copy(const std::string& from, const std::string& to);  // atomic on `to`
bool File_Delete(const std::string& path);         // true when the file is gone
bool File_Rename(const std::string& from, const std::string& to);

// The whole file, or nothing; `error` then holds the errno of the failure
// (ENOENT when there is no such file).
std::optional<std::string> ReadWholeFile(const std::string& path, int* error = nullptr);
// Writes `content` to `path` atomically; on failure `error` says why and the
// previous file is untouched.
bool WriteFileAtomic(const std::string& path, std::string_view content,
                     std::string* error = nullptr);
// Appends to `path` (created when missing).
bool AppendToFile(const std::string& path, std::string_view content,
                  std::string* error = nullptr);

// Creates `folder` and every missing parent. On failure `failedFolder` names the
// level that could not be created.
bool CreateFolders(const std::string& folder, std::string* failedFolder = nullptr);

std::string ParentFolder(const std::string& path);  // with trailing "/"

// Temporary files that a killed run of our own writers left in `folder` (an
// absolute folder; not its sub-folders): "<name>.tmp.XXXXXX" of WriteFileAtomic
// and "<name>.part<pid>" of the sound writers. Only regular files whose last
// change is at least `minAgeSeconds` old (by the system clock, against which the file system
// stamps them) are removed, so a file another workstation or instance sharing
// the folder is still writing is left alone. Returns the paths removed.
inline constexpr int64_t kStaleTempFileAgeSeconds = 3600;
bool IsOurTemporaryFileName(std::string_view name);
std::vector<std::string> RemoveStaleTempFiles(const std::string& folder,
                                              int64_t minAgeSeconds = kStaleTempFileAgeSeconds);

}  // namespace sono
