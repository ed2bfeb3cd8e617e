// The editor's record buttons on the boards' path: a take into the song's
// sound from the virtual board's input, closed when it ends by itself or is
// stopped; the recorder window's path when the record input is no board.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "audio/engine/virtual_capture.h"
#include "audio_test_support.h"
#include "core/house_format.h"
#include "core/ini.h"
#include "library_fixture.h"
#include "recorder/record_buttons.h"

namespace sono::recorder {
namespace {

class RecordButtonsTest : public data::test::LibraryFixture {
 protected:
  RecordButtonsTest()
      : engine(Options()), tools(engine), qz(log, prompt, clock, config.settingsFile(), &tools), record(qz),
        recorder({prompt, log, clock}, config), buttons({prompt, log, clock}, qz, record, recorder) {
    sound = test::MakeHouseFile(dir, "song.s48", 1000, 0.05f);
    buttons.target = [this] { return RecordTarget{"0001ABCD", sound}; };
    buttons.inputNature = [this] { return nature; };
    buttons.loadRecorder = [this] { ++recorderLoads; return false; };
    buttons.stopTape = [this] { ++tapeStops; };
    buttons.resetPointers = [this] { ++pointerResets; };
    buttons.RAZPtx = [this] {
      EXPECT_EQ(tapeStops, storedResets + 1) << "the audition stops before the pointers are reset";
      ++storedResets;
    };
    buttons.endType = [this] { return endTypeShown; };
    buttons.closeTake = [this](const RecordTarget& t, char endType) {
      closed.push_back(t.soundFile);
      endTypes.push_back(endType);
      return true;
    };
    buttons.showPosition = [this](const std::string& text) { position = text; };
  }
  static audio::EngineOptions Options() {
    audio::EngineOptions o;
    o.useAlsaCards = false;
    return o;
  }
  // A -20 dB tone from `fromMs` to `toMs`, silence around it, for ever.
  void Input(int fromMs, int toMs) {
    tools.recordTakes().setCaptureOpener([fromMs, toMs](const audio::BoardDesc&, int) {
      return audio::VirtualCapture::FromGenerator([fromMs, toMs](float* stereo, long frames, int64_t pos) {
        for (long i = 0; i < frames; ++i) {
          const int64_t f = pos + i;
          const bool on = f >= fromMs * 48 && f < toMs * 48;
          stereo[2 * i] = stereo[2 * i + 1] = on ? 0.1f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * f / 48000)) : 0.0f;
        }
      });
    });
  }
  void Set(const char* section, const char* key, int value) {
    ASSERT_TRUE(EcritureIni(config.settingsFile(), section, key, std::to_string(value)));
  }
  void PollUntilClosed() {
    for (int i = 0; i < 3000 && buttons.recording(); ++i) {
      buttons.Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(buttons.recording());
  }

  audio::Engine engine;
  audio::BoardTools tools;
  audio::PcxQz qz;
  audio::PcxRecord record;
  RecorderModel recorder;
  RecordButtons buttons;
  std::string sound, position;
  int nature = audio::kNaturePcxTools;
  int recorderLoads = 0, tapeStops = 0, pointerResets = 0, storedResets = 0;
  std::vector<std::string> closed;
  std::vector<char> endTypes;
  char endTypeShown = ' ';
};

TEST_F(RecordButtonsTest, ALevelTakeGoesIntoTheSongsSoundOnlyOnceItHasEndedAndIsThenClosed) {
  const std::string old = test::ReadFile(sound);
  Set("Recorder_PCXTools_OverWrite", "Condition", 1);
  Set("Recorder_PCXTools_StartCondition", "Declenchement", 1);
  Set("Recorder_PCXTools_StartCondition", "EndDuration", 300);
  Input(800, 1400);
  ASSERT_TRUE(buttons.BtnsRecord(kRecordStart));
  EXPECT_EQ(position, "00:00.00");
  EXPECT_EQ(pointerResets, 1);
  EXPECT_TRUE(buttons.recording());
  EXPECT_EQ(test::ReadFile(sound), old);
  // The end type is the one the editor shows when the take ends, not at its start.
  endTypeShown = 'E';
  PollUntilClosed();
  ASSERT_EQ(closed, std::vector<std::string>{sound});
  EXPECT_EQ(endTypes, std::vector<char>{'E'});
  // Pre-roll, the tone, the silence's duration + 100 ms.
  EXPECT_NEAR(HouseFormatDurationMs(sound).value_or(0), 500 + 600 + 400, 24 + 24);
  EXPECT_EQ(buttons.lastMessage(), "");
  EXPECT_EQ(recorderLoads, 0);
}

TEST_F(RecordButtonsTest, AStopBeforeTheLevelLeavesTheSoundAndSaysSo) {
  const std::string old = test::ReadFile(sound);
  Set("Recorder_PCXTools_OverWrite", "Condition", 1);
  Set("Recorder_PCXTools_StartCondition", "Declenchement", 1);
  Input(60000, 61000);
  ASSERT_TRUE(buttons.BtnsRecord(kRecordStart));
  EXPECT_FALSE(buttons.BtnsRecord(kRecordStop));
  EXPECT_FALSE(buttons.recording());
  EXPECT_TRUE(closed.empty());
  EXPECT_EQ(test::ReadFile(sound), old);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text,
            "Aucun son enregistré: le niveau de déclenchement n'a pas été atteint; le son du morceau est inchangé");
}

TEST_F(RecordButtonsTest, NewTakeWithoutSongAndTheRecorderWindowsPath) {
  prompt.answers = {Answer::Yes, Answer::No};
  EXPECT_TRUE(buttons.BtnsRecord(kRecordNewTake));
  EXPECT_TRUE(buttons.BtnsRecord(kRecordNewTake));
  EXPECT_EQ(tapeStops, 2);
  // Yes stores the empty set (RAZPtx); a take's start only resets the editor's.
  EXPECT_EQ(storedResets, 1);
  EXPECT_EQ(pointerResets, 0);
  bool handled = true;
  EXPECT_FALSE(buttons.BtnsRecord(4, handled));
  EXPECT_FALSE(handled);
  buttons.target = [] { return RecordTarget{"", ""}; };
  EXPECT_FALSE(buttons.BtnsRecord(kRecordStart));
  EXPECT_EQ(prompt.shown.back().text, "Vous n'avez pas sélectionné de morceau.");
  // A record input that is no board: the take is the recorder window's.
  buttons.target = [this] { return RecordTarget{"0001ABCD", sound}; };
  nature = audio::kNatureDirectX;
  EXPECT_FALSE(buttons.BtnsRecord(kRecordStart));
  EXPECT_EQ(recorderLoads, 1);
  EXPECT_FALSE(qz.pipeIn.allocated);
}

}  // namespace
}  // namespace sono::recorder
