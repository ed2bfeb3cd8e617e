// Takes on the record pipe through the board tools and Lib_PCX_QZ's record
// procedures, from the virtual board's input: where a level take starts and
// ends, what each record mode makes of the sound already there, and that the
// sound is untouched until the take has ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/engine/alsa_device.h"
#include "audio/engine/error_codes.h"
#include "audio/engine/virtual_capture.h"
#include "audio/pcx/pcx_record.h"
#include "audio_test_support.h"
#include "log_lines.h"
#include "core/ini.h"
#include "core/manual_ports.h"

namespace sono::audio {
namespace {

using test::TempDir;

constexpr int kRate = 48000;
constexpr int64_t kOneFrame = kHouseFrameSamples;  // 24 ms
constexpr int kPrerollMs = 500;

int64_t Ms(int64_t ms) { return ms * kRate / 1000; }

// Tone bursts (start ms, end ms, level dB), silence elsewhere; the input
// ends after `lengthMs`.
struct Burst {
  int fromMs, toMs;
  double db;
};
VirtualCapture::Generator Bursts(std::vector<Burst> bursts) {
  return [bursts](float* stereo, long frames, int64_t pos) {
    for (long i = 0; i < frames; ++i) {
      const int64_t f = pos + i;
      float v = 0;
      for (const Burst& b : bursts)
        if (f >= Ms(b.fromMs) && f < Ms(b.toMs))
          v = static_cast<float>(std::pow(10.0, b.db / 20.0) * std::sin(2 * std::numbers::pi * 440.0 * f / kRate));
      stereo[2 * i] = stereo[2 * i + 1] = v;
    }
  };
}

int64_t FirstAtOrAbove(const std::vector<float>& stereo, double db) {
  const float t = static_cast<float>(std::pow(10.0, db / 20.0));
  for (size_t i = 0; i < stereo.size(); ++i)
    if (std::fabs(stereo[i]) >= t) return static_cast<int64_t>(i / 2);
  return -1;
}

std::string Bytes(const std::string& path, int64_t from, int64_t count) {
  const std::string all = test::ReadFile(path);
  return from + count <= static_cast<int64_t>(all.size()) ? all.substr(static_cast<size_t>(from), static_cast<size_t>(count))
                                                         : std::string("<short>");
}

class BoardRecordTest : public ::testing::Test {
 protected:
  explicit BoardRecordTest(EngineOptions options = Options())
      : log(clock), engine(options), tools(engine), qz(log, prompt, clock, dir / "Vexa_Library.Ini", &tools),
        record(qz) {
    log.setSetupLoaded(true);
  }
  static EngineOptions Options() {
    EngineOptions o;
    o.useAlsaCards = false;
    return o;
  }
  void SetUp() override {
    ASSERT_TRUE(qz.InitTools());
    qz.InitPCXToolsIn(0);
    int n = 24;
    ASSERT_TRUE(qz.AllocatePipeIn(0, n));
  }
  // Takes read `generator` as fast as they take it, ending after `lengthMs`.
  void input(VirtualCapture::Generator generator, int64_t lengthMs) {
    tools.recordTakes().setCaptureOpener([generator, lengthMs](const BoardDesc&, int) {
      auto c = VirtualCapture::FromGenerator(generator);
      c->setLengthFrames(Ms(lengthMs));
      return c;
    });
  }
  void inputFile(const std::string& path) {
    tools.recordTakes().setCaptureOpener([path](const BoardDesc&, int) {
      std::unique_ptr<CaptureSource> c = VirtualCapture::FromFile(path);
      return c;
    });
  }
  void set(const char* section, const char* key, int value) {
    ASSERT_TRUE(EcritureIni(dir / "Vexa_Library.Ini", section, key, std::to_string(value)));
  }
  void levelStart(int thresholdIndex, int startMs, int endThresholdIndex, int endMs) {
    set("Recorder_PCXTools_StartCondition", "Declenchement", 1);
    set("Recorder_PCXTools_StartCondition", "StartThreshold", thresholdIndex);
    set("Recorder_PCXTools_StartCondition", "StartDuration", startMs);
    set("Recorder_PCXTools_StartCondition", "EndThreshold", endThresholdIndex);
    set("Recorder_PCXTools_StartCondition", "EndDuration", endMs);
  }
  int status(int stream = 0) {
    int s = -1;
    EXPECT_TRUE(tools.TOOLStreamGetStatus(qz.pipeIn.handle, 1, qz.pipeIn.streams[stream].handle, s));
    return s;
  }
  // Waits for the take to end by itself and be put in place.
  void waitForEnd(int stream = 0) {
    for (int i = 0; i < 3000 && status(stream) != kRecordIdle; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(status(stream), kRecordIdle);
    ASSERT_TRUE(tools.recordTakes().outcome(0, stream).done);
    ASSERT_EQ(tools.recordTakes().outcome(0, stream).error, "");
  }
  bool start(const std::string& file, int stream = 0) {
    bool cancelled = false;
    return record.DigitalRecordActivation(0, 0, 1, true) && record.PCXToolsInSetRecordFormat(0, stream) &&
           record.PCXToolsInRecordFile(0, stream, file, cancelled);
  }
  std::vector<std::string> messages() const { return test::LogMessages(log); }
  bool logged(const std::string& text) const { return test::LoggedCount(log, text) > 0; }
  int64_t frames(const std::string& file) {
    const FrameScan scan = ScanMpegFile(file);
    EXPECT_EQ(scan.damagedFrames, 0);
    return scan.frames;
  }

  TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  TraceLogger log;
  Engine engine;
  BoardTools tools;
  PcxQz qz;
  PcxRecord record;
};

TEST_F(BoardRecordTest, ALevelTakeStartsOnePrerollBeforeTheFirstBurstAboveEachThreshold) {
  // Bursts climbing in level, a second apart: each threshold of the list
  // lets a different one start the take, and the silence after it stops it.
  const std::vector<Burst> bursts = {{1000, 1300, -65}, {2000, 2300, -55}, {3000, 3300, -45}, {4000, 4300, -20}};
  const int firstAbove[] = {3, 2, 1, 0};  // for -40, -50, -60, -70 dB
  const int startMs = 60, endMs = 400;
  for (int index = 0; index < 4; ++index) {
    SCOPED_TRACE("threshold " + std::to_string(kRecordThresholdsDb[index]) + " dB");
    const Burst& b = bursts[static_cast<size_t>(firstAbove[index])];
    input(Bursts(bursts), 6000);
    levelStart(index, startMs, index, endMs);
    set("Recorder_PCXTools_OverWrite", "Condition", 1);
    const std::string file = dir / ("take" + std::to_string(index) + ".s48");
    ASSERT_TRUE(start(file));
    waitForEnd();
    const std::vector<float> take = test::DecodeAll(file);
    // The burst lies one pre-roll into the take, within one house frame.
    EXPECT_NEAR(FirstAtOrAbove(take, b.db - 1), Ms(kPrerollMs), kOneFrame);
    // It ends the end duration + 100 ms after the burst (the silence's onset).
    const int64_t length = static_cast<int64_t>(take.size() / 2);
    EXPECT_NEAR(length, Ms(kPrerollMs + (b.toMs - b.fromMs) + endMs + 100), kOneFrame);
    EXPECT_EQ(test::FfmpegDecodedFrames(file).value_or(-1), frames(file) * kHouseFrameSamples);
  }
  EXPECT_TRUE(logged("Record file On Threshold active for: " + dir / "take3.s48"));
  EXPECT_TRUE(logged("OverWriteMode: RECORD_MODE_ERASE"));
  EXPECT_TRUE(logged("StartCondition: ASAP"));
  EXPECT_TRUE(logged("StartPosition: 0 EndPosition: RECORD_UNTIL_STOP"));
  EXPECT_TRUE(logged("Set Record Format |IN Ok"));
  EXPECT_TRUE(logged("TOOLPipeSetClockEx |IN set to CLOCK_NO. NoBoard: 0 NoUERInput: 1"));
  EXPECT_TRUE(logged("TOOLPipeDefineDigitalInput Ok: DATA_FROM_ANALOG"));
}

TEST_F(BoardRecordTest, RealSpeechKeepsItsFirstWordAndAPlainTakeRecordsUntilStopped) {
  std::vector<std::string> inputs = {"/usr/share/sounds/alsa/Front_Center.wav"};
  ASSERT_TRUE(test::Exists(inputs[0])) << "alsa-utils is missing";
  const std::string spoken = dir / "spoken.wav";
  int status = -1;
  test::RunProgram({"espeak-ng", "-v", "fr", "-w", spoken, "Flash info de dix-sept heures, la météo."}, &status);
  ASSERT_EQ(status, 0) << "espeak-ng is missing";
  inputs.push_back(spoken);
  levelStart(1, 100, 1, 1500);
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  for (const std::string& in : inputs) {
    SCOPED_TRACE(in);
    // 1.5 s of silence, the speech, at 48000 Hz as the input gives it.
    auto reader = VirtualCapture::FromFile(in);
    reader->setEndAtFileEnd(true);
    std::string error;
    ASSERT_TRUE(reader->open(error)) << error;
    std::vector<float> padded(static_cast<size_t>(Ms(1500)) * 2, 0.0f), block(9600);
    for (long n; (n = reader->read(block.data(), 4800)) > 0;) padded.insert(padded.end(), block.begin(), block.begin() + 2 * n);
    const std::string source = dir / "input.wav";
    ASSERT_TRUE(test::WritePcmWav(source, padded, kRate));
    const int64_t onset = FirstAtOrAbove(test::DecodeAll(source), -50);
    ASSERT_GE(onset, Ms(1500));
    inputFile(source);
    const std::string file = dir / "speech.s48";
    ASSERT_TRUE(start(file));
    waitForEnd();
    EXPECT_NEAR(FirstAtOrAbove(test::DecodeAll(file), -50), Ms(kPrerollMs), kOneFrame);
  }
  // Without the threshold the take starts at once and runs until the pipe stops.
  set("Recorder_PCXTools_StartCondition", "Declenchement", 0);
  input(Bursts({{0, 100000, -20}}), 0);
  const std::string file = dir / "plain.s48";
  ASSERT_TRUE(start(file));
  EXPECT_TRUE(logged("Record file active for: " + file));
  while (tools.recordTakes().framesRecorded(0, 0) < Ms(1000)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(test::Exists(file)) << "the take is in its own file until it ends";
  ASSERT_TRUE(qz.PCXToolsInStopPipe());
  EXPECT_GE(frames(file), Ms(1000) / kOneFrame);
  // From its first frame on (the codec's delay aside).
  EXPECT_LT(FirstAtOrAbove(test::DecodeAll(file), -30), kOneFrame);
}

TEST_F(BoardRecordTest, RecordModesPutTheTakeAroundTheOldSoundsFrames) {
  // The old sound: 2 s (about 84 frames). The take: 480 ms of a loud tone
  // that ends the input.
  const int64_t takeMs = 480;
  struct Case {
    int mode;
    int startPosMs, endPosMs;
    int64_t keep, resume;  // old frames before the take, first old frame after it (-1: none)
  };
  const Case cases[] = {
      {1, 0, 0, 0, -1},          // erase
      {2, 0, 0, -1, -1},         // append: every old frame first
      {3, 480, 960, 20, 40},     // replace between two points (the take fills them)
      {3, 240, 2400, 10, -1},    // an end past the sound replaces to its end
      {4, 720, 0, 30, -1},       // from a point on, the rest cut off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " from " + std::to_string(c.startPosMs));
    const std::string file = test::MakeHouseFile(dir, "old.s48", 2000, 0.05f);
    const std::string old = test::ReadFile(file);
    const int64_t oldFrames = frames(file);
    set("Recorder_PCXTools_OverWrite", "Condition", c.mode);
    set("Recorder_PCXTools_StartCondition", "StartPos", c.startPosMs);
    set("Recorder_PCXTools_StartCondition", "EndPos", c.endPosMs);
    set("Recorder_PCXTools_StartCondition", "StartPosCut", c.startPosMs);
    input(Bursts({{0, 100000, -10}}), c.mode == 3 ? 100000 : takeMs);
    ASSERT_TRUE(start(file));
    waitForEnd();
    const int64_t keep = c.keep < 0 ? oldFrames : c.keep;
    const int64_t tail = c.resume < 0 ? 0 : oldFrames - c.resume;
    const int64_t total = frames(file);
    const int64_t took = total - keep - tail;
    // The take's frames: its length (a range's length when it has one), and
    // the codec's delay flushed into one more frame at most.
    const int64_t expected = (c.mode == 3 ? c.endPosMs - c.startPosMs : takeMs) / kHouseFrameMs;
    EXPECT_GE(took, expected);
    EXPECT_LE(took, expected + 1);
    EXPECT_EQ(Bytes(file, 0, keep * kHouseFrameBytes), old.substr(0, static_cast<size_t>(keep * kHouseFrameBytes)));
    if (tail > 0) {
      EXPECT_EQ(Bytes(file, (keep + took) * kHouseFrameBytes, tail * kHouseFrameBytes),
                old.substr(static_cast<size_t>(c.resume * kHouseFrameBytes)));
    }
    // The take itself is the loud tone.
    const std::vector<float> decoded = test::DecodeAll(file);
    EXPECT_GT(test::PeakOf(decoded, static_cast<size_t>((keep + 2) * kOneFrame), static_cast<size_t>((keep + 4) * kOneFrame), 0), 0.25f);
    EXPECT_EQ(test::FfmpegDecodedFrames(file).value_or(-1), total * kHouseFrameSamples);
  }
}

TEST_F(BoardRecordTest, TheSafeModeAsksAndASecondTakeOnTheSameFileIsRefused) {
  const std::string file = test::MakeHouseFile(dir, "song.s48", 1000);
  const std::string old = test::ReadFile(file);
  input(Bursts({{0, 100000, -10}}), 240);
  int changed = 0;
  record.soundChanged = [&changed] { ++changed; };
  record.currentDurationMs = [] { return int64_t{1000}; };
  // Cancel leaves everything as it was.
  prompt.answers = {Answer::Cancel};
  bool cancelled = false;
  ASSERT_TRUE(record.PCXToolsInSetRecordFormat(0, 0));
  EXPECT_FALSE(record.PCXToolsInRecordFile(0, 0, file, cancelled));
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(test::ReadFile(file), old);
  // "No" appends the take.
  prompt.answers = {Answer::No};
  ASSERT_TRUE(record.PCXToolsInRecordFile(0, 0, file, cancelled));
  EXPECT_EQ(record.appendBase, 1000);
  EXPECT_EQ(changed, 1);
  EXPECT_TRUE(logged("OverWriteMode: RECORD_MODE_APPEND"));
  waitForEnd();
  EXPECT_EQ(Bytes(file, 0, static_cast<int64_t>(old.size())), old);
  EXPECT_GT(frames(file), static_cast<int64_t>(old.size()) / kHouseFrameBytes);
  // The tools themselves refuse a safe take onto a file that exists, and a
  // second take into a file being recorded.
  const uint32_t pipe = qz.pipeIn.handle;
  EXPECT_EQ(tools.TOOLRecordFile(pipe, qz.pipeIn.streams[0].handle, file, 0, 0, 0, 0), 0u);
  EXPECT_EQ(tools.TOOLGetLastError(), err::kFileExists);
  input(Bursts({{0, 100000, -10}}), 0);
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  ASSERT_TRUE(start(file, 0));
  bool cancelled2 = false;
  EXPECT_FALSE(record.PCXToolsInRecordFile(0, 1, file, cancelled2));
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Fichier en cours d'utilisation. Record impossible.");
  ASSERT_TRUE(qz.PCXToolsInStopPipe());
}

TEST_F(BoardRecordTest, ATakeWaitingForItsStartOrPausedLeavesTheSoundAsItWas) {
  const std::string file = test::MakeHouseFile(dir, "song.s48", 1000);
  const std::string old = test::ReadFile(file);
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  set("Recorder_PCXTools_StartCondition", "Condition", 1);  // at the start command
  input(Bursts({{0, 100000, -10}}), 720);
  ASSERT_TRUE(start(file));
  EXPECT_TRUE(logged("StartCondition: ONSTART"));
  EXPECT_EQ(status(), kRecordWaiting);
  EXPECT_EQ(test::ReadFile(file), old);
  // Paused before its start: the input runs out while paused, nothing is recorded.
  ASSERT_TRUE(record.RecordPause());
  ASSERT_TRUE(record.PCXToolsInStreamStart(0));
  waitForEnd();
  EXPECT_TRUE(tools.recordTakes().outcome(0, 0).empty);
  EXPECT_EQ(test::ReadFile(file), old);
  // Started and resumed: the take replaces the sound.
  ASSERT_TRUE(start(file));
  ASSERT_TRUE(record.RecordPause());
  EXPECT_EQ(status(), kRecordWaiting);
  ASSERT_TRUE(record.RecordPauseOff());
  EXPECT_TRUE(logged("TOOLPipePause (False)"));
  waitForEnd();
  EXPECT_GE(frames(file), 720 / kHouseFrameMs);
  EXPECT_NE(test::ReadFile(file), old);
}

TEST_F(BoardRecordTest, AFormatOtherThanTheHouseFormatIsRefusedAndReported) {
  set("Recorder_PCXTools_RecordFormat", "Layer", 1);
  EXPECT_FALSE(record.PCXToolsInSetRecordFormat(0, 0));
  EXPECT_TRUE(logged("Err: PCXTools Error |TOOLStreamSetRecordFormatEx |IN |Sub: Lib_PCX_QZ:PCXToolsInSetRecordFormat"));
  EXPECT_FALSE(logged("Set Record Format |IN Ok"));
}

TEST_F(BoardRecordTest, WithoutAnInputGivenATakeRecordsTheVirtualDevicesCaptureSide) {
  // No opener: the virtual device's capture side, given at real-time pace.
  engine.virtualDevice().setCaptureSine(1000, -6);
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  const std::string file = dir / "live.s48";
  ASSERT_TRUE(start(file));
  while (tools.recordTakes().framesRecorded(0, 0) < Ms(300)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(qz.PCXToolsInStopPipe());
  const std::vector<float> take = test::DecodeAll(file);
  ASSERT_GE(take.size() / 2, static_cast<size_t>(Ms(300)));
  EXPECT_NEAR(test::PeakOf(take, static_cast<size_t>(Ms(100)), static_cast<size_t>(Ms(200)), 0), 0.5f, 0.05f);
}

// A card's input: the record pipe on an ALSA PCM records that PCM's capture
// through the same take recorder. ALSA's "null" gives silence as fast as it
// is read (no clock of its own): the take is whole frames of silence, and
// what the writer could not keep up with is counted, not hidden. A PCM that
// cannot be opened refuses the take, reported, the sound left as it was.
class BoardAlsaRecordTest : public BoardRecordTest {
 protected:
  static EngineOptions Alsa(const char* pcm) {
    EngineOptions o;
    o.useAlsaCards = false;
    o.extraPcms = {pcm};
    return o;
  }
  explicit BoardAlsaRecordTest(const char* pcm = "null") : BoardRecordTest(Alsa(pcm)) {}
};

TEST_F(BoardAlsaRecordTest, TheRecordPipeOnAnAlsaPcmRecordsItsCapture) {
  if (!AlsaPcmExists("null")) GTEST_SKIP() << "no ALSA null PCM";
  ASSERT_TRUE(qz.pipeIn.allocated);
  const int pipe = static_cast<int>(qz.pipeIn.handle & 0xFF);
  const BoardDesc& board = engine.boards()[static_cast<size_t>(engine.pipeBoard(pipe))];
  ASSERT_FALSE(board.isVirtual);
  EXPECT_EQ(board.alsaName, "null");
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  const std::string file = dir / "card.s48";
  test::WriteHouse(file, test::TestSignal(Ms(500)));
  ASSERT_TRUE(start(file));
  for (int i = 0; i < 2000 && tools.recordTakes().framesRecorded(0, 0) < Ms(1000); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(tools.recordTakes().framesRecorded(0, 0), Ms(1000));
  ASSERT_TRUE(qz.PCXToolsInStopPipe());
  const RecordOutcome& outcome = tools.recordTakes().outcome(0, 0);
  ASSERT_TRUE(outcome.done);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(frames(file), outcome.mpegFrames);
  EXPECT_GE(outcome.mpegFrames, 1000 / 24);
  EXPECT_EQ(std::filesystem::file_size(file) % kHouseFrameBytes, 0u);
  const std::vector<float> take = test::DecodeAll(file);
  ASSERT_FALSE(take.empty());
  EXPECT_LT(test::PeakOf(take, 0, take.size() / 2, 0), 1e-4f);
  EXPECT_LT(test::PeakOf(take, 0, take.size() / 2, 1), 1e-4f);
}

class BoardMissingCardRecordTest : public BoardAlsaRecordTest {
 protected:
  BoardMissingCardRecordTest() : BoardAlsaRecordTest("hw:97,0") {}
};

TEST_F(BoardMissingCardRecordTest, ACaptureThatCannotBeOpenedRefusesTheTake) {
  set("Recorder_PCXTools_OverWrite", "Condition", 1);
  const std::string file = dir / "card.s48";
  test::WriteHouse(file, test::TestSignal(Ms(500)));
  const std::string before = test::ReadFile(file);
  EXPECT_FALSE(start(file));
  EXPECT_FALSE(record.recording);
  EXPECT_EQ(qz.lastErrorCode, err::kDeviceOpen);
  EXPECT_TRUE(logged("Err: PCXTools Error |TOOLRecordFile |IN |Sub: Lib_PCX_QZ:PCXToolsInRecordFile"));
  EXPECT_NE(tools.recordTakes().outcome(0, 0).error, "");
  EXPECT_EQ(test::ReadFile(file), before);
  EXPECT_TRUE(test::FolderEntries(dir.path()).size() >= 1);
  for (const std::string& name : test::FolderEntries(dir.path()))
    EXPECT_EQ(name.find("_Prise_"), std::string::npos) << name;
}

}  // namespace
}  // namespace sono::audio
