#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>

#include "core/text.h"
#include "data/ptx.h"
#include "library_fixture.h"

namespace sono::data {
using test::LibraryFixture;

namespace {
// Every record of FRAD031 on a station, in key order.
std::vector<std::string> AllPtx(PervasiveLayer& db, int station) {
  std::vector<std::string> out;
  std::string key = Library::Key(std::string(11, '\0'));
  BtrieveOptions quiet;
  quiet.silent = true;
  int st = db.BTRieve(0, 9, key, 0, kPointers, station, "T", quiet);
  while (st == 0) {
    out.push_back(db.record(kPointers));
    st = db.BTRieve(0, 6, key, 0, kPointers, station, "T", quiet);
  }
  return out;
}
// A record written out field by field: code, type, order, position, duration,
// complement (2), active flag (1), value (10), reserve (6).
std::string Rec(const std::string& code, const std::string& type, const std::string& position,
                const std::string& duration, const std::string& complement = "  ",
                const std::string& actif = " ", const std::string& valeur = "          ") {
  return code + type + "01" + position + duration + complement + actif + valeur + "      ";
}
}  // namespace

TEST(PtxRecord, FiftyCharactersByteForByte) {
  ptx::Record r;
  r.code = "JIN00001";
  r.type = '0';
  r.position = 1500;
  r.duration = 250;
  r.actif = "O";
  EXPECT_EQ(ptx::Encode(r), Rec("JIN00001", "0", "0000001500", "0000000250", "  ", "O"));
  const ptx::Record back = ptx::Decode(ptx::Encode(r));
  EXPECT_EQ(back.position, 1500);
  EXPECT_EQ(back.duration, 250);
  EXPECT_EQ(back.actif, "O");
  EXPECT_EQ(ptx::Key("ABC", '5', "00"), "ABC     500");
}

TEST_F(LibraryFixture, EverySlotIsStoredAsItsRecordOnEveryStation) {
  ASSERT_EQ(Insert(kSongs, 1, Song("00000042", "Titre", 200)), 0);
  ASSERT_EQ(Insert(kSongs, 2, Song("00000042", "Titre", 200)), 0);
  PointerSet set(*lib);
  set.soundDuration = 200000;
  set.lengthMeasured = true;
  set.RAZValeursPtx();
  struct Value { int column; long long value; };
  const Value values[] = {{1, 1200}, {2, 300},      {5, 190000}, {6, 4000}, {3, 15000},
                          {4, 191000}, {9, 60000},  {10, 8000},  {7, 45000}, {8, 10000},
                          {14, 120000}, {12, 975000}, {11, -350}, {13, 500}};
  for (const auto& v : values) {
    set.grid.setRaw(v.column, v.value);
    set.grid.markChanged(v.column, true);
  }
  set.grid.sendDevice = 3;
  std::vector<std::string> updates;
  set.onDurationsStored = [&](const std::string& code, std::optional<long long> play, long long intro, char end) {
    updates.push_back(fmt::format("{} {} {} [{}]", Trim(code), play.value_or(-1), intro, end));
    return true;
  };
  set.PointeurMemoriseDataBase("00000042", "", -1, true, false);
  const std::string z = "0000000000";
  const std::vector<std::string> expected = {
      Rec("00000042", "0", "0000001200", "0000000300", "  ", "O"),  // fade in, active
      Rec("00000042", "1", "0000190000", "0000004000"),               // fade out
      Rec("00000042", "2", "0000045000", "0000010000"),               // hook
      Rec("00000042", "4", "0000015000", z),                          // intro
      Rec("00000042", "5", "0000191000", z),                          // start next
      Rec("00000042", "6", "0000120000", z, "03"),                    // send, device 3
      Rec("00000042", "7", "0000000500", z),                          // start equi
      Rec("00000042", "8", "0000000350", z, "--"),                    // level -3.5 dB
      Rec("00000042", "9", "0000060000", "0000008000", "  ", " ", z), // loop with its value
      Rec("00000042", "D", "0000000250", z, "--"),                    // pitch -2.5 %
  };
  for (const auto& r : expected) ASSERT_EQ(r.size(), 50u);
  EXPECT_EQ(AllPtx(*layer, 1), expected);
  EXPECT_EQ(AllPtx(*layer, 2), expected);
  // Play time: from the fade-in end (1500) to start next (191000).
  EXPECT_EQ(updates, (std::vector<std::string>{"00000042 189500 13800 [ ]"}));
  EXPECT_FALSE(set.grid.changed(1));  // written back: the marks are cleared

  // And it all loads back.
  PointerSet loaded(*lib);
  loaded.Load(2, "00000042", 200000, true);
  EXPECT_EQ(loaded.position[kFadeIn], 1200);
  EXPECT_EQ(loaded.second[kFadeIn], 300);
  EXPECT_EQ(loaded.position[kPitch], 975000);
  EXPECT_FLOAT_EQ(loaded.level, -3.5f);
  EXPECT_EQ(loaded.grid.sendDevice, 3);
  EXPECT_EQ(loaded.position[kSend], 120000);
  EXPECT_EQ(loaded.position[kLoop], 60000);
  EXPECT_EQ(loaded.second[kLoop], 8000);
  EXPECT_EQ(loaded.grid.cell(1, 12), "0.975");
  EXPECT_EQ(loaded.grid.cell(1, 11), "-3.50 dB");
  EXPECT_EQ(loaded.grid.cell(1, 3), "00:15.000");
}

TEST_F(LibraryFixture, PitchAndLevelEncodings) {
  PtxSauvegarderPointeurPitch(*lib, 1, "P1", 1020000);
  PtxSauvegarderPointeurLevel(*lib, 1, "P1", 0.0f);
  long long pitch = 0;
  float level = 1;
  ASSERT_TRUE(PtxChargerPointeurPitch(*lib, 1, "P1", pitch));
  EXPECT_EQ(pitch, 1020000);
  ASSERT_TRUE(PtxChargerPointeurLevel(*lib, 1, "P1", level));
  EXPECT_FLOAT_EQ(level, 0.0f);
  const auto all = AllPtx(*layer, 1);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], Rec("P1      ", "8", "0000000000", "0000000000", "++"));
  EXPECT_EQ(all[1], Rec("P1      ", "D", "0000000200", "0000000000", "++"));
  EXPECT_FALSE(PtxChargerPointeurPitch(*lib, 1, "P2", pitch));
  EXPECT_EQ(pitch, kPitchNeutral);
  int device = 9;
  long long position = 9;
  EXPECT_FALSE(PtxChargerPointeurSend(*lib, 1, "P1", device, position));
  EXPECT_EQ(device, -1);
  EXPECT_EQ(position, 0);
}

