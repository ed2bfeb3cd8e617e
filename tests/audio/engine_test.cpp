// The engine on the virtual device: what a pipe renders is compared with the
// decoded source, sample by sample.
#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

#include "audio/engine/alsa_device.h"
#include "audio/engine/engine.h"
#include "audio/engine/error_codes.h"
#include "core/manual_ports.h"
#include "audio_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineOptions o;
    o.useAlsaCards = false;
    engine = std::make_unique<Engine>(o);
    int streams = 24;
    ASSERT_EQ(engine->allocatePipe(0, 1, 2, streams, kFormatMpegL2 | kFormatPcm16, pipe), 0);
    device().setRecording(true);
    file = test::MakeHouseFile(dir, "a.s48", 2000);
    ref = test::DecodeAll(file);
  }
  VirtualDevice& device() { return engine->virtualDevice(); }
  // Loads and starts; returns the frame index of the recording where it starts.
  size_t play(const LoadRequest& r, int stream = 0) {
    EXPECT_EQ(engine->loadStream(pipe, stream, r), 0);
    EXPECT_EQ(engine->startStream(pipe, stream), 0);
    return static_cast<size_t>(device().framesRendered());
  }
  LoadRequest request(int64_t start = 0, int64_t end = 0) {
    LoadRequest r;
    r.file = file;
    r.startMs = start;
    r.endMs = end;
    return r;
  }
  const std::vector<float>& out() { return device().recorded(0); }
  float sample(size_t frame, int ch) { return frame * 2 + ch < out().size() ? out()[frame * 2 + ch] : 0; }
  StreamState state(int stream = 0) {
    StreamInfo info;
    engine->streamInfo(pipe, stream, info);
    return info.state;
  }

  TempDir dir;
  std::unique_ptr<Engine> engine;
  int pipe = -1;
  std::string file;
  std::vector<float> ref;
};

TEST_F(EngineTest, ARangeStartsAndEndsAtTheRightSample) {
  const size_t at = play(request(500, 1500));
  EXPECT_EQ(state(), StreamState::Playing);
  device().renderMs(250);
  StreamInfo info;
  ASSERT_EQ(engine->streamInfo(pipe, 0, info), 0);
  EXPECT_NEAR(info.positionMs, 750, 11);  // rendered in blocks of 512 frames
  EXPECT_NEAR(info.remainingMs, 750, 11);
  EXPECT_EQ(info.positionMs + info.remainingMs, 1500);
  EXPECT_EQ(info.durationMs, 2016);  // 84 frames of 24 ms
  device().renderMs(950);
  ASSERT_GE(out().size(), (at + 48000 + 4800) * 2);
  // 500 ms = frame 24000 of the source; 1000 ms = 48000 frames played.
  for (size_t i = 0; i < 48000; ++i)
    for (int ch = 0; ch < 2; ++ch)
      ASSERT_FLOAT_EQ(sample(at + i, ch), ref[(24000 + i) * 2 + ch]) << i;
  for (size_t i = 48000; i < 48000 + 4800; ++i) ASSERT_EQ(sample(at + i, 0), 0.0f) << i;
  for (size_t i = 0; i < at; ++i) ASSERT_EQ(sample(i, 0), 0.0f);
  EXPECT_EQ(state(), StreamState::Idle);
}

TEST_F(EngineTest, FadesFollowTheirCurve) {
  LoadRequest r = request(0, 1000);
  r.fadeInMs = 100;
  r.fadeOutMs = 200;
  const size_t at = play(r);
  device().renderMs(1100);
  for (size_t i = 0; i < 48000; ++i) {
    double g = 1.0;
    if (i < 4800) g = i / 4800.0;
    if (48000 - i <= 9600) g = (48000 - i - 1) / 9600.0;
    ASSERT_NEAR(sample(at + i, 0), ref[i * 2] * g, 1e-6) << i;
  }
  // Half-way through each fade the sound is at half its level.
  EXPECT_NEAR(sample(at + 2400, 1) / ref[2400 * 2 + 1], 0.5, 1e-3);
}

