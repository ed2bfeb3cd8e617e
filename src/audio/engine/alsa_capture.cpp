#include "audio/engine/alsa_capture.h"

#include <alsa/asoundlib.h>

#include <cerrno>

namespace sono::audio {

namespace {
constexpr unsigned kRate = 48000;
constexpr unsigned kBufferUs = 500000;

void SilentErrors(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

bool AlsaCapture::open(std::string& error) {
  close();
  snd_lib_error_set_handler(SilentErrors);
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, pcm_.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  if (rc < 0) {
    error = "entrée " + pcm_ + ": " + snd_strerror(rc);
    return false;
  }
  rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kRate, 1,
                          kBufferUs);
  if (rc >= 0) rc = snd_pcm_start(pcm);
  if (rc < 0) {
    error = "entrée " + pcm_ + ": " + snd_strerror(rc);
    snd_pcm_close(pcm);
    return false;
  }
  handle_ = pcm;
  overrun_.store(0);
  return true;
}

long AlsaCapture::read(float* stereo, long frames) {
  auto* pcm = static_cast<snd_pcm_t*>(handle_);
  if (!pcm) return -EBADF;
  long done = 0;
  while (done < frames) {
    const snd_pcm_sframes_t n =
        snd_pcm_readi(pcm, stereo + done * 2, static_cast<snd_pcm_uframes_t>(frames - done));
    if (n >= 0) {
      done += n;
      continue;
    }
    if (n == -EPIPE) {
      // The buffer filled up before it was read: what came meanwhile is lost.
      // ALSA does not say how much; at least the buffer's worth was.
      snd_pcm_uframes_t buffer = 0, period = 0;
      snd_pcm_get_params(pcm, &buffer, &period);
      overrun_.fetch_add(static_cast<int64_t>(buffer));
    }
    if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) return static_cast<long>(n);
    if (n == -EPIPE || n == -ESTRPIPE) snd_pcm_start(pcm);
  }
  return done;
}

void AlsaCapture::close() {
  if (!handle_) return;
  auto* pcm = static_cast<snd_pcm_t*>(handle_);
  snd_pcm_drop(pcm);
  snd_pcm_close(pcm);
  handle_ = nullptr;
}

}  // namespace sono::audio