TEST_F(LibraryFixture, StoringRulesNeutralValuesAndTheStartNextGuard) {
  PointerSet set(*lib);
  set.soundDuration = 100000;
  set.RAZValeursPtx();
  set.grid.setRaw(3, 24);  // intro at 24 ms: stored as nothing
  set.grid.markChanged(3, true);
  set.grid.setRaw(5, 50000);  // fade out 50000 + 1000: start next at 52000 is pulled back
  set.grid.setRaw(6, 1000);
  set.grid.markChanged(5, true);
  set.grid.setRaw(4, 52000);
  set.grid.markChanged(4, true);
  set.PointeurMemoriseDataBase("C1", "", -1, true, false);  // pitch and level stay neutral
  auto all = AllPtx(*layer, 1);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], Rec("C1      ", "1", "0000050000", "0000001000"));
  EXPECT_EQ(all[1], Rec("C1      ", "5", "0000050000", "0000000000"));

  set.grid.setRaw(3, 25);
  set.grid.markChanged(3, true);
  set.grid.setRaw(4, 51000);  // exactly fade out + duration: kept on store
  set.grid.markChanged(4, true);
  set.PointeurMemoriseDataBase("C1", "", kIntro, true, false);  // only the intro is visited
  set.PointeurMemoriseDataBase("C1", "", kStartNext, true, false);
  all = AllPtx(*layer, 1);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1], Rec("C1      ", "4", "0000000025", "0000000000"));
  EXPECT_EQ(all[2], Rec("C1      ", "5", "0000051000", "0000000000"));
}

TEST_F(LibraryFixture, CodesSharingAPrefixAndOtherTypesAreNeverTouched) {
  for (const char* code : {"00000010", "00000011", "0000001"}) {
    PtxSauvegarderPointeur(*lib, 1, code, '1', 1000, 10, -1, 0, true);
    PtxSauvegarderPointeur(*lib, 1, code, '0', 500, 0, -1, 0, true);
    PtxSauvegarderPointeur(*lib, 1, code, '2', 700, 0, -1, 0, true);
  }
  PtxDetruirePointeur(*lib, 1, "0000001", 1);
  const auto all = AllPtx(*layer, 1);
  ASSERT_EQ(all.size(), 8u);
  for (const auto& r : all)
    EXPECT_FALSE(r.substr(0, 9) == "0000001 1") << r;
}

