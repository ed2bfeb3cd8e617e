// A song's pointers after it gets a shorter sound: within the value rules on
// every station, with what changed logged and nothing else touched.
#include <gtest/gtest.h>

#include <algorithm>

#include "library_fixture.h"
#include "convert/imported_pointers.h"
#include "data/ptx.h"
#include "editor/steps.h"

namespace sono::convert {
namespace {

using data::test::LibraryFixture;

class ImportedPointers : public LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000042";
  void SetUp() override {
    InsertEverywhere(data::kSongs, Song(kCode, "Titre", 200));
    for (int station : {1, 2}) {
      // type, position, duration
      Put(station, '0', 0, 5000);       // fade-in from 0 for 5 s: cut at the end
      Put(station, '4', 7000, 0);       // intro past the end: removed
      Put(station, '2', 3000, 2000);    // hook runs past: cut to 1000 ms
      Put(station, '9', 1000, 500);     // loop within: kept
      Put(station, '1', 3500, 1000);    // fade-out runs past: cut to 500 ms
      Put(station, '5', 9000, 0);       // start next past the end: removed
      Put(station, '6', 4001, 0, 3);    // send 1 ms past the end: removed
      ASSERT_EQ(data::PtxSauvegarderPointeurPitch(*lib, station, kCode, 1100000), 0);
      ASSERT_EQ(data::PtxSauvegarderPointeurLevel(*lib, station, kCode, -3.5f), 0);
    }
    // Station 2 had its intro within the sound: only station 1's goes.
    ASSERT_EQ(data::PtxDetruirePointeur(*lib, 2, kCode, 4), 0);
    Put(2, '4', 2500, 0);
  }
  void Put(int station, char type, long long pos, long long sec, int device = -1) {
    ASSERT_EQ(data::PtxSauvegarderPointeur(*lib, station, kCode, type, pos, sec, device, 0, true), 0);
  }
  // "pos/sec", or "none".
  std::string Get(int station, char type) {
    long long pos = 0, sec = 0;
    if (!data::PtxChargerPointeur(*lib, station, kCode, type, pos, sec)) return "none";
    return std::to_string(pos) + "/" + std::to_string(sec);
  }
};

TEST_F(ImportedPointers, PastTheEndRemovedRunningPastCutTheRestKept) {
  const PointerFitResult r = FitPointersToSound(*lib, kCode, 4000, "Test");
  ASSERT_TRUE(r.ok);
  for (int station : {1, 2}) {
    SCOPED_TRACE(station);
    EXPECT_EQ(Get(station, '0'), "0/4000");
    EXPECT_EQ(Get(station, '4'), station == 1 ? "none" : "2500/0");
    EXPECT_EQ(Get(station, '2'), "3000/1000");
    EXPECT_EQ(Get(station, '9'), "1000/500");
    EXPECT_EQ(Get(station, '1'), "3500/500");
    EXPECT_EQ(Get(station, '5'), "none");
    EXPECT_EQ(Get(station, '6'), "none");
    long long pitch = 0;
    float level = 0;
    EXPECT_TRUE(data::PtxChargerPointeurPitch(*lib, station, kCode, pitch));
    EXPECT_EQ(pitch, 1100000);
    EXPECT_TRUE(data::PtxChargerPointeurLevel(*lib, station, kCode, level));
    EXPECT_FLOAT_EQ(level, -3.5f);
  }
  // Six changes on station 1, five on station 2; each logged.
  EXPECT_EQ(r.changes.size(), 11u);
  const auto lines = Logged();
  auto logged = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
  };
  EXPECT_TRUE(logged("ImporterUnSon: Pointer past the end of the sound |Code: 00000042 |Station: 1 |Intro: 7000 ms "
                     "> 4000 ms |Removed"));
  EXPECT_TRUE(logged("|Station: 2 |Hook: 3000 + 2000 ms > 4000 ms |Duration changed from 2000 ms to 1000 ms"));
  EXPECT_FALSE(logged("|Station: 2 |Intro:"));
  for (const PointerFit& fit : r.changes) {
    if (fit.slot == data::kIntro) {
      EXPECT_EQ(DescribeFit(fit, 4000), "Intro (7000 ms) effacé: au-delà de la fin du son (4000 ms)");
    }
  }

  // Every pointer now obeys the rules: a second pass changes nothing, and a
  // pointer exactly at the end stays.
  Put(1, '7', 4000, 0);
  const PointerFitResult again = FitPointersToSound(*lib, kCode, 4000, "Test");
  EXPECT_TRUE(again.ok);
  EXPECT_TRUE(again.changes.empty());
  EXPECT_EQ(Get(1, '7'), "4000/0");
}

// A replaced sound's steps go on every station; the song's other pointers
// and another song's steps stay.
TEST_F(ImportedPointers, StepsSuppressionRemovesEveryStepOfTheSongOnly) {
  for (int station : {1, 2})
    for (const char* code : {kCode, "00000043"})
      for (int order : {1, 2}) {
        data::ptx::Record step;
        step.code = code;
        step.type = '3';
        step.order = order;
        step.position = 1000 * order;
        step.duration = 200;
        ASSERT_EQ(Insert(data::kPointers, station, data::ptx::Encode(step)), 0);
      }
  ASSERT_NE(Get(1, '3'), "none");
  EXPECT_TRUE(editor::StepsSuppression(*lib, kCode, "Test"));
  for (int station : {1, 2}) {
    EXPECT_EQ(Get(station, '3'), "none");
    EXPECT_EQ(Get(station, '2'), "3000/2000");
    long long pos = 0, sec = 0;
    EXPECT_TRUE(data::PtxChargerPointeur(*lib, station, "00000043", '3', pos, sec));
    EXPECT_EQ(pos, 1000);
  }
}

}  // namespace
}  // namespace sono::convert
