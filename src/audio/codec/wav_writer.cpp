#include "audio/codec/wav_writer.h"

#include <sndfile.h>
#include <unistd.h>

#include <cstdio>

namespace sono::audio {

bool WriteWavAtomic(const std::string& path, const float* stereo, size_t frames, int rate,
                    std::string* error) {
  const std::string temp = path + ".part" + std::to_string(::getpid());
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(temp.c_str(), SFM_WRITE, &info);
  if (!f) {
    if (error) *error = sf_strerror(nullptr);
    return false;
  }
  // Samples beyond full scale are clipped, not wrapped.
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = sf_writef_float(f, stereo, static_cast<sf_count_t>(frames));
  sf_write_sync(f);
  const bool ok = sf_close(f) == 0 && written == static_cast<sf_count_t>(frames);
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot write " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace sono::audio