TEST_F(EngineTest, LevelOfMinus6DbHalvesTheAmplitude) {
  LoadRequest r = request(0, 1000);
  r.levelDb = -6.0;
  const size_t at = play(r);
  device().renderMs(1000);
  const float peakOut = test::PeakOf(out(), at, at + 48000, 0);
  const float peakRef = test::PeakOf(ref, 0, 48000, 0);
  EXPECT_NEAR(peakOut / peakRef, 0.5, 0.005);
  for (size_t i = 1000; i < 1100; ++i) EXPECT_NEAR(sample(at + i, 1), ref[i * 2 + 1] * 0.501187, 1e-6);
}

TEST_F(EngineTest, ALoopRepeatsExactly) {
  LoadRequest r = request(100, 400);
  r.loop = true;
  r.loopMs = 200;
  const size_t at = play(r);
  device().renderMs(1500);
  // First 100..400 ms, then 200..400 ms over and over.
  for (size_t i = 0; i < 72000; ++i) {
    const size_t src = i < 14400 ? 4800 + i : 9600 + (i - 14400) % 9600;
    ASSERT_FLOAT_EQ(sample(at + i, 0), ref[src * 2]) << i;
  }
  EXPECT_EQ(state(), StreamState::Playing);
  StreamInfo info;
  engine->streamInfo(pipe, 0, info);
  EXPECT_EQ(info.remainingMs, INT32_MAX);
}

TEST_F(EngineTest, APauseHoldsThePosition) {
  const size_t at = play(request(0, 1500));
  device().renderMs(300);
  ASSERT_EQ(engine->pauseStream(pipe, 0, true), 0);
  EXPECT_EQ(state(), StreamState::Paused);
  StreamInfo before, after;
  engine->streamInfo(pipe, 0, before);
  const size_t paused = static_cast<size_t>(device().framesRendered());
  device().renderMs(500);
  engine->streamInfo(pipe, 0, after);
  EXPECT_EQ(before.positionMs, after.positionMs);
  for (size_t i = paused; i < paused + 24000; ++i) ASSERT_EQ(sample(i, 0), 0.0f);
  ASSERT_EQ(engine->pauseStream(pipe, 0, false), 0);
  const size_t resumed = static_cast<size_t>(device().framesRendered());
  device().renderMs(1300);
  // Without the silence, the sound is the source without a gap or a repeat.
  const size_t played = paused - at;
  for (size_t i = 0; i < 72000; ++i) {
    const size_t frame = i < played ? at + i : resumed + (i - played);
    ASSERT_FLOAT_EQ(sample(frame, 0), ref[i * 2]) << i;
  }
  EXPECT_EQ(state(), StreamState::Idle);
  // A stream that is not playing cannot be paused.
  EXPECT_EQ(engine->pauseStream(pipe, 0, true), err::kStreamNotReady);
}

TEST_F(EngineTest, AStopWithFadeRampsDownThenFreesTheStream) {
  const size_t at = play(request());
  device().renderMs(200);
  const size_t stop = static_cast<size_t>(device().framesRendered());
  ASSERT_EQ(engine->stopStream(pipe, 0, 100), 0);
  EXPECT_EQ(state(), StreamState::Playing);  // while the fade runs
  device().renderMs(300);
  for (size_t k = 0; k < 4800; ++k) {
    const double g = (4800 - k - 1) / 4800.0;
    ASSERT_NEAR(sample(stop + k, 0), ref[(stop - at + k) * 2] * g, 1e-6) << k;
  }
  for (size_t k = 4800; k < 9600; ++k) ASSERT_EQ(sample(stop + k, 0), 0.0f);
  EXPECT_EQ(state(), StreamState::Idle);
  // A stop at once cuts at the next block.
  play(request());
  device().renderMs(50);
  ASSERT_EQ(engine->stopStream(pipe, 0, 0), 0);
  EXPECT_EQ(state(), StreamState::Idle);
  const size_t cut = static_cast<size_t>(device().framesRendered());
  device().renderMs(50);
  for (size_t k = cut; k < cut + 2400; ++k) ASSERT_EQ(sample(k, 0), 0.0f);
}