TEST_F(LibraryFixture, CoherenceOnLoadWithItsLogLines) {
  LoadedPointers p = MorceauChargerPointeur(*lib, 1, "00000001", 180000);
  EXPECT_EQ(p.fadeOut, 180000 - 96);
  EXPECT_EQ(p.startNext, 180000 - 96);
  EXPECT_EQ(p.fadeIn, 0);
  EXPECT_EQ(p.pitch, kPitchNeutral);
  EXPECT_EQ(p.sendDevice, -1);
  EXPECT_EQ(p.playEnd, 180000 - 96);
  EXPECT_EQ(MorceauChargerPointeur(*lib, 1, "PRE00001", 180000).startNext, 0);
  EXPECT_EQ(MorceauChargerPointeur(*lib, 1, "EXT00001", 180000).startNext, 0);

  long long fadeIn = 0, fadeInDur = 0, startNext = 101000, fadeOut = 100000, fadeOutDur = 0;
  PtxChargerPointeurVerifierCoherence(log, "C", 200000, fadeIn, fadeInDur, startNext, fadeOut, fadeOutDur);
  EXPECT_EQ(startNext, 101000);  // no fade duration: start next stays
  fadeOutDur = 1;
  startNext = 100001;
  PtxChargerPointeurVerifierCoherence(log, "C", 200000, fadeIn, fadeInDur, startNext, fadeOut, fadeOutDur);
  EXPECT_EQ(startNext, 100000);
  EXPECT_EQ(Logged().back(),
            "C:      StartNextPosition >= FadeOutPosition + FadeOutDuration: 100001 ms >= 100000 "
            "+ 1 ms |Changed from 100001 ms to 100000 ms");

  fadeOut = 199000;
  fadeOutDur = 2000;
  PtxChargerPointeurVerifierCoherence(log, "C", 200000, fadeIn, fadeInDur, startNext, fadeOut, fadeOutDur);
  EXPECT_EQ(fadeOut, 197904);
  EXPECT_EQ(Logged()[Logged().size() - 1],
            "C:      FadeOutPosition > SoundDuration - FadeOutDuration - DeltaFadeSecurite: 199000 "
            "ms > 200000 - 2000 - 96 ms |Changed from 199000 ms to 197904 ms");

  fadeIn = 198000;
  fadeInDur = 500;
  PtxChargerPointeurVerifierCoherence(log, "C", 200000, fadeIn, fadeInDur, startNext, fadeOut, fadeOutDur);
  EXPECT_EQ(fadeIn, 0);
  EXPECT_EQ(fadeInDur, 0);
  EXPECT_EQ(Logged().back(),
            "C:      FadeInPosition: Too close with PlayDuration |Changed from 198000 ms to 0 ms");
}

TEST(PlayDuration, EndRulesAndTheFadeIn) {
  EXPECT_EQ(DeterminePlayDurationCheckPtx(180000, 175000, 170000, 0, 0), 175000);
  EXPECT_EQ(DeterminePlayDurationCheckPtx(180000, 0, 170000, 0, 0), 170000);
  EXPECT_EQ(DeterminePlayDurationCheckPtx(180000, 180000, 190000, 0, 0), 180000);
  EXPECT_EQ(DeterminePlayDurationCheckPtx(180000, 175000, 0, 1000, 500), 173500);
  EXPECT_EQ(DeterminePlayDurationCheckPtx(1000, 0, 0, 2000, 0), 0);
  EXPECT_DOUBLE_EQ(EnergieCoefCorrectionLevel(10), 1.33);
  EXPECT_DOUBLE_EQ(EnergieCoefCorrectionLevel(-40), 0.01);
  EXPECT_EQ(DetermineTypeDeFin(0), ' ');
  EXPECT_EQ(DetermineTypeDeFin(2), 'E');
  EXPECT_EQ(DetermineTypeDeFin(3), 'D');
}

TEST_F(LibraryFixture, ValueRulesWhenASlotIsMemorised) {
  PointerSet set(*lib);
  set.soundDuration = 100000;
  set.lengthMeasured = true;
  set.RAZValeursPtx();
  set.PointeurMemoriseDansTableur(kFadeOut, 90000, 2000);
  set.PointeurMemoriseDansTableur(kFadeIn, 89000, 3000);  // would run into the fade-out
  EXPECT_EQ(set.position[kFadeIn], 87000);
  set.PointeurMemoriseDansTableur(kFadeOut, 88000, 2000);  // before the fade-in's end
  EXPECT_EQ(set.position[kFadeOut], 90000);
  set.PointeurMemoriseDansTableur(kHook, 99000, 5000);  // past the end less 48 ms
  EXPECT_EQ(set.position[kHook], 100000 - 5000 - 48);
  set.PointeurMemoriseDansTableur(kIntro, 5000, 777);  // single-valued: no second value
  EXPECT_EQ(set.second[kIntro], 0);
  set.PointeurMemoriseDansTableur(kLoop, -5, -3);
  EXPECT_EQ(set.position[kLoop], 0);
  EXPECT_EQ(set.second[kLoop], 0);
  EXPECT_EQ(set.grid.cell(2, 7), std::to_string(100000 - 5000 - 48));
  // Without the sound's length there is no end to keep a margin from: the
  // record's duration only stands in for the scale.
  set.lengthMeasured = false;
  set.PointeurMemoriseDansTableur(kHook, 99000, 5000);
  EXPECT_EQ(set.position[kHook], 99000);
  EXPECT_FALSE(set.PlayDurationToStore());
}

