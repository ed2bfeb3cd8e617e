#include "broadcast_chunks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace sono::convert {

namespace {

constexpr const char* kProducer = "Sonoteka";
constexpr const char* kCartVersion = "0101";
constexpr int kBextVersion = 2;         // libsndfile writes the loudness fields of version 2
constexpr int16_t kLoudnessUnset = 0x7FFF;  // version 2's mark of a loudness not measured

// A fixed text field: cut to its size, the rest zeros (both chunks' rule).
template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

std::string Description(const ConverterOptions& o) {
  if (o.artist.empty()) return o.title;
  if (o.title.empty()) return o.artist;
  return o.artist + " - " + o.title;
}

}  // namespace

bool SetBroadcastChunks(SNDFILE* sound, const ConverterOptions& o, int rate, std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  std::strftime(time, sizeof time, "%H:%M:%S", &local);

  SF_BROADCAST_INFO bext{};
  Put(bext.description, Description(o));
  Put(bext.originator, kProducer);
  Put(bext.origination_date, date);
  Put(bext.origination_time, time);
  bext.version = kBextVersion;
  bext.loudness_value = bext.loudness_range = bext.max_true_peak_level = bext.max_momentary_loudness =
      bext.max_shortterm_loudness = kLoudnessUnset;
  const std::string history = "A=PCM,F=" + std::to_string(rate) + ",T=" + kProducer + "\r\n";
  Put(bext.coding_history, history);
  bext.coding_history_size = static_cast<uint32_t>(history.size());
  if (!sf_command(sound, SFC_SET_BROADCAST_INFO, &bext, sizeof bext)) return false;

  SF_CART_INFO cart{};
  Put(cart.version, kCartVersion);
  Put(cart.title, o.title);
  Put(cart.artist, o.artist);
  Put(cart.start_date, date);
  Put(cart.start_time, time);
  Put(cart.producer_app_id, kProducer);
  int timer = 0;
  const auto post = [&](const char* usage, long long ms) {
    if (ms < 0) return;
    std::memcpy(cart.post_timers[timer].usage, usage, 4);
    cart.post_timers[timer].value = static_cast<int32_t>((ms * rate + 500) / 1000);
    ++timer;
  };
  post("INTe", o.cues.intro);
  post("SEGs", o.cues.startNext);
  post("SEGe", o.cues.fadeOut);
  post("HOKs", o.cues.hook);
  return sf_command(sound, SFC_SET_CART_INFO, &cart, sizeof cart) == SF_TRUE;
}

}  // namespace sono::convert