TEST_F(EngineTest, TwoStreamsOnOnePipeAddUp) {
  ASSERT_EQ(engine->loadStream(pipe, 0, request(0, 1000)), 0);
  ASSERT_EQ(engine->loadStream(pipe, 5, request(1000, 2000)), 0);
  ASSERT_EQ(engine->startStream(pipe, 0), 0);
  ASSERT_EQ(engine->startStream(pipe, 5), 0);
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(1000);
  for (size_t i = 0; i < 48000; ++i)
    ASSERT_NEAR(sample(at + i, 1), ref[i * 2 + 1] + ref[(48000 + i) * 2 + 1], 1e-6) << i;
}

TEST_F(EngineTest, PipeLevelsAndMeters) {
  ASSERT_EQ(engine->setPipeLevel(pipe, true, -6.0, 0.0), 0);
  ASSERT_EQ(engine->setPipeLevel(pipe, false, 0.0, -20.0), 0);
  EXPECT_EQ(engine->setPipeLevel(pipe, true, 18.5, 0), err::kBadLevel);
  EXPECT_EQ(engine->setPipeLevel(pipe, false, 0.5, 0), err::kBadLevel);
  const size_t at = play(request(0, 1000));
  device().renderMs(1000);
  EXPECT_NEAR(test::PeakOf(out(), at, at + 48000, 0) / test::PeakOf(ref, 0, 48000, 0), 0.501, 0.002);
  EXPECT_NEAR(test::PeakOf(out(), at, at + 48000, 1) / test::PeakOf(ref, 0, 48000, 1), 0.1, 0.001);
  // Meters read after the digital level and before the analog level.
  double peak = 0, rms = 0;
  ASSERT_EQ(engine->readMeter(pipe, 0, peak, rms), 0);
  EXPECT_NEAR(peak, 20 * std::log10(test::PeakOf(ref, 0, 48000, 0)) - 6.0, 0.05);
  ASSERT_EQ(engine->readMeter(pipe, 1, peak, rms), 0);
  EXPECT_NEAR(peak, 20 * std::log10(test::PeakOf(ref, 0, 48000, 1)), 0.05);
  EXPECT_LT(rms, peak);
  // A reading empties the meter.
  ASSERT_EQ(engine->readMeter(pipe, 1, peak, rms), 0);
  EXPECT_EQ(peak, -200.0);
}

TEST_F(EngineTest, BadFilesAreRefusedAndNothingPlaysGarbage) {
  const std::string bytes = test::ReadFile(file);
  test::WriteFile(dir / "text.s48", "a text file renamed\n");
  test::WriteFile(dir / "empty.s48", "");
  test::WriteFile(dir / "cut.s48", bytes.substr(0, 10 * 768 + 400));
  auto load = [&](const std::string& name) {
    LoadRequest r;
    r.file = dir / name;
    return engine->loadStream(pipe, 0, r);
  };
  EXPECT_EQ(load("missing.s48"), err::kFileInvalid);
  EXPECT_EQ(load("text.s48"), err::kFileInvalid);
  EXPECT_EQ(load("empty.s48"), err::kFileTooSmall);
  EXPECT_EQ(state(), StreamState::Idle);
  // The cut file plays its ten whole frames and stops.
  ASSERT_EQ(load("cut.s48"), 0);
  ASSERT_EQ(engine->startStream(pipe, 0), 0);
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(400);
  for (size_t i = 0; i < 11520; ++i) ASSERT_FLOAT_EQ(sample(at + i, 0), ref[i * 2]);
  for (size_t i = 11520; i < 19200; ++i) ASSERT_EQ(sample(at + i, 0), 0.0f);
}

