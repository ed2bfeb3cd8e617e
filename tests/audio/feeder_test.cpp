// The feeder thread: woken by the render side when a ring wants data, never
// decoding under a lock the logic thread takes. The virtual device is fed by
// the thread here, as a card is; its renders stand for the render thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/engine/engine.h"
#include "audio/engine/error_codes.h"
#include "audio_test_support.h"

namespace sono::audio {
namespace {

constexpr int64_t kRampPeriod = 4096;
float Ramp(int64_t frame) { return static_cast<float>(frame % kRampPeriod) / kRampPeriod; }

// What a RampReader tells the test, and the gate that can hold its reads.
struct ReaderProbe {
  std::mutex m;
  std::condition_variable cv;
  int64_t decodedTo = 0;                  // frame after the last one read
  int64_t gateFrom = INT64_MAX;           // a read past this frame waits for the gate
  bool gateClosed = false;
  bool blocked = false;                   // a read is waiting at the gate
  bool destroyed = false;

  // Bounds a broken feeder; nothing is measured.
  template <typename Pred>
  bool waitUntil(Pred pred) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, std::chrono::seconds(20), pred);
  }
  void openGate() {
    std::lock_guard lock(m);
    gateClosed = false;
    cv.notify_all();
  }
};

// A sound of `length` frames whose frame i holds Ramp(i) on both channels.
class RampReader : public SoundReader {
 public:
  RampReader(std::shared_ptr<ReaderProbe> probe, int64_t length) : probe_(std::move(probe)) {
    format_.kind = SoundKind::Pcm;
    format_.sampleRate = 48000;
    format_.channels = 2;
    format_.bitsPerSample = 16;
    format_.lengthFrames = length;
  }
  ~RampReader() override {
    std::lock_guard lock(probe_->m);
    probe_->destroyed = true;
    probe_->cv.notify_all();
  }
  bool seekFrame(int64_t frame) override {
    pos_ = frame;
    return true;
  }
  long readStereo(float* out, long frames) override {
    std::unique_lock lock(probe_->m);
    if (pos_ + frames > probe_->gateFrom && probe_->gateClosed) {
      probe_->blocked = true;
      probe_->cv.notify_all();
      probe_->cv.wait(lock, [this] { return !probe_->gateClosed; });
      probe_->blocked = false;
    }
    const long n = static_cast<long>(std::min<int64_t>(frames, format_.lengthFrames - pos_));
    for (long i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = Ramp(pos_ + i);
    pos_ += n;
    probe_->decodedTo = pos_;
    probe_->cv.notify_all();
    return n;
  }

 private:
  std::shared_ptr<ReaderProbe> probe_;
  int64_t pos_ = 0;
};

class FeederTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineOptions o;
    o.useAlsaCards = false;
    o.virtualFedByThread = true;
    engine = std::make_unique<Engine>(o);
    int streams = 4;
    ASSERT_EQ(engine->allocatePipe(0, 1, 2, streams, kFormatMpegL2 | kFormatPcm16, pipe), 0);
  }
  VirtualDevice& device() { return engine->virtualDevice(); }
  std::shared_ptr<ReaderProbe> loadRamp(int stream, int64_t length) {
    auto probe = std::make_shared<ReaderProbe>();
    PlayPlan plan;
    plan.end = length;
    EXPECT_EQ(engine->loadStreamReader(pipe, stream, std::make_unique<RampReader>(probe, length), plan,
                                       length / 48),
              0);
    return probe;
  }
  StreamState state(int stream) {
    StreamInfo info;
    engine->streamInfo(pipe, stream, info);
    return info.state;
  }

  std::unique_ptr<Engine> engine;
  int pipe = -1;
};

