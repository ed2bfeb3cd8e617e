#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio_test_support.h"
#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/engine/alsa_capture.h"
#include "audio/engine/virtual_capture.h"
#include "core/manual_ports.h"
#include "recorder/level_detector.h"
#include "recorder/take_recorder.h"

namespace sono::recorder {
namespace {

using audio::VirtualCapture;
using test::TempDir;

constexpr int kRate = 48000;
constexpr int64_t kFrameTolerance = audio::kHouseFrameSamples;  // one house frame, 24 ms

int64_t Ms(int64_t ms) { return ms * kRate / 1000; }

struct Audible {
  int64_t first = -1, last = -1;  // first audible frame; the frame after the last audible one
};

Audible FindAudible(const std::vector<float>& stereo, float thresholdDb) {
  const float t = DbToLinear(thresholdDb);
  Audible a;
  for (size_t i = 0; i < stereo.size(); ++i) {
    if (std::fabs(stereo[i]) < t) continue;
    const int64_t f = static_cast<int64_t>(i / 2);
    if (a.first < 0) a.first = f;
    a.last = f + 1;
  }
  return a;
}

// The input as the recorder sees it (48000 Hz stereo), up to the file's end.
std::vector<float> CapturedInput(const std::string& path) {
  auto c = VirtualCapture::FromFile(path);
  c->setEndAtFileEnd(true);
  std::string error;
  EXPECT_TRUE(c->open(error)) << error;
  std::vector<float> all, block(2 * 4800);
  while (true) {
    const long n = c->read(block.data(), 4800);
    if (n <= 0) break;
    all.insert(all.end(), block.begin(), block.begin() + 2 * n);
  }
  return all;
}

TakeResult Record(std::unique_ptr<audio::CaptureSource> source, const std::string& take,
                  const TakeSettings& settings, std::vector<TakeEvent>* events = nullptr) {
  TakeRecorder recorder;
  std::string error;
  EXPECT_TRUE(recorder.start(std::move(source), take, settings, error)) << error;
  recorder.join();
  EXPECT_TRUE(recorder.done());
  if (events) *events = recorder.takeEvents();
  return recorder.result();
}

// Tone bursts at -20 dB with silences between them, then silence for ever.
VirtualCapture::Generator Bursts(std::vector<std::pair<int, int>> burstsMs) {
  return [burstsMs](float* stereo, long frames, int64_t pos) {
    for (long i = 0; i < frames; ++i) {
      const int64_t f = pos + i;
      float v = 0;
      for (auto [from, to] : burstsMs)
        if (f >= Ms(from) && f < Ms(to))
          v = 0.1f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * f / kRate));
      stereo[2 * i] = stereo[2 * i + 1] = v;
    }
  };
}

TakeSettings LevelTake(int startDurationMs, int stopDurationMs, int tailMs) {
  TakeSettings s;
  s.start = StartCondition::OnLevel;
  s.startDb = -50;
  s.startDurationMs = startDurationMs;
  s.stopDb = -50;
  s.stopDurationMs = stopDurationMs;
  s.tailMs = tailMs;
  s.prerollMs = 500;
  return s;
}

// The take starts one pre-roll before the input's first audible frame and
// ends one tail after its last, each within one house frame; everything in
// between is there, and the file is whole frames that FFmpeg decodes.
void ExpectTakeAround(const std::string& take, const TakeResult& r, const Audible& input,
                      const TakeSettings& s) {
  ASSERT_EQ(r.reason, StopReason::Silence) << r.error;
  const std::vector<float> decoded = test::DecodeAll(take);
  const Audible inTake = FindAudible(decoded, s.startDb);
  ASSERT_GE(inTake.first, 0);
  EXPECT_NEAR(r.startFrame, input.first - Ms(s.prerollMs), kFrameTolerance);
  EXPECT_NEAR(inTake.first, Ms(s.prerollMs), kFrameTolerance);
  const int64_t length = static_cast<int64_t>(decoded.size() / 2);
  EXPECT_NEAR(length - inTake.last, Ms(s.tailMs), kFrameTolerance);
  EXPECT_NEAR(inTake.last - inTake.first, input.last - input.first, kFrameTolerance);
  const auto scan = audio::ScanMpegFile(take);
  EXPECT_EQ(scan.damagedFrames, 0);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(take)), r.mpegFrames * audio::kHouseFrameBytes);
  EXPECT_EQ(test::FfmpegDecodedFrames(take).value_or(-1), r.mpegFrames * audio::kHouseFrameSamples);
}

