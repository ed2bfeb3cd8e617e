// Songs held back from the change notifications by a live process of this
// workstation: the desktop (or a `sonoteka-cli edit` script) that has a
// song's sound as a local copy says so in a marker file, and every sender of
// the workstation (the desktop's TimerUDP, `sonoteka-cli notify run`) leaves
// that song's entries waiting.
//
// Decisions:
//   - The marker is "UDP_Held.<pid>" in the folder of the pending queue's
//     journal (the settings folder), holding the 8-character code and a line
//     end. Its owner keeps an exclusive flock on it for as long as it holds
//     the song, so a marker whose lock can be taken belongs to a process that
//     is gone (killed, crashed): it holds nothing, whatever the take record
//     of the local copy still says on disk. Such a marker is left in place
//     (a later process with the same pid renames its own over it); removing
//     it could race with that process.
//   - A marker is written under "UDP_Held.<pid>.tmp", locked, then renamed:
//     a reader never sees an unlocked marker of a live process. Releasing
//     removes the name and then drops the lock.
//   - The owner's own marker is not read back through the file (flock locks
//     of one process on two opens conflict): it knows what it holds.
#pragma once
#include <string>
#include <vector>

namespace sono::notify {

inline constexpr const char* kHeldMarkerPrefix = "UDP_Held.";

class HeldSongMarker {
 public:
  // `folder` with its trailing "/"; empty: nothing is written.
  explicit HeldSongMarker(std::string folder);
  ~HeldSongMarker();  // releases
  HeldSongMarker(const HeldSongMarker&) = delete;
  HeldSongMarker& operator=(const HeldSongMarker&) = delete;

  // Holds `code` ("" releases); false when the marker could not be written
  // (`error` says why, in French), the song is then held in this process only.
  bool Hold(const std::string& code, std::string* error = nullptr);
  const std::string& held() const { return code_; }
  std::string path() const;

 private:
  void release();
  std::string folder_;
  std::string code_;
  int fd_ = -1;
};

// The codes (8 characters) held by live processes other than this one.
std::vector<std::string> HeldByOtherProcesses(const std::string& folder);

}  // namespace sono::notify
