#include "audio/engine/alsa_device.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

#include <cerrno>

namespace sono::audio {

namespace {
constexpr int kPeriodFrames = 480;            // 10 ms
constexpr unsigned kLatencyUs = 40000;        // ALSA buffer: 40 ms

// ALSA prints its own errors to stderr; the program reports them itself.
void SilentErrors(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

std::vector<AlsaCard> ListAlsaCards() {
  snd_lib_error_set_handler(SilentErrors);
  std::vector<AlsaCard> cards;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    snd_ctl_t* ctl = nullptr;
    const std::string hw = "hw:" + std::to_string(card);
    if (snd_ctl_open(&ctl, hw.c_str(), 0) < 0) continue;
    AlsaCard c;
    c.index = card;
    snd_ctl_card_info_t* info;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl, info) == 0) {
      c.id = snd_ctl_card_info_get_id(info);
      c.name = snd_ctl_card_info_get_name(info);
    }
    int dev = -1;
    while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
      AlsaPcm p;
      p.device = dev;
      snd_pcm_info_t* pinfo;
      snd_pcm_info_alloca(&pinfo);
      snd_pcm_info_set_device(pinfo, static_cast<unsigned>(dev));
      snd_pcm_info_set_subdevice(pinfo, 0);
      for (auto stream : {SND_PCM_STREAM_PLAYBACK, SND_PCM_STREAM_CAPTURE}) {
        snd_pcm_info_set_stream(pinfo, stream);
        if (snd_ctl_pcm_info(ctl, pinfo) == 0) {
          (stream == SND_PCM_STREAM_PLAYBACK ? p.playback : p.capture) = true;
          p.name = snd_pcm_info_get_name(pinfo);
        }
      }
      if (p.playback || p.capture) c.pcms.push_back(p);
    }
    snd_ctl_close(ctl);
    cards.push_back(std::move(c));
  }
  return cards;
}

bool AlsaPcmExists(const std::string& name) {
  snd_lib_error_set_handler(SilentErrors);
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
    return false;
  snd_pcm_close(pcm);
  return true;
}

AlsaDevice::AlsaDevice(std::string pcm, int rate) : pcm_(std::move(pcm)), rate_(rate) {
  mixer_ = std::make_unique<Mixer>(1, rate);
  buffer_.resize(kPeriodFrames * 2);
}

AlsaDevice::~AlsaDevice() { stop(); }

bool AlsaDevice::start(std::string& error, bool& busy) {
  busy = false;
  if (running_) return true;
  snd_lib_error_set_handler(SilentErrors);
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, pcm_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    busy = rc == -EBUSY;
    error = snd_strerror(rc);
    return false;
  }
  rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                          static_cast<unsigned>(rate_), 1, kLatencyUs);
  if (rc < 0) {
    error = snd_strerror(rc);
    snd_pcm_close(pcm);
    return false;
  }
  handle_ = pcm;
  quit_ = false;
  failure_.store(0);
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void AlsaDevice::stop() {
  if (!running_) return;
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  snd_pcm_drop(static_cast<snd_pcm_t*>(handle_));
  snd_pcm_close(static_cast<snd_pcm_t*>(handle_));
  handle_ = nullptr;
  running_ = false;
}

void AlsaDevice::run() {
  // However the loop ends but by stop(), the device is reported failed, so
  // that nothing waits on a sound that no longer plays.
  const int error = renderLoop();
  if (!quit_.load()) failure_.store(error < 0 ? error : -EIO);
}

int AlsaDevice::renderLoop() {
  // Real-time priority when the system grants it; normal priority otherwise.
  sched_param param{};
  param.sched_priority = 70;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  auto* pcm = static_cast<snd_pcm_t*>(handle_);
  float* pairs[1] = {buffer_.data()};
  while (!quit_.load(std::memory_order_relaxed)) {
    mixer_->render(pairs, kPeriodFrames);
    snd_pcm_sframes_t left = kPeriodFrames;
    const float* p = buffer_.data();
    while (left > 0 && !quit_.load(std::memory_order_relaxed)) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, static_cast<snd_pcm_uframes_t>(left));
      if (n < 0) {
        // An underrun or a suspend: recover and go on. Anything else (the
        // card unplugged: -ENODEV, -EBADFD) ends the thread with its error.
        if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) return static_cast<int>(n);
        continue;
      }
      left -= n;
      p += n * 2;
      written_.fetch_add(n, std::memory_order_relaxed);
    }
  }
  return 0;
}

std::vector<ProvidedBoard> AlsaDeviceProvider::boards() {
  std::vector<ProvidedBoard> boards;
  auto addPair = [](ProvidedBoard& b, const std::string& pcm) {
    b.devices.push_back(std::make_unique<AlsaDevice>(pcm, b.desc.rate));
    b.desc.outputPairs.emplace_back(b.devices.back().get(), 0);
    b.desc.outputs += 2;
  };
  // A PCM named in the options is a board with one output pair and one
  // input pair (its capture, opened by a take on the record pipe); ALSA's
  // "default" has no input here, so the cards' inputs keep their numbers.
  auto addNamedPcm = [&](const std::string& pcm, const std::string& model, bool capture) {
    ProvidedBoard b;
    b.desc.model = model;
    b.desc.type = kBoardTypeAlsa;
    b.desc.isVirtual = false;
    b.desc.alsaName = pcm;
    addPair(b, pcm);
    if (capture) b.desc.inputs = 2;
    boards.push_back(std::move(b));
  };
  std::vector<AlsaCard> cards;
  if (listCards_) cards = ListAlsaCards();
  if (defaultPcm_ == DefaultPcm::Always || (defaultPcm_ == DefaultPcm::WhenCardsFound && !cards.empty()))
    addNamedPcm("default", "default", false);
  for (const AlsaCard& card : cards) {
    ProvidedBoard b;
    b.isCard = true;
    b.desc.model = card.name.empty() ? card.id : card.name;
    b.desc.type = kBoardTypeAlsa;
    b.desc.bus = kBusPci;
    b.desc.isVirtual = false;
    b.desc.alsaName = card.id;
    // Named by the card's id, which stays when cards are added or removed.
    const std::string cardName = card.id.empty() ? std::to_string(card.index) : "CARD=" + card.id;
    for (const AlsaPcm& pcm : card.pcms) {
      if (pcm.playback)
        addPair(b, card.id.empty() ? "plughw:" + cardName + "," + std::to_string(pcm.device)
                                   : "plughw:" + cardName + ",DEV=" + std::to_string(pcm.device));
      if (pcm.capture) b.desc.inputs += 2;
    }
    boards.push_back(std::move(b));
  }
  for (const std::string& pcm : extraPcms_) addNamedPcm(pcm, "ALSA " + pcm, true);
  return boards;
}

}  // namespace sono::audio