TEST(TakeRecorder, ToneBurstsStartOnePrerollEarlyAndStopAtSilenceOnsetPlusTail) {
  TempDir dir;
  // Bursts at 1.2 s and 2.2 s with a 300 ms gap that must not stop the take.
  const std::vector<std::pair<int, int>> bursts = {{1200, 1900}, {2200, 2700}};
  const Audible input{Ms(1200), Ms(2700)};
  for (const auto& [stopMs, tailMs] : {std::pair{1000, 300}, std::pair{600, 1500}}) {
    SCOPED_TRACE("silence " + std::to_string(stopMs) + " ms, tail " + std::to_string(tailMs) + " ms");
    const TakeSettings s = LevelTake(200, stopMs, tailMs);
    std::vector<TakeEvent> events;
    const std::string take = dir / ("bursts" + std::to_string(stopMs) + ".s48");
    const TakeResult r = Record(VirtualCapture::FromGenerator(Bursts(bursts)), take, s, &events);
    ExpectTakeAround(take, r, input, s);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].kind, TakeEvent::Kind::Armed);
    EXPECT_EQ(events[1].kind, TakeEvent::Kind::Started);
    EXPECT_EQ(events[1].value, Ms(1200));
    EXPECT_EQ(events.back().kind, TakeEvent::Kind::Stopped);
  }
}

TEST(TakeRecorder, RealSpeechKeepsTheFirstWordAndStopsAfterTheLastOne) {
  TempDir dir;
  // A recording of the alsa-utils package and sentences spoken with pauses
  // shorter than the stop's silence, each after 1.5 s of silence.
  std::vector<std::string> inputs;
  const std::string alsa = "/usr/share/sounds/alsa/Front_Center.wav";
  ASSERT_TRUE(test::Exists(alsa)) << "alsa-utils is missing";
  inputs.push_back(alsa);
  const std::string spoken = dir / "spoken.wav";
  int status = -1;
  test::RunProgram({"espeak-ng", "-v", "fr", "-m", "-w", spoken,
                    "Bonjour, ici la rédaction. <break time=\"600ms\"/> Voici le journal de midi."},
                   &status);
  ASSERT_EQ(status, 0) << "espeak-ng is missing";
  inputs.push_back(spoken);
  const TakeSettings s = LevelTake(100, 1200, 400);
  for (const std::string& in : inputs) {
    SCOPED_TRACE(in);
    std::vector<float> speech = CapturedInput(in);
    std::vector<float> padded(static_cast<size_t>(Ms(1500)) * 2, 0.0f);
    padded.insert(padded.end(), speech.begin(), speech.end());
    const std::string source = dir / "input.wav";
    ASSERT_TRUE(test::WritePcmWav(source, padded, kRate));
    // Measured on what was written (16 bits), as the recorder will read it.
    const Audible input = FindAudible(CapturedInput(source), s.startDb);
    ASSERT_GT(input.first, Ms(1500) - 1);
    const std::string take = dir / "speech.s48";
    const TakeResult r = Record(VirtualCapture::FromFile(source), take, s);
    ExpectTakeAround(take, r, input, s);
  }
}