TEST_F(EngineTest, APipePlaysOnlyItsFormatsAtTheBoardRate) {
  const auto signal = test::TestSignal(4800, 44100);
  ASSERT_TRUE(test::WritePcmWav(dir / "44k.wav", signal, 44100));
  ASSERT_TRUE(test::WritePcmWav(dir / "48k.wav", test::TestSignal(4800), 48000));
  LoadRequest r;
  r.file = dir / "44k.wav";
  EXPECT_EQ(engine->loadStream(pipe, 0, r), err::kFormatNotSupported);
  EXPECT_EQ(engine->startStream(pipe, 0), err::kStreamNotReady);
  device().renderMs(100);
  EXPECT_EQ(test::PeakOf(out(), 0, out().size() / 2, 0), 0.0f);
  r.file = dir / "48k.wav";
  EXPECT_EQ(engine->loadStream(pipe, 0, r), 0);
  int streams = 4, mpegOnly = -1;
  ASSERT_EQ(engine->allocatePipe(0, 3, 2, streams, kFormatMpegL2, mpegOnly), 0);
  EXPECT_EQ(engine->loadStream(mpegOnly, 0, r), err::kFormatNotSupported);
}

TEST_F(EngineTest, ParametersAreChecked) {
  LoadRequest r = request(3000, 0);
  EXPECT_EQ(engine->loadStream(pipe, 0, r), err::kBadStart);
  EXPECT_EQ(engine->loadStream(pipe, 0, request(500, 400)), err::kBadEnd);
  EXPECT_EQ(engine->loadStream(pipe, 24, request()), err::kBadStream);
  EXPECT_EQ(engine->loadStream(pipe + 1, 0, request()), err::kBadPipe);
  r = request();
  r.levelDb = std::nan("");
  EXPECT_EQ(engine->loadStream(pipe, 0, r), err::kBadLevel);
  // An end past the file plays to the end of the file.
  const size_t at = play(request(1900, 5000));
  device().renderMs(200);
  const size_t tail = 2016 * 48 - 1900 * 48;
  EXPECT_FLOAT_EQ(sample(at + tail - 1, 0), ref[(1900 * 48 + tail - 1) * 2]);
  EXPECT_EQ(sample(at + tail, 0), 0.0f);
}

TEST(EngineAllocation, ChannelsPipesAndReleases) {
  EngineOptions o;
  o.useAlsaCards = false;
  Engine engine(o);
  ASSERT_EQ(engine.boards().size(), 1u);
  EXPECT_EQ(engine.monoOutputs(), 10);
  EXPECT_EQ(engine.monoInputs(), 4);
  int streams = 24, pipe = -1;
  // From output 9 only two channels are left on the board.
  EXPECT_EQ(engine.allocatePipe(0, 9, 3, streams, 64, pipe), err::kTooManyChannels);
  EXPECT_EQ(engine.allocatePipe(0, 9, 2, streams, 64, pipe), 0);
  streams = 25;
  EXPECT_EQ(engine.allocatePipe(0, 1, 2, streams, 64, pipe), err::kTooManyStreams);
  streams = 24;
  EXPECT_EQ(engine.allocatePipe(0, 11, 2, streams, 64, pipe), err::kBadChannel);
  EXPECT_EQ(engine.allocatePipe(1, 1, 4, streams, 64, pipe), 0);
  EXPECT_TRUE(engine.pipeExists(pipe, 1));
  EXPECT_FALSE(engine.pipeExists(pipe, 0));
  int last = -1;
  while (engine.allocatePipe(1, 1, 2, streams, 64, last) == 0) {
  }
  EXPECT_EQ(engine.allocatePipe(1, 1, 2, streams, 64, last), err::kNoPipeLeft);
  EXPECT_EQ(engine.releasePipe(pipe), 0);
  EXPECT_EQ(engine.releasePipe(pipe), err::kBadPipe);
  EXPECT_EQ(engine.allocatePipe(1, 1, 2, streams, 64, last), 0);
}

// A card as a provider of another kind gives it: a device that renders when
// the test asks, but is no virtual device to the engine.
class BenchCard : public VirtualDevice {
 public:
  BenchCard() : VirtualDevice(2) {}
  bool isVirtual() const override { return false; }
};

