#include "audio/engine/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sono::audio {

namespace {

void StoreMax(std::atomic<float>& slot, float value) {
  float old = slot.load(std::memory_order_relaxed);
  while (value > old && !slot.compare_exchange_weak(old, value, std::memory_order_relaxed)) {
  }
}

}  // namespace

Mixer::Mixer(int outputPairs, int rate)
    : outputPairs_(outputPairs),
      rate_(rate),
      commands_(1024),
      released_(1024),
      pipeBuf_(kRenderBlock * 2),
      streamBuf_(kRenderBlock * 2) {}

bool Mixer::post(const MixerCommand& command) {
  if (!commands_.push(command)) return false;
  if (IsStreamCommand(command.type)) ++posted_[command.pipe][command.stream];
  return true;
}

void Mixer::acknowledge(int pipe, int stream) {
  StreamPub& p = pub_[pipe].streams[stream];
  p.acked.store(p.acked.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

StreamReport Mixer::report(int pipe, int stream) const {
  const StreamPub& p = pub_[pipe].streams[stream];
  StreamReport r;
  // `acked` is stored last by the render side: read it first so that the
  // other fields are at least as new as the acknowledgement.
  r.acked = p.acked.load(std::memory_order_acquire);
  r.state = static_cast<StreamState>(p.state.load(std::memory_order_acquire));
  r.consumed = p.consumed.load(std::memory_order_acquire);
  return r;
}

MeterReport Mixer::takeMeter(int pipe, int channel) {
  PipePub& p = pub_[pipe];
  MeterReport m;
  m.peak = (channel == 0 ? p.peakLeft : p.peakRight).exchange(0.0f);
  m.rms = (channel == 0 ? p.rmsLeft : p.rmsRight).exchange(0.0f);
  return m;
}

void Mixer::release(StreamRt& s) {
  if (s.source) {
    // The queue is larger than the number of streams: this push cannot fail
    // unless the logic thread stopped collecting, and then leaking beats freeing here.
    released_.push(s.source);
  }
  s = StreamRt{};
}

void Mixer::publish(int pipe, int stream) {
  const StreamRt& s = pipes_[pipe].streams[stream];
  StreamPub& p = pub_[pipe].streams[stream];
  p.state.store(static_cast<int>(s.state), std::memory_order_release);
  p.consumed.store(s.consumed, std::memory_order_release);
}

void Mixer::apply(const MixerCommand& c) {
  PipeRt& pipe = pipes_[c.pipe];
  StreamRt& s = pipe.streams[c.stream];
  bool streamCommand = true;
  switch (c.type) {
    case MixerCommand::Attach:
      release(s);
      s.source = c.source;
      s.state = StreamState::Loaded;
      s.gain = c.source->plan().gain;
      break;
    case MixerCommand::Start:
      if (s.source && s.state == StreamState::Loaded) s.state = StreamState::Playing;
      break;
    case MixerCommand::Pause:
      if (c.paused && (s.state == StreamState::Playing || s.state == StreamState::Underrun))
        s.state = StreamState::Paused;
      else if (!c.paused && s.state == StreamState::Paused)
        s.state = StreamState::Playing;
      break;
    case MixerCommand::Stop:
      if (c.fadeFrames > 0 && (s.state == StreamState::Playing || s.state == StreamState::Underrun)) {
        s.stopping = true;
        s.stopTotal = c.fadeFrames;
        s.stopDone = 0;
      } else {
        release(s);
      }
      break;
    case MixerCommand::StreamGain:
      s.gain = c.gain;
      break;
    case MixerCommand::PipeOpen:
      streamCommand = false;
      pipe.open = true;
      pipe.output = std::clamp(c.output, 0, outputPairs_ - 1);
      pipe.digitalLeft = pipe.digitalRight = pipe.analogLeft = pipe.analogRight = 1.0f;
      break;
    case MixerCommand::PipeGains:
      streamCommand = false;
      pipe.digitalLeft = c.gains.digitalLeft;
      pipe.digitalRight = c.gains.digitalRight;
      pipe.analogLeft = c.gains.analogLeft;
      pipe.analogRight = c.gains.analogRight;
      break;
    case MixerCommand::PipeClose:
      streamCommand = false;
      pipe.open = false;
      for (int i = 0; i < kMaxStreams; ++i) {
        release(pipe.streams[i]);
        publish(c.pipe, i);
      }
      break;
  }
  if (streamCommand) {
    publish(c.pipe, c.stream);
    acknowledge(c.pipe, c.stream);
  }
}

void Mixer::resetStopped() {
  MixerCommand c;
  while (commands_.pop(c)) {
    if (c.type == MixerCommand::Attach && c.source) released_.push(c.source);
    if (IsStreamCommand(c.type)) acknowledge(c.pipe, c.stream);  // dropped, but counted as done
  }
  for (int p = 0; p < kMaxPipesPerMixer; ++p) {
    pipes_[p].open = false;
    for (int i = 0; i < kMaxStreams; ++i) {
      release(pipes_[p].streams[i]);
      publish(p, i);
    }
  }
}

void Mixer::mixStream(StreamRt& s, float* out, int frames) {
  if (s.state != StreamState::Playing && s.state != StreamState::Underrun) return;
  int want = frames;
  if (s.stopping) want = static_cast<int>(std::min<int64_t>(want, s.stopTotal - s.stopDone));
  const int n = static_cast<int>(s.source->read(streamBuf_.data(), static_cast<size_t>(want)));
  const PlayPlan& plan = s.source->plan();
  const int64_t first = plan.firstPass();
  // Is any fade active somewhere in this block?
  const bool fadeIn = s.consumed < plan.fadeIn;
  const bool fadeOut = !plan.loop && plan.fadeOut > 0 && first - (s.consumed + n) < plan.fadeOut;
  const float* in = streamBuf_.data();
  if (!fadeIn && !fadeOut && !s.stopping) {
    const float g = s.gain;
    for (int i = 0; i < n * 2; ++i) out[i] += in[i] * g;
  } else {
    for (int i = 0; i < n; ++i) {
      const int64_t idx = s.consumed + i;
      float g = s.gain;
      if (idx < plan.fadeIn) g *= FadeGain(plan.curve, idx, plan.fadeIn);
      if (fadeOut) {
        const int64_t rest = first - idx;  // frames left, this one included
        if (rest <= plan.fadeOut) g *= FadeGain(plan.curve, rest - 1, plan.fadeOut);
      }
      if (s.stopping) g *= FadeGain(plan.curve, s.stopTotal - (s.stopDone + i) - 1, s.stopTotal);
      out[2 * i] += in[2 * i] * g;
      out[2 * i + 1] += in[2 * i + 1] * g;
    }
  }
  s.consumed += n;
  if (s.stopping) {
    s.stopDone += n;
    if (s.stopDone >= s.stopTotal) {
      release(s);
      return;
    }
  }
  if (n < want) {
    if (s.source->drained()) {
      release(s);  // the range is played
    } else {
      s.state = StreamState::Underrun;  // the decoder is late: silence, not garbage
    }
  } else if (s.state == StreamState::Underrun) {
    s.state = StreamState::Playing;
  }
}

void Mixer::renderBlock(float* const* pairs, int offset, int frames) {
  for (int p = 0; p < kMaxPipesPerMixer; ++p) {
    PipeRt& pipe = pipes_[p];
    if (!pipe.open) continue;
    std::fill(pipeBuf_.begin(), pipeBuf_.begin() + frames * 2, 0.0f);
    for (int s = 0; s < kMaxStreams; ++s) {
      StreamRt& st = pipe.streams[s];
      if (st.state == StreamState::Idle) continue;
      const StreamState before = st.state;
      const int64_t consumedBefore = st.consumed;
      mixStream(st, pipeBuf_.data(), frames);
      if (st.state != before || st.consumed != consumedBefore) publish(p, s);
    }
    // Digital level, meter, then the analog level onto the output pair.
    float peakL = 0, peakR = 0, sumL = 0, sumR = 0;
    float* out = pairs[pipe.output] + offset * 2;
    for (int i = 0; i < frames; ++i) {
      const float l = pipeBuf_[2 * i] * pipe.digitalLeft;
      const float r = pipeBuf_[2 * i + 1] * pipe.digitalRight;
      peakL = std::max(peakL, std::fabs(l));
      peakR = std::max(peakR, std::fabs(r));
      sumL += l * l;
      sumR += r * r;
      out[2 * i] += l * pipe.analogLeft;
      out[2 * i + 1] += r * pipe.analogRight;
    }
    PipePub& pub = pub_[p];
    StoreMax(pub.peakLeft, peakL);
    StoreMax(pub.peakRight, peakR);
    StoreMax(pub.rmsLeft, std::sqrt(sumL / static_cast<float>(frames)));
    StoreMax(pub.rmsRight, std::sqrt(sumR / static_cast<float>(frames)));
  }
}

void Mixer::render(float* const* pairs, int frames) {
  MixerCommand c;
  while (commands_.pop(c)) apply(c);
  for (int k = 0; k < outputPairs_; ++k)
    std::memset(pairs[k], 0, static_cast<size_t>(frames) * 2 * sizeof(float));
  for (int offset = 0; offset < frames; offset += kRenderBlock)
    renderBlock(pairs, offset, std::min(kRenderBlock, frames - offset));
}

}  // namespace sono::audio
