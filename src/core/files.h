// File helpers. Every write that replaces a file goes through a temporary file
// in the same folder, flushed to disk, then renamed over the target, so a crash
// or a full disk leaves the previous file whole.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace sono {

bool File_Exist(const std::string& path);          // a regular file exists there
bool Folder_Exist(const std::string& path);
bool File_Copy(const std::string& from, const std::string& to);  // atomic on `to`
bool File_Delete(const std::string& path);         // true when the file is gone
bool File_Rename(const std::string& from, const std::string& to);

std::optional<std::string> ReadWholeFile(const std::string& path);
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

}  // namespace sono