TEST(TakeRecorder, OnlyALevelTakeWithAStopDurationStopsOnSilence) {
  TempDir dir;
  // "Dès que possible" with a stop duration, and a level take with a stop
  // duration of 0: both run through seconds of silence until their length.
  TakeSettings atOnce = LevelTake(0, 300, 0);
  atOnce.start = StartCondition::AtOnce;
  atOnce.lengthMs = 3000;
  TakeSettings noStop = LevelTake(0, 0, 0);
  noStop.lengthMs = 3000;
  for (const TakeSettings& s : {atOnce, noStop}) {
    const std::string take = dir / "long.s48";
    const TakeResult r = Record(VirtualCapture::FromGenerator(Bursts({{1000, 1100}})), take, s);
    EXPECT_EQ(r.reason, StopReason::Length);
    EXPECT_EQ(r.frames, Ms(3000));
    EXPECT_EQ(r.mpegFrames, (Ms(3000) + 1151) / 1152);
  }
}

TEST(TakeRecorder, AnInputThatEndsEndsTheTakeWithEveryFrameAndAStopBeforeTheLevelLeavesItEmpty) {
  TempDir dir;
  const std::string source = dir / "in.wav";
  ASSERT_TRUE(test::WritePcmWav(source, test::TestSignal(Ms(60000)), kRate));
  auto capture = VirtualCapture::FromFile(source);
  capture->setEndAtFileEnd(true);
  const std::string take = dir / "take.s48";
  TakeSettings s;
  const TakeResult r = Record(std::move(capture), take, s);
  EXPECT_EQ(r.reason, StopReason::InputEnded);
  EXPECT_EQ(r.frames, Ms(60000));
  EXPECT_EQ(r.overrunFrames, 0);
  EXPECT_EQ(test::FfmpegDecodedFrames(take).value_or(-1), r.mpegFrames * audio::kHouseFrameSamples);

  // Armed on a silent input that ends: nothing was recorded.
  auto silent = VirtualCapture::FromGenerator(Bursts({}));
  silent->setLengthFrames(Ms(2000));
  const TakeResult empty = Record(std::move(silent), take, LevelTake(0, 500, 0));
  EXPECT_EQ(empty.reason, StopReason::InputEnded);
  EXPECT_EQ(empty.frames, 0);
  EXPECT_EQ(empty.startFrame, -1);
}

TEST(TakeRecorder, APauseLeavesOutExactlyWhatWasCapturedMeanwhile) {
  TempDir dir;
  // A burst between 1 s and 2 s of the input; the take is paused over it.
  TakeRecorder recorder;
  auto bursts = Bursts({{1000, 2000}});
  auto input = VirtualCapture::FromGenerator([&](float* stereo, long frames, int64_t pos) {
    bursts(stereo, frames, pos);
    if (pos + frames == Ms(1000)) recorder.pause();
    if (pos + frames == Ms(2000)) recorder.resume();
  });
  TakeSettings s;
  s.lengthMs = 3000;
  const std::string take = dir / "paused.s48";
  std::string error;
  ASSERT_TRUE(recorder.start(std::move(input), take, s, error)) << error;
  recorder.join();
  EXPECT_EQ(recorder.result().reason, StopReason::Length);
  EXPECT_EQ(recorder.result().frames, Ms(3000));
  const auto decoded = test::DecodeAll(take);
  EXPECT_EQ(FindAudible(decoded, -60).first, -1);  // not one frame of the burst
  std::vector<std::pair<TakeEvent::Kind, int64_t>> marks;
  for (const auto& e : recorder.takeEvents())
    if (e.kind == TakeEvent::Kind::Paused || e.kind == TakeEvent::Kind::Resumed) marks.emplace_back(e.kind, e.frame);
  const std::vector<std::pair<TakeEvent::Kind, int64_t>> expected = {
      {TakeEvent::Kind::Paused, Ms(1000)}, {TakeEvent::Kind::Resumed, Ms(2000)}};
  EXPECT_EQ(marks, expected);
}

TEST(TakeRecorder, AlsaCaptureRecordsFromAPcmAndNamesOneThatDoesNotOpen) {
  TempDir dir;
  // ALSA's "null" PCM captures silence without a card, as fast as it is read.
  TakeSettings s;
  s.lengthMs = 500;
  const TakeResult r = Record(std::make_unique<audio::AlsaCapture>("null"), dir / "null.s48", s);
  EXPECT_EQ(r.reason, StopReason::Length) << r.error;
  EXPECT_EQ(r.frames, Ms(500));

  TakeRecorder recorder;
  std::string error;
  EXPECT_FALSE(recorder.start(std::make_unique<audio::AlsaCapture>("no-such-pcm"), dir / "x.s48", s, error));
  EXPECT_NE(error.find("entrée no-such-pcm"), std::string::npos) << error;
  EXPECT_FALSE(test::Exists(dir / "x.s48"));
}