TEST(ValueRanges, EveryKindOfValueAtItsLimits) {
  const SoundLength sound{29000, true}, none{243000, false};
  // Times end at the sound's end, position and second value together.
  EXPECT_EQ(CheckPointerValue(kFadeOut, 29000, 0, sound), "");
  EXPECT_EQ(CheckPointerValue(kFadeOut, 27000, 2000, sound), "");
  EXPECT_EQ(CheckPointerValue(kFadeOut, 99999999, 0, sound),
            "Fade Out : 99999999 ms au-delà de la fin du son (29000 ms).");
  EXPECT_EQ(CheckPointerValue(kFadeOut, 27000, 2001, sound),
            "Fade Out (27000 + 2001 ms) : 29001 ms au-delà de la fin du son (29000 ms).");
  EXPECT_EQ(CheckPointerValue(kHook, -1, 0, sound),
            "Hook : -1 ms refusé (une position ou une durée ne peut pas être négative).");
  EXPECT_NE(CheckPointerValue(kLoop, 1000, -1, sound), "");
  EXPECT_EQ(CheckPointerValue(kIntro, 1000, 99999999, sound), "");  // a single value has no second one
  // Without a sound: up to the longest duration a song record holds.
  EXPECT_EQ(CheckPointerValue(kStartNext, 500000, 0, none), "");
  EXPECT_EQ(CheckPointerValue(kStartNext, 999999000, 0, none), "");
  EXPECT_NE(CheckPointerValue(kStartNext, 999999001, 0, none), "");
  EXPECT_NE(CheckPointerValue(kFadeIn, 12345678901.0, 0, none), "");  // more than the 10 digits
  // Pitch within -20 % .. +20 %, level within -30 dB .. +30 dB.
  EXPECT_EQ(CheckPointerValue(kPitch, kPitchMin, 0, sound), "");
  EXPECT_EQ(CheckPointerValue(kPitch, kPitchMax, 0, sound), "");
  EXPECT_EQ(CheckPointerValue(kPitch, 0, 0, sound), "Pitch : -100.00 % hors limites (de -20 % à +20 %).");
  EXPECT_NE(CheckPointerValue(kPitch, kPitchMax + 1, 0, sound), "");
  EXPECT_EQ(CheckPointerValue(kLevel, -3000, 0, sound), "");
  EXPECT_EQ(CheckPointerValue(kLevel, 2147483600, 0, sound),
            "Level : +21474836.00 dB hors limites (de -30 dB à +30 dB).");
  EXPECT_NE(CheckPointerValue(kLevel, 1e308 * 100, 0, sound), "");  // infinite
  EXPECT_NE(CheckPointerValue(kFadeIn, std::nan(""), 0, sound), "");
  // The send device: two digits, or none.
  EXPECT_EQ(CheckSendDevice(-1), "");
  EXPECT_EQ(CheckSendDevice(99), "");
  EXPECT_NE(CheckSendDevice(100), "");
  EXPECT_NE(CheckSendDevice(1.5), "");
}

TEST_F(LibraryFixture, ARefusedEntryChangesNothing) {
  PointerSet set(*lib);
  set.RAZValeursPtx();
  set.soundDuration = 29000;
  set.lengthMeasured = true;
  EXPECT_NE(set.MemoriseUserValue(kFadeOut, 99999999, 0), "");
  EXPECT_NE(set.MemoriseUserValue(kSend, 1000, 0, 100), "");
  EXPECT_FALSE(set.pointersChanged);
  EXPECT_EQ(set.grid.cell(2, 5), "0");
  EXPECT_EQ(set.grid.cell(3, 5), "");
  EXPECT_EQ(set.grid.sendDevice, -1);
  // An accepted entry goes through the rules and is marked.
  EXPECT_EQ(set.MemoriseUserValue(kFadeOut, 29000, 0), "");
  EXPECT_EQ(set.grid.cell(2, 5), std::to_string(29000 - 48));
  EXPECT_TRUE(set.grid.changed(5));
  EXPECT_TRUE(set.pointersChanged);
}

}  // namespace sono::data