TEST_F(FeederTest, ARingThatWantsDataIsRefilledAndPlaysWithoutAGap) {
  device().setRecording(true);
  const int64_t length = 10 * 48000, played = 4 * 48000;
  auto probe = loadRamp(0, length);
  ASSERT_EQ(probe->decodedTo, static_cast<int64_t>(Engine::kRingFrames));  // primed at the load
  const int64_t startAt = device().framesRendered();
  ASSERT_EQ(engine->startStream(pipe, 0), 0);
  // The render side asks once a quarter of the ring is free (every other
  // 50 ms), and the feeder fills the ring until less than a quarter is
  // free; whatever it has not handed over yet when the wait ends (one read,
  // at most the free room) leaves more than 50 ms in the ring. The feeder
  // never polls: without the request nothing would be decoded past the
  // primed frames.
  const int64_t ring = static_cast<int64_t>(Engine::kRingFrames);
  for (int64_t at = 2400; at <= played; at += 2400) {
    device().renderMs(50);
    ASSERT_TRUE(probe->waitUntil([&] { return probe->decodedTo - at > ring - ring / 4; }))
        << "not fed after " << at << " frames: decoded to " << probe->decodedTo;
    ASSERT_EQ(state(0), StreamState::Playing);
  }
  const auto& out = device().recorded(0);
  ASSERT_EQ(out.size(), static_cast<size_t>((startAt + played) * 2));
  for (int64_t i = 0; i < played; ++i) ASSERT_EQ(out[(startAt + i) * 2], Ramp(i)) << "frame " << i;
}

TEST_F(FeederTest, TheLogicThreadStopsAndLoadsWhileADecodeRuns) {
  auto held = loadRamp(0, 10 * 48000);
  {
    std::lock_guard lock(held->m);
    held->gateFrom = Engine::kRingFrames + 100;
    held->gateClosed = true;
  }
  ASSERT_EQ(engine->startStream(pipe, 0), 0);
  device().renderMs(100);
  ASSERT_TRUE(held->waitUntil([&] { return held->blocked; }));

  // Should the logic thread wait on the decode, the watchdog opens the gate
  // (and the test fails) rather than hanging.
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false, watchdogFired = false;
  std::thread watchdog([&] {
    std::unique_lock lock(doneMutex);
    if (!doneCv.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) {
      watchdogFired = true;
      held->openGate();
    }
  });
  EXPECT_EQ(engine->stopStream(pipe, 0, 0), 0);
  device().renderMs(10);  // the render side applies the stop and lets the source go
  engine->collect();
  auto next = loadRamp(1, 2 * 48000);
  EXPECT_EQ(engine->startStream(pipe, 1), 0);
  EXPECT_EQ(state(0), StreamState::Idle);
  {
    std::lock_guard lock(doneMutex);
    done = true;
  }
  doneCv.notify_all();
  watchdog.join();
  EXPECT_FALSE(watchdogFired) << "the logic thread waited for a decode";
  {
    std::lock_guard lock(held->m);
    EXPECT_FALSE(held->destroyed) << "a source was freed while it was being decoded";
  }
  held->openGate();
  EXPECT_TRUE(held->waitUntil([&] { return held->destroyed; }));  // freed once its decode ended
  // The other stream is still fed.
  device().renderMs(200);
  const int64_t ring = static_cast<int64_t>(Engine::kRingFrames);
  EXPECT_TRUE(next->waitUntil([&] { return next->decodedTo - 9600 > ring - ring / 4; }));
}

TEST(FeederHammer, StartStopAndSeekFromTheLogicThreadWhileTheFeederRuns) {
  test::TempDir dir;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 3000);
  EngineOptions o;
  o.useAlsaCards = false;
  o.virtualFedByThread = true;
  Engine engine(o);
  int streams = 4, pipe = -1;
  ASSERT_EQ(engine.allocatePipe(0, 1, 2, streams, kFormatMpegL2, pipe), 0);
  // The render thread: 5 ms blocks, as fast as it goes.
  std::atomic<bool> quit{false};
  std::atomic<int64_t> blocks{0};
  std::thread render([&] {
    while (!quit.load()) {
      engine.virtualDevice().renderMs(5);
      blocks.fetch_add(1);
    }
  });
  for (int i = 0; i < 200; ++i) {
    const int stream = i % streams;
    LoadRequest r;
    r.file = file;
    r.startMs = (i * 137) % 2900;  // a seek is a load at another start
    r.fadeOutMs = i % 3 == 0 ? 20 : 0;
    StreamInfo info;
    const bool ok = engine.loadStream(pipe, stream, r) == 0 && engine.startStream(pipe, stream) == 0 &&
                    engine.streamInfo(pipe, stream, info) == 0 &&
                    (i % 2 == 0 || engine.stopStream(pipe, (stream + 3) % streams, i % 4 == 1 ? 20 : 0) == 0);
    engine.collect();
    if (!ok) {
      ADD_FAILURE() << "round " << i;
      break;
    }
  }
  const int64_t before = blocks.load();
  while (blocks.load() < before + 10) std::this_thread::yield();
  quit = true;
  render.join();
  engine.shutdown();
}

}  // namespace
}  // namespace sono::audio