TEST(TakeRecorder, AVirtualInputAtRealTimePaceFollowsItsClock) {
  TempDir dir;
  ManualClock clock;
  const uint64_t t0 = clock.tickMs();
  std::atomic<int64_t> early{0}, late{0};
  auto bursts = Bursts({{0, 500}});
  auto input = VirtualCapture::FromGenerator([&](float* stereo, long frames, int64_t pos) {
    // Each period is given once the clock reached its end, not a period later.
    const int64_t dueMs = (pos + frames) * 1000 / kRate;
    const int64_t nowMs = static_cast<int64_t>(clock.tickMs() - t0);
    if (nowMs < dueMs) ++early;
    if (nowMs > dueMs + 10) ++late;
    bursts(stereo, frames, pos);
  });
  input->setPace(&clock);
  EXPECT_TRUE(input->live());
  TakeSettings s;
  s.lengthMs = 2000;
  const TakeResult r = Record(std::move(input), dir / "paced.s48", s);
  EXPECT_EQ(r.frames, Ms(2000));
  EXPECT_EQ(early.load(), 0);
  EXPECT_EQ(late.load(), 0);
  EXPECT_GE(clock.tickMs() - t0, 2000u);
}

// A live input whose device lost frames: the loss is reported, never silent.
class LossyInput : public audio::CaptureSource {
 public:
  bool open(std::string&) override { return true; }
  long read(float* stereo, long frames) override {
    if (pos_ >= Ms(1000)) return 0;
    std::fill(stereo, stereo + frames * 2, 0.2f);
    pos_ += frames;
    if (pos_ >= Ms(500)) lost_.store(1234);
    return frames;
  }
  void close() override {}
  bool live() const override { return true; }
  int64_t deviceOverrunFrames() const override { return lost_.load(); }
  std::string name() const override { return "lossy"; }

 private:
  int64_t pos_ = 0;
  std::atomic<int64_t> lost_{0};
};

TEST(TakeRecorder, DeviceOverrunsAreReportedAsEventsAndInTheResult) {
  TempDir dir;
  std::vector<TakeEvent> events;
  const TakeResult r = Record(std::make_unique<LossyInput>(), dir / "t.s48", TakeSettings{}, &events);
  EXPECT_EQ(r.overrunFrames, 1234);
  int overruns = 0;
  for (const auto& e : events)
    if (e.kind == TakeEvent::Kind::Overrun) {
      ++overruns;
      EXPECT_EQ(e.value, 1234);
    }
  EXPECT_EQ(overruns, 1);
}

TEST(TakeRecorder, AFullDiskEndsTheTakeWithWholeFramesThatDecode) {
  TempDir dir;
  const std::string take = dir / "full.s48";
  TakeResult r;
  {
    // Room for 100 frames and a half: the write of frame 101 is cut.
    test::FileSizeLimit limit(100 * audio::kHouseFrameBytes + audio::kHouseFrameBytes / 2);
    r = Record(VirtualCapture::FromGenerator(Bursts({{0, 100000}})), take, TakeSettings{});
  }
  EXPECT_EQ(r.reason, StopReason::Failure);
  EXPECT_NE(r.error.find("écriture de la prise impossible"), std::string::npos) << r.error;
  EXPECT_EQ(std::filesystem::file_size(take) % audio::kHouseFrameBytes, 0u);
  EXPECT_GE(r.mpegFrames, 99);
  EXPECT_EQ(audio::ScanMpegFile(take).damagedFrames, 0);
  EXPECT_EQ(test::FfmpegDecodedFrames(take).value_or(-1), r.mpegFrames * audio::kHouseFrameSamples);
}

}  // namespace
}  // namespace sono::recorder
