#include "convert/sound_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "core/files.h"
#include "core/sync_folder.h"
#include "core/system_error_text.h"

namespace sono::convert {

namespace {

// The frames [from, to) of `source` written to `out`; 0 or the errno.
int CopyRange(const std::string& source, int64_t from, int64_t to, int out) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  std::array<char, 1 << 16> buffer{};
  int error = 0;
  for (int64_t at = from; at < to && error == 0;) {
    const auto want = static_cast<size_t>(std::min<int64_t>(to - at, static_cast<int64_t>(buffer.size())));
    const ssize_t got = ::pread(in, buffer.data(), want, at);
    if (got <= 0) {
      error = got < 0 ? errno : EIO;  // the file shrank under us
      break;
    }
    for (ssize_t done = 0; done < got && error == 0;) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) error = put < 0 ? errno : EIO;
      else done += put;
    }
    at += got;
  }
  ::close(in);
  return error;
}

}  // namespace

bool WholeHouseSound(const std::string& file, long long& durationMs) {
  durationMs = 0;
  const audio::FrameScan scan = audio::ScanMpegFile(file);
  if (scan.status != audio::ScanStatus::Ok) return false;
  const audio::MpegHeader& h = scan.first;
  const bool house = h.version == 1 && h.layer == 2 && h.sampleRate == audio::kHouseRate &&
                     h.bitrateKbps == audio::kHouseBitrateKbps && h.channels == audio::kHouseChannels &&
                     scan.uniform;
  durationMs = scan.durationMs;
  return house && scan.damagedFrames == 0 && !scan.truncated && durationMs >= 1;
}

std::string AppendHouseSound(const std::string& sound, const std::string& addition) {
  long long ms = 0;
  if (!WholeHouseSound(sound, ms)) return "Le son existant n'est pas un son entier au format maison: " + sound;
  if (!WholeHouseSound(addition, ms)) return "Le son à ajouter n'est pas un son entier au format maison: " + addition;
  const audio::FrameScan old = audio::ScanMpegFile(sound), added = audio::ScanMpegFile(addition);

  const std::string temporary = sound + ".part" + std::to_string(::getpid());
  const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return "Impossible de créer le fichier: " + temporary + " (" + SystemErrorText(errno) + ")";
  int error = CopyRange(sound, 0, old.dataEnd, out);
  if (error == 0) error = CopyRange(addition, added.dataOffset, added.dataEnd, out);
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  if (error == 0 && !File_Rename(temporary, sound)) error = errno ? errno : EIO;
  if (error != 0) {
    File_Delete(temporary);
    return "Impossible d'écrire le son: " + sound + " (" + SystemErrorText(error) + ")";
  }
  // The rename itself lasts once the folder is on disk.
  SyncFolder(ParentFolder(sound));
  return {};
}

}  // namespace sono::convert