// The engine lets go of its providers once it has their boards: the card
// made is told through `card`.
class BenchCardProvider : public DeviceProvider {
 public:
  explicit BenchCardProvider(BenchCard*& card) : card_(card) {}
  std::vector<ProvidedBoard> boards() override {
    ProvidedBoard b;
    auto device = std::make_unique<BenchCard>();
    BenchCard* card = card_ = device.get();
    b.desc.model = "BENCH";
    b.desc.type = kBoardTypeAlsa;
    b.desc.isVirtual = false;
    b.desc.outputs = 4;
    b.desc.inputs = 2;
    for (int k = 0; k < 2; ++k) b.desc.outputPairs.emplace_back(card, k);
    b.devices.push_back(std::move(device));
    b.isCard = true;
    std::vector<ProvidedBoard> boards;
    boards.push_back(std::move(b));
    return boards;
  }

 private:
  BenchCard*& card_;
};

TEST(EngineProviders, BoardsComeFromTheProvidersInTheirOrder) {
  TempDir dir;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 500);
  BenchCard* card = nullptr;
  DeviceProviders providers;
  providers.push_back(std::make_unique<BenchCardProvider>(card));
  providers.push_back(std::make_unique<VirtualDeviceProvider>(1, 1));
  Engine engine(std::move(providers), EngineOptions{});
  ASSERT_EQ(engine.boards().size(), 2u);
  EXPECT_EQ(engine.boards()[0].model, "BENCH");
  EXPECT_EQ(engine.boards()[1].model, "VIRTUAL");
  EXPECT_EQ(engine.boards()[1].firstOutput, 5);
  EXPECT_EQ(engine.boards()[1].firstInput, 3);
  EXPECT_EQ(engine.monoOutputs(), 6);
  EXPECT_EQ(engine.monoInputs(), 4);
  EXPECT_EQ(engine.boardOfOutput(4), 0);
  EXPECT_EQ(engine.boardOfOutput(5), 1);
  EXPECT_TRUE(engine.alsaCardsFound());
  EXPECT_EQ(&engine.virtualDevice().mixer(), &engine.boards()[1].outputPairs[0].first->mixer());

  // Mono 3 is the card's second pair; the card is opened by the pipe and
  // let go of with it.
  int streams = 2, pipe = -1;
  ASSERT_EQ(engine.allocatePipe(0, 3, 2, streams, kFormatMpegL2, pipe), 0);
  EXPECT_TRUE(card->running());
  card->setRecording(true);
  LoadRequest r;
  r.file = file;
  ASSERT_EQ(engine.loadStream(pipe, 0, r), 0);
  ASSERT_EQ(engine.startStream(pipe, 0), 0);
  card->renderMs(200);
  EXPECT_GT(test::PeakOf(card->recorded(1), 0, 9600, 0), 0.1f);
  EXPECT_EQ(test::PeakOf(card->recorded(0), 0, 9600, 0), 0.0f);
  EXPECT_EQ(engine.releasePipe(pipe), 0);
  EXPECT_FALSE(card->running());
}

TEST(EngineClock, VirtualBoardTakesEveryClock) {
  EngineOptions o;
  o.useAlsaCards = false;
  Engine engine(o);
  int streams = 2, pipe = -1;
  ASSERT_EQ(engine.allocatePipe(0, 1, 2, streams, 64, pipe), 0);
  for (int type : {kClockDigital, kClockWordClock, kClockAudioOverIp, kClockNone}) {
    EXPECT_EQ(engine.setPipeClock(pipe, type, 0), 0);
    EXPECT_EQ(engine.pipeClock(pipe).type, type);
  }
  EXPECT_EQ(engine.setPipeClock(pipe, kClockInternal, 44100), 0);
  EXPECT_EQ(engine.pipeClock(pipe).frequency, 44100);
  EXPECT_EQ(engine.setPipeClock(pipe, kClockInternal, 5), err::kClockInvalid);
  EXPECT_EQ(engine.setPipeClock(pipe, 3, 0), err::kClockInvalid);
}

