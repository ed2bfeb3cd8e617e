// Temporary folders and small file helpers for the tests.
#pragma once
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sono::test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sonoteka-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
    path_ += "/";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + rel; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Files larger than `bytes` cannot be written while it lives: write() then
// fails with EFBIG, as on a full disk, even for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{bytes, old_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit old_{};
  void (*previous_)(int) = nullptr;
};

inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    out.push_back(e.path().filename().string());
  return out;
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A workstation configured the older way, as the suite's installer leaves it:
// "Win.ini" in the Windows folder of `home` and the base's "KM_SYS.ini"
// (Windows-1252, CR LF), two stations, no "Vexa_Config.ini" yet.
inline void WriteOlderConfigurationSite(const std::string& home) {
  WriteFile(home + "Windows/Win.ini",
            "[Brevalon]\r\nINI_ONDAVIA=C:\\Ondavia\\Config\\\r\nNb_Base=1\r\n");
  WriteFile(home + "drives/c/Ondavia/Config/KM_SYS.ini",
            "[Div_radio]\r\nNom_Radio=Radio C\xF4te Sud\r\n"
            "[Div_Radio]\r\nStation_001=C\xF4te FM\r\nStation_002=C\xF4te Jazz\r\n"
            "[Stations]\r\nNb_Max=2\r\n"
            "[Repertoires]\r\nREPLOG=C:\\Ondavia\\Logs\\\r\nREPBTR=C:\\Ondavia\\Data\\\r\n"
            "[Repertoire_Station]\r\n000_001=C:\\Sons\\FM\\Musique\\\r\n");
}

}  // namespace sono::test
