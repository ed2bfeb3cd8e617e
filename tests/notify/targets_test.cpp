// The target table: its keys, what makes a row and a port count, what the
// window refuses, and an atomic save that keeps the rest of the settings file.
#include <gtest/gtest.h>

#include "core/ini.h"
#include "notify/udp_targets.h"
#include "test_support.h"

namespace sono::notify {
namespace {

using sono::test::ReadFile;
using sono::test::TempDir;
using sono::test::WriteFile;

TEST(UdpTargetsTest, KeysAreNamedByFieldAndTwoDigitRow) {
  EXPECT_EQ(UdpTargets::KeyName(TargetField::Ip, 0), "IP_00");
  EXPECT_EQ(UdpTargets::KeyName(TargetField::PortA, 7), "PortA_07");
  EXPECT_EQ(UdpTargets::KeyName(TargetField::PortD, 3), "PortD_03");
  const auto parsed = UdpTargets::ParseKey("portc_05");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->first, TargetField::PortC);
  EXPECT_EQ(parsed->second, 5);
  EXPECT_FALSE(UdpTargets::ParseKey("IP_08"));
  EXPECT_FALSE(UdpTargets::ParseKey("IP_0"));
}

TEST(UdpTargetsTest, RowsAndPortsCountOnlyAsTheSenderReadsThem) {
  UdpTargets t;
  EXPECT_FALSE(t.UdpActive());
  t.rows[2].ip = "   ";
  EXPECT_FALSE(t.UdpActive()) << "a blank IP disables the row";
  t.rows[2].ip = " 10.1.2.3 ";
  EXPECT_TRUE(t.UdpActive());
  EXPECT_EQ(t.rows[2].host(), "10.1.2.3");
  // An IP with Port A empty or 0 is active (notifications are queued) but unused.
  EXPECT_FALSE(t.rows[2].used());
  t.rows[2].ports = {"0", "5000", "5001", ""};
  EXPECT_FALSE(t.rows[2].used());
  t.rows[2].ports = {"4000", "", "abc", "-3"};
  EXPECT_TRUE(t.rows[2].used());
  EXPECT_EQ(t.rows[2].port(0), 4000);
  EXPECT_FALSE(t.rows[2].port(1));
  EXPECT_FALSE(t.rows[2].port(2)) << "not a number";
  EXPECT_FALSE(t.rows[2].port(3)) << "not greater than 0";
}

TEST(UdpTargetsTest, RefusedValuesKeepTheOldOne) {
  UdpTargets t;
  EXPECT_EQ(t.SetValue(TargetField::Ip, 1, " studio-2 "), "");
  EXPECT_EQ(t.value(TargetField::Ip, 1), "studio-2");
  EXPECT_NE(t.SetValue(TargetField::Ip, 1, "bad host"), "");
  EXPECT_NE(t.SetValue(TargetField::Ip, 1, std::string(256, 'a')), "");
  EXPECT_EQ(t.value(TargetField::Ip, 1), "studio-2");
  EXPECT_EQ(t.SetValue(TargetField::PortB, 1, "65535"), "");
  for (const char* bad : {"65536", "-1", "12a", "1.5"}) EXPECT_NE(t.SetValue(TargetField::PortB, 1, bad), "") << bad;
  EXPECT_EQ(t.value(TargetField::PortB, 1), "65535");
  EXPECT_EQ(t.SetValue(TargetField::PortB, 1, ""), "") << "an empty port is allowed";
  EXPECT_NE(t.SetValue(TargetField::PortA, 8, "1"), "");
}

TEST(UdpTargetsTest, SaveWritesEveryKeyAndKeepsTheOtherSections) {
  TempDir dir;
  const std::string file = dir / "Settings/Vexa_Library/Vexa_Library.Ini";
  WriteFile(file, "[Filtres]\r\nSons=0\r\n[UDP]\r\nIP_00=old\r\n");
  UdpTargets t;
  t.InitSettingsUDP(file);
  EXPECT_EQ(t.value(TargetField::Ip, 0), "old");
  EXPECT_EQ(t.value(TargetField::PortA, 0), "") << "a missing key reads empty";
  ASSERT_EQ(t.SetValue(TargetField::Ip, 0, "127.0.0.1"), "");
  ASSERT_EQ(t.SetValue(TargetField::PortA, 0, "7000"), "");
  ASSERT_EQ(t.SetValue(TargetField::PortD, 7, "7003"), "");
  std::string error;
  ASSERT_TRUE(t.SaveSettingsUDP(file, &error)) << error;
  const std::string saved = ReadFile(file);
  EXPECT_EQ(saved.rfind("[Filtres]\r\nSons=0\r\n", 0), 0u) << saved;
  EXPECT_EQ(LectureIni(file, "UDP", "IP_00", "?"), "127.0.0.1");
  EXPECT_EQ(LectureIni(file, "UDP", "PortA_00", "?"), "7000");
  EXPECT_EQ(LectureIni(file, "UDP", "PortD_07", "?"), "7003");
  EXPECT_EQ(LectureIni(file, "UDP", "PortB_04", "?"), "") << "every key is written, empty ones too";
  UdpTargets back;
  back.InitSettingsUDP(file);
  EXPECT_EQ(back.value(TargetField::PortD, 7), "7003");

  // A full disk: the save fails and the previous file stays whole.
  ASSERT_EQ(t.SetValue(TargetField::Ip, 3, std::string(200, 'h')), "");
  {
    sono::test::FileSizeLimit limit(64);
    EXPECT_FALSE(t.SaveSettingsUDP(file, &error));
  }
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(file), saved);
}

}  // namespace
}  // namespace sono::notify