// The real-time path through ALSA's "null" PCM, when the machine has it.
TEST(AlsaNull, RendersOnTheRealTimeThread) {
  if (!AlsaPcmExists("null")) GTEST_SKIP() << "no ALSA null PCM";
  TempDir dir;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 300);
  EngineOptions o;
  o.useAlsaCards = false;
  o.extraPcms = {"null"};
  Engine engine(o);
  ASSERT_EQ(engine.boards().size(), 2u);
  EXPECT_FALSE(engine.boards()[0].isVirtual);
  int streams = 4, pipe = -1;
  ASSERT_EQ(engine.allocatePipe(0, 1, 2, streams, 64, pipe), 0);
  EXPECT_EQ(engine.setPipeClock(pipe, kClockWordClock, 0), err::kClockInvalid);
  EXPECT_EQ(engine.setPipeClock(pipe, kClockInternal, 48000), 0);
  LoadRequest r;
  r.file = file;
  ASSERT_EQ(engine.loadStream(pipe, 0, r), 0);
  ASSERT_EQ(engine.startStream(pipe, 0), 0);
  // The stream ends once the render thread has played it; the wait only
  // bounds a broken thread, nothing is measured.
  StreamInfo info;
  for (int i = 0; i < 2000; ++i) {
    engine.streamInfo(pipe, 0, info);
    if (info.state == StreamState::Idle) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(info.state, StreamState::Idle);
  engine.shutdown();
}

}  // namespace
}  // namespace sono::audio

