#include "audio/codec/wav_writer.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sono::audio {

namespace {

// The data and the completed header reach the disk before the rename.
bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

}  // namespace

bool WriteWavAtomic(const std::string& path, const float* stereo, size_t frames, int rate,
                    std::string* error) {
  WavStreamWriter w;
  const bool ok = w.open(path, rate) && w.write(stereo, frames) && w.finish();
  if (!ok && error) *error = w.error();
  return ok;
}

WavStreamWriter::~WavStreamWriter() { abandon(); }

bool WavStreamWriter::open(const std::string& path, int rate) {
  abandon();
  path_ = path;
  temp_ = path + ".part" + std::to_string(::getpid());
  failed_ = false;
  error_.clear();
  frames_ = 0;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
  file_ = sf_open(temp_.c_str(), SFM_WRITE, &info);
  if (!file_) {
    error_ = "cannot create " + temp_ + ": " + sf_strerror(nullptr);
    return false;
  }
  // A plain WAV header whenever the sound fits one (under 4 GB).
  sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  // Samples beyond full scale are clipped, not wrapped.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  return true;
}

bool WavStreamWriter::write(const float* stereo, size_t frames) {
  if (!file_ || failed_) return false;
  const sf_count_t n = static_cast<sf_count_t>(frames);
  if (sf_writef_float(file_, stereo, n) != n) {
    failed_ = true;
    error_ = "write error on " + temp_ + ": " + sf_strerror(file_);
    return false;
  }
  frames_ += n;
  return true;
}

bool WavStreamWriter::finish() {
  if (!file_) return false;
  bool ok = !failed_;
  if (sf_close(file_) != 0) {
    ok = false;
    if (error_.empty()) error_ = "cannot complete " + temp_;
  }
  file_ = nullptr;
  if (ok && !SyncFile(temp_)) {
    ok = false;
    error_ = "cannot flush " + temp_ + ": " + std::strerror(errno);
  }
  if (ok && std::rename(temp_.c_str(), path_.c_str()) != 0) {
    ok = false;
    error_ = "cannot rename " + temp_ + " to " + path_ + ": " + std::strerror(errno);
  }
  if (!ok) std::remove(temp_.c_str());
  return ok;
}

void WavStreamWriter::abandon() {
  if (!file_) return;
  sf_close(file_);
  file_ = nullptr;
  std::remove(temp_.c_str());
}

}  // namespace sono::audio
