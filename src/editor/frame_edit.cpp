#include "editor/frame_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/files.h"
#include "core/house_format.h"
#include "core/system_error_text.h"
#include "editor/rounding.h"

namespace sono::editor {

namespace {

// Frames copied per read: 1024 frames (768 KiB, about 25 s of sound).
constexpr long long kBlockFrames = 1024;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

long long FrameSpan::startMs() const { return (first - 1) * kHouseFrameMs; }
long long FrameSpan::endMs() const { return last * kHouseFrameMs; }

long long FrameOfMs(long long ms) {
  return std::max(1LL, RoundEven(static_cast<double>(ms) / kHouseFrameMs));
}

FrameSpan SelectionFrames(long long startMs, long long endMs, long long frameCount) {
  if (endMs < startMs) std::swap(startMs, endMs);
  FrameSpan span{FrameOfMs(startMs), std::min(frameCount, RoundEven(static_cast<double>(endMs) / kHouseFrameMs))};
  if (span.empty()) span = FrameSpan{};
  return span;
}

long long HouseFrameCount(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  if (st.st_size <= 0 || st.st_size % kHouseFrameBytes != 0) return -1;
  return st.st_size / kHouseFrameBytes;
}

std::vector<FramePiece> KeptPieces(const std::string& file, long long frameCount, std::vector<FrameSpan> cuts) {
  std::sort(cuts.begin(), cuts.end(), [](const FrameSpan& a, const FrameSpan& b) { return a.first < b.first; });
  std::vector<FramePiece> kept;
  long long next = 1;  // the first frame not yet placed
  for (const FrameSpan& cut : cuts) {
    if (cut.empty()) continue;
    if (cut.first > next) kept.push_back({file, {next, std::min(cut.first - 1, frameCount)}});
    next = std::max(next, cut.last + 1);
  }
  if (next <= frameCount) kept.push_back({file, {next, frameCount}});
  std::erase_if(kept, [](const FramePiece& p) { return p.frames.empty(); });
  return kept;
}

std::string WriteFramePieces(const std::string& target, const std::vector<FramePiece>& pieces,
                             const std::function<void(long long, long long)>& progress) {
  long long total = 0;
  for (const FramePiece& p : pieces) total += p.frames.count();
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return "Impossible de créer le fichier: " + target + " (" + SystemErrorText(errno) + ")";
  std::vector<char> block(static_cast<size_t>(kBlockFrames * kHouseFrameBytes));
  std::string failure;
  long long done = 0;
  if (progress) progress(0, total);
  for (const FramePiece& piece : pieces) {
    const int in = ::open(piece.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      failure = "Fichier '" + piece.file + "' non trouvé.";
      break;
    }
    for (long long frame = piece.frames.first; frame <= piece.frames.last && failure.empty();) {
      const long long frames = std::min(kBlockFrames, piece.frames.last - frame + 1);
      const auto want = static_cast<size_t>(frames * kHouseFrameBytes);
      size_t got = 0;
      while (got < want) {
        const ssize_t n = ::pread(in, block.data() + got, want - got,
                                  static_cast<off_t>((frame - 1) * kHouseFrameBytes + static_cast<long long>(got)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      if (got < want) {
        // The file is shorter than it was counted: changed meanwhile, or unreadable.
        failure = "Impossible de lire le fichier: " + piece.file + " (" + SystemErrorText(errno ? errno : EIO) + ")";
      } else if (!WriteAll(out, block.data(), want)) {
        failure = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
      }
      frame += frames;
      done += frames;
      if (failure.empty() && progress) progress(done, total);
    }
    ::close(in);
    if (!failure.empty()) break;
  }
  if (failure.empty() && ::fsync(out) != 0)
    failure = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
  if (::close(out) != 0 && failure.empty())
    failure = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
  if (!failure.empty()) File_Delete(target);
  return failure;
}

long long TimeAfterCut(long long ms, const FrameSpan& cut) {
  if (cut.empty() || ms < cut.startMs()) return ms;
  if (ms < cut.endMs()) return cut.startMs();
  return ms - (cut.endMs() - cut.startMs());
}

long long TimeAfterInsert(long long ms, long long atMs, long long lengthMs) {
  return ms >= atMs ? ms + lengthMs : ms;
}

}  // namespace sono::editor