namespace sono::audio {
namespace {

TEST(VirtualCapture, GivesTheGeneratorOrTheFile) {
  VirtualDevice device(1);
  device.setCaptureSine(1000.0, -6.0);
  std::vector<float> buf(4800 * 2);
  device.capture(buf.data(), 4800);
  EXPECT_NEAR(test::PeakOf(buf, 0, 4800, 0), 0.501, 0.002);
  EXPECT_EQ(buf[100], buf[101]);
  // The next block goes on where the last one ended.
  std::vector<float> next(2);
  device.capture(next.data(), 1);
  EXPECT_NEAR(next[0], 0.501187 * std::sin(2 * std::numbers::pi * 1000.0 * 4800 / 48000), 1e-5);

  TempDir dir;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 100);
  const auto ref = test::DecodeAll(file);
  ASSERT_TRUE(device.setCaptureFile(file));
  EXPECT_FALSE(device.setCaptureFile(dir / "missing.s48"));
  std::vector<float> got(6000 * 2, 1.0f);
  device.capture(got.data(), 6000);
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(got[i], ref[i]);
  for (size_t i = ref.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0.0f);  // silence after the end
}

// A device that stops under its pipes (a card unplugged) is noticed by the
// engine: its streams answer with the failure instead of "playing", nothing
// else is posted to it, and a pipe allocated once it is back opens it again.
TEST_F(EngineTest, AFailedDeviceStopsItsStreamsAndOpensAgainWhenBack) {
  play(request());
  device().renderMs(500);
  EXPECT_EQ(state(), StreamState::Playing);
  device().fail(-EBADFD);
  device().refuseStart(-ENODEV);
  device().renderMs(500);
  engine->collect();
  StreamInfo info;
  EXPECT_EQ(engine->streamInfo(pipe, 0, info), err::kDeviceLost);
  EXPECT_EQ(info.state, StreamState::Idle);
  EXPECT_EQ(engine->pipeFailure(pipe), -EBADFD);
  EXPECT_EQ(engine->pipeFailureText(pipe), std::strerror(EBADFD));
  EXPECT_EQ(engine->loadStream(pipe, 1, request()), err::kDeviceLost);
  double peak = 0, rms = 0;
  EXPECT_EQ(engine->readMeter(pipe, 0, peak, rms), err::kDeviceLost);

  ASSERT_EQ(engine->releasePipe(pipe), 0);
  int streams = 2;
  EXPECT_EQ(engine->allocatePipe(0, 1, 2, streams, kFormatMpegL2, pipe), err::kDeviceOpen);
  device().refuseStart(-EBUSY);
  EXPECT_EQ(engine->allocatePipe(0, 1, 2, streams, kFormatMpegL2, pipe), err::kDeviceBusy);
  device().refuseStart(0);
  ASSERT_EQ(engine->allocatePipe(0, 1, 2, streams, kFormatMpegL2, pipe), 0);
  EXPECT_EQ(engine->pipeFailure(pipe), 0);
  const size_t at = play(request(0, 500));
  device().renderMs(600);
  EXPECT_EQ(state(), StreamState::Idle);
  for (size_t i = 0; i < 24000; i += 7) ASSERT_EQ(sample(at + i, 0), ref[i * 2]) << i;
}

// What an output plays is streamed to the WAV file while rendering (or
// written at once from what was kept); the file appears under its name only
// when finished, and a full disk leaves the
// previous file whole with nothing half-written beside it.
TEST(VirtualDevice, StreamsAnOutputToAWavFileThatAppearsWhole) {
  TempDir dir;
  EngineOptions o;
  o.useAlsaCards = false;
  Engine engine(o);
  VirtualDevice& device = engine.virtualDevice();
  int streams = 1, pipe = -1;
  ASSERT_EQ(engine.allocatePipe(0, 3, 2, streams, kFormatMpegL2, pipe), 0);
  const std::string file = test::MakeHouseFile(dir, "a.s48", 2000);
  auto play = [&] {
    LoadRequest r;
    r.file = file;
    ASSERT_EQ(engine.loadStream(pipe, 0, r), 0);
    ASSERT_EQ(engine.startStream(pipe, 0), 0);
  };
  test::WriteFile(dir / "out.wav", "previous");
  play();
  ASSERT_TRUE(device.recordToFile(1, dir / "out.wav"));
  device.setRecording(true);
  ManualClock clock;
  const uint64_t t0 = clock.tickMs();
  device.attachClock(&clock);
  device.renderMs(2100);
  EXPECT_EQ(clock.tickMs(), t0 + 2100);
  EXPECT_EQ(test::ReadFile(dir / "out.wav"), "previous");  // not there until finished
  ASSERT_TRUE(device.finishFile());
  EXPECT_EQ(device.fileFrames(), 2100 * 48);
  // Output pair 1 (mono 3/4) played the sound, pair 0 stayed silent; the
  // file holds what the pair played: the whole sound, then silence.
  EXPECT_EQ(test::PeakOf(device.recorded(0), 0, 2100 * 48, 0), 0.0f);
  const auto wav = test::DecodeAll(dir / "out.wav");
  const auto ref = test::DecodeAll(file);
  const auto& kept = device.recorded(1);
  ASSERT_EQ(wav.size(), kept.size());
  ASSERT_GT(wav.size(), ref.size());
  for (size_t i = 0; i < kept.size(); ++i) ASSERT_NEAR(wav[i], kept[i], 1.0 / 32767 + 1e-6);
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_NEAR(wav[i], ref[i], 1.0 / 32767 + 1e-6) << i;
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 2u);
  // Written at once from what was kept.
  ASSERT_TRUE(device.writeWav(1, dir / "copy.wav"));
  EXPECT_EQ(test::DecodeAll(dir / "copy.wav"), wav);
  std::filesystem::remove(dir / "copy.wav");

  // The disk fills up halfway.
  const std::string before = test::ReadFile(dir / "out.wav");
  play();
  ASSERT_TRUE(device.recordToFile(1, dir / "out.wav"));
  {
    test::FileSizeLimit limit(100 * 1024);
    device.renderMs(2100);
    EXPECT_TRUE(device.fileFailed());
    std::string error;
    EXPECT_FALSE(device.finishFile(&error));
    EXPECT_NE(error.find("write error"), std::string::npos) << error;
  }
  EXPECT_EQ(test::ReadFile(dir / "out.wav"), before);
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 2u);
}

}  // namespace
}  // namespace sono::audio
