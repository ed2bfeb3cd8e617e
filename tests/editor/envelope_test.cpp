// EnergieLit end to end: creation from sound files, the cached file, the log,
// the settings, and the sound and envelope files that go wrong.
#include "editor/envelope.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "audio/codec/house_writer.h"
#include "core/config.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "editor/gpx_format.h"
#include "editor_test_support.h"
#include "log_lines.h"

namespace sono::editor {
namespace {

using test::LevelWords;
using test::MpegFrames;
using test::TempDir;

// A meter that answers a chosen duration, to drive the frame-length choice.
class FixedMeter : public SoundDurationMeter {
 public:
  explicit FixedMeter(int ms, bool loads = true) : ms_(ms), loads_(loads) {}
  bool LoadSoundFast(const std::string&) override { ++loads; return loads_; }
  int GetSoundDuration() override { return ms_; }
  void CloseSound() override { ++closes; }
  int loads = 0, closes = 0;

 private:
  int ms_;
  bool loads_;
};

bool Logged(const TraceLogger& log, const std::string& prefix) { return test::LoggedContaining(log, prefix, true); }

// Words that sweep the whole range, so neighbouring frames differ.
LevelWords Ramp(long long k) {
  return {static_cast<unsigned>(k * 2621 % 65536), static_cast<unsigned>(k * 1311 % 65536)};
}
// The value of frame k as read back (0 shows as 1).
uint8_t Shown(long long k) {
  const uint8_t v = EnergyValue(Ramp(k).a, Ramp(k).b);
  return v == 0 ? 1 : v;
}

class EnvelopeTest : public ::testing::Test {
 protected:
  EnvelopeTest() { log.setSetupLoaded(true); }
  std::string sound(const std::string& name, const std::string& bytes) {
    const std::string p = dir / name;
    test::WriteFile(p, bytes);
    return p;
  }
  TempDir dir;
  ManualClock clock;
  TraceLogger log{clock};
  MpegScanDurationMeter meter;
  int count = -1;
  std::vector<uint8_t> values;
};

TEST_F(EnvelopeTest, SixtySecondsAt256CreateOneRecordAndLogEveryStep) {
  const std::string s = sound("SONG0001.s48", MpegFrames(2500, 256, Ramp));
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, s, 60000, values, "Lib_ES:InitSoundFile");
  ASSERT_EQ(count, 2500);
  ASSERT_EQ(values.size(), 2501u);
  for (long long k = 0; k < 2500; ++k) ASSERT_EQ(values[static_cast<size_t>(k + 1)], Shown(k)) << k;
  const std::string gpx = test::ReadFile(dir / "SONG0001.gpx");
  ASSERT_EQ(gpx.size(), 4096u);
  EXPECT_EQ(gpx.substr(0, 30), "0000060000" "0000002500" "0000002500");
  EXPECT_EQ(static_cast<uint8_t>(gpx[30 + 1]), EnergyValue(2621, 1311));
  EXPECT_EQ(EnergyValue(2621, 1311), 3);
  EXPECT_EQ(static_cast<uint8_t>(gpx[30]), 0);  // the file keeps the 0; memory shows 1
  EXPECT_EQ(values[1], 1);
  const std::vector<std::string> expected = {
      "======================:",
      "EnergieLit: Start |Sub: Lib_ES:InitSoundFile |SoundFile: " + s,
      "Create Gpx Start: " + dir / "SONG0001.gpx" + " Sub: Lib_ES:InitSoundFile",
      "EnergieLit: Avant LoadSoundFast: NomFichierSon: " + s,
      "EnergieLit: Après LoadSoundFast",
      "EnergieLit: Avant GetSoundDuration",
      "EnergieLit: Après GetSoundDuration: Duration: 60000 ms",
      "EnergieLit: Avant CloseSound",
      "EnergieLit: Après CloseSound",
      "Create Gpx End",
      "EnergieLit: End |Sub: Lib_ES:InitSoundFile",
      "====================:"};
  EXPECT_EQ(test::LogMessages(log), expected);
  // Written under a temporary name and renamed: nothing else is left.
  auto entries = test::FolderEntries(dir.path());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"SONG0001.gpx", "SONG0001.s48"}));
}

TEST_F(EnvelopeTest, FourThousandAndOneFramesGiveRecordsOf4000And1) {
  const std::string s = sound("a.s48", MpegFrames(4001, 256, [](long long k) {
    return LevelWords{k == 4000 ? 65535u : 0u, k == 4000 ? 65535u : 0u};
  }));
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, s, 96024, values, "T");
  EXPECT_EQ(count, 4001);
  EXPECT_EQ(values[4001], 100);
  // The file's layout is the format's (checked byte by byte with the format).
  std::vector<uint8_t> stored(4001, 0);
  stored[4000] = 100;
  EXPECT_EQ(test::ReadFile(dir / "a.gpx"), BuildGpx(96024, stored));
}

TEST_F(EnvelopeTest, FrameLengthFollowsTheMeasuredDuration) {
  // 192 kbit/s: 2500 frames of 576 bytes = 60000 ms = 1,440,000 bytes.
  const std::string s192 = sound("b192.s48", MpegFrames(2500, 192, Ramp));
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, s192, 60000, values, "T");
  EXPECT_EQ(reader.report().frameBytes, 576);
  EXPECT_EQ(count, 2500);
  EXPECT_EQ(values[2], Shown(1));
  EXPECT_EQ(values[2500], Shown(2499));
  // A player reporting a duration that fits neither rate: 768-byte frames,
  // n = round(1,440,000 / 768) = 1875.
  const std::string other = sound("c.s48", MpegFrames(2500, 192, Ramp));
  FixedMeter odd(45000);
  EnvelopeReader reader2(log, odd);
  reader2.EnergieLit(count, other, 45000, values, "T");
  EXPECT_EQ(reader2.report().frameBytes, 768);
  EXPECT_EQ(count, 1875);
  EXPECT_EQ(odd.loads, 1);
  EXPECT_EQ(odd.closes, 1);
}

TEST_F(EnvelopeTest, HouseEncoderLevelsGiveTheEnvelope) {
  // 1 s of silence, 1 s at -20 dB, 1 s at -14 dB (twice the amplitude), as a
  // 1 kHz tone on both channels.
  std::vector<float> pcm(3 * 48000 * 2, 0.0f);
  for (size_t i = 48000; i < 3 * 48000; ++i) {
    const float amp = i < 2 * 48000 ? 0.1f : 0.2f;
    const float v = amp * static_cast<float>(std::sin(2 * 3.14159265358979 * 1000.0 * i / 48000.0));
    pcm[2 * i] = pcm[2 * i + 1] = v;
  }
  const std::string s = dir / "tone.s48";
  audio::HouseWriter w;
  ASSERT_TRUE(w.open(s));
  ASSERT_TRUE(w.writeFloat(pcm.data(), static_cast<int>(pcm.size() / 2)));
  ASSERT_TRUE(w.finish());
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, s, 3000, values, "T");
  ASSERT_GE(count, 125);  // 3 s of 24 ms frames
  // Frames well inside each second (the encoder's delay blurs the edges).
  for (int k = 5; k < 35; ++k) EXPECT_EQ(values[static_cast<size_t>(k)], 1) << k;  // silence shows as 1
  for (int k = 50; k < 75; ++k) EXPECT_EQ(values[static_cast<size_t>(k)], 5) << k;
  for (int k = 92; k < 120; ++k) EXPECT_EQ(values[static_cast<size_t>(k)], 10) << k;
  // In the file the silent frames stay 0.
  EXPECT_EQ(test::ReadFile(dir / "tone.gpx")[30 + 10], '\0');
}

TEST_F(EnvelopeTest, AnExistingEnvelopeIsReadNotRebuilt) {
  const std::string s = sound("d.s48", MpegFrames(10, 256, Ramp));
  const std::vector<uint8_t> stored = {9, 8, 7, 6, 5, 4, 3, 2, 1, 9};
  test::WriteFile(dir / "d.gpx", BuildGpx(240, stored));  // made for this sound, after it
  FixedMeter m(240);
  EnvelopeReader reader(log, m);
  reader.EnergieLit(count, s, 240, values, "T");
  EXPECT_EQ(count, 10);
  EXPECT_EQ(values, (std::vector<uint8_t>{0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 9}));
  EXPECT_EQ(m.loads, 0);  // the caller's measured length serves
  EXPECT_FALSE(Logged(log, "Create Gpx Start"));
  EXPECT_FALSE(Logged(log, "Err: Gpx rebuilt"));
}

TEST_F(EnvelopeTest, EnvelopesOffGiveOneElementAndTouchNothing) {
  const std::string s = sound("e.s48", MpegFrames(10, 256, Ramp));
  EnvelopeSettings off;
  off.envelopesOff = true;
  EnvelopeReader reader(log, meter, off);
  reader.EnergieLit(count, s, 240, values, "T");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(values, std::vector<uint8_t>{0});
  EXPECT_FALSE(test::Exists(dir / "e.gpx"));
  EXPECT_TRUE(log.fileBuffer().empty());
  // An empty name does nothing either.
  EnvelopeReader on(log, meter);
  count = 7;
  on.EnergieLit(count, "", 0, values, "T");
  EXPECT_EQ(count, 7);
  EXPECT_TRUE(log.fileBuffer().empty());
}

TEST_F(EnvelopeTest, ASoundThatIsNotMpegGivesNoEnvelope) {
  const std::string s = sound("f.s48", std::string(10000, 'R'));
  EnvelopeReader reader(log, meter);
  count = 0;
  reader.EnergieLit(count, s, 5000, values, "T");
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(test::Exists(dir / "f.gpx"));
  EXPECT_TRUE(Logged(log, "Err: LoadSoundFast |File: " + s));
  EXPECT_TRUE(Logged(log, "EnergieLit: End |Sub: T"));
  // A missing sound likewise.
  reader.EnergieLit(count, dir / "missing.s48", 5000, values, "T");
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(test::Exists(dir / "missing.gpx"));
}

// A .gpx that does not fit its sound is built again from the sound, never
// shown as it is: each way of not fitting, with its log line.
TEST_F(EnvelopeTest, DamagedOrStaleEnvelopesAreRebuilt) {
  const std::string s = sound("g.s48", MpegFrames(4001 * 2, 256, Ramp));  // 8002 frames: 3 records
  const std::string gpx = dir / "g.gpx";
  const auto loggedSince = [&](size_t from, const std::string& prefix) {
    const auto m = test::LogMessages(log);
    return std::any_of(m.begin() + static_cast<long>(from), m.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  };
  const auto rebuiltFor = [&](const std::string& why) {
    const size_t from = log.fileBuffer().size();
    count = -1;
    EnvelopeReader reader(log, meter);
    reader.EnergieLit(count, s, 8002 * 24, values, "T");
    EXPECT_TRUE(loggedSince(from, "Err: Gpx rebuilt: " + why + " |File: " + gpx)) << why;
    EXPECT_EQ(count, 8002) << why;
    EXPECT_EQ(values[1], Shown(0)) << why;
    EXPECT_EQ(values[8002], Shown(8001)) << why;
    const GpxContent file = ParseGpx(test::ReadFile(gpx));  // what was read is what is on disk now
    EXPECT_TRUE(file.whole) << why;
    EXPECT_EQ(file.values, values) << why;
  };
  std::vector<uint8_t> fifty(8002, 50);
  const std::string good = BuildGpx(8002 * 24, fifty);
  // Garbage, a record zeroed inside, a file cut short: the size or the records.
  test::WriteFile(gpx, std::string(good.size(), '#'));
  rebuiltFor("damaged records");
  std::string zeroed = good;
  std::fill(zeroed.begin() + 4096, zeroed.begin() + 8192, '\0');
  test::WriteFile(gpx, zeroed);
  rebuiltFor("damaged records");
  test::WriteFile(gpx, good.substr(0, 8192));
  rebuiltFor("size 8192 bytes for 8002 values");
  // Made for a sound of another length (a whole file of 3 values).
  test::WriteFile(gpx, BuildGpx(72, {50, 50, 50}));
  rebuiltFor("size 4096 bytes for 8002 values");
  std::string otherTotal = BuildGpx(8002 * 24, std::vector<uint8_t>(8001, 50));
  test::WriteFile(gpx, otherTotal);
  rebuiltFor("8001 values for 8002 frames");
  // Older than the sound (the sound was replaced since).
  test::WriteFile(gpx, good);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, gpx.c_str(), times, 0), 0);
  rebuiltFor("older than the sound");
  // An absurd size is refused before anything is read (a 4 GB hole).
  ASSERT_EQ(truncate(gpx.c_str(), 4LL << 30), 0);
  rebuiltFor("size 4294967296 bytes for 8002 values");
  // Every record whole and in its place: read as it is.
  test::WriteFile(gpx, good);
  const size_t from = log.fileBuffer().size();
  EnvelopeReader reader(log, meter);
  reader.EnergieLit(count, s, 8002 * 24, values, "T");
  EXPECT_FALSE(loggedSince(from, "Err: Gpx rebuilt"));
  EXPECT_EQ(values[8002], 50);
  // A file that does not fit a sound no longer readable is not shown either.
  test::WriteFile(s, std::string(5000, 'R'));
  test::WriteFile(gpx, zeroed);
  reader.EnergieLit(count, s, 0, values, "T");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(values.size(), 1u);
}

TEST_F(EnvelopeTest, AFailedWriteKeepsTheEnvelopeInMemoryAndLeavesNoFile) {
  const std::string s = sound("h.s48", MpegFrames(5000, 256, Ramp));
  EnvelopeReader reader(log, meter);
  {
    test::FileSizeLimit limit(2000);  // the 8192-byte envelope cannot be written
    reader.EnergieLit(count, s, 120000, values, "T");
  }
  EXPECT_EQ(count, 5000);
  ASSERT_EQ(values.size(), 5001u);
  EXPECT_EQ(values[1], 1);  // read back as from the file
  EXPECT_EQ(values[3], Shown(2));
  EXPECT_EQ(values[5000], Shown(4999));
  EXPECT_FALSE(reader.report().cached);
  EXPECT_TRUE(Logged(log, "Err: Gpx not cached"));
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"h.s48"});
}

// Runs `body` in a child process without root rights (permissions hold for
// root otherwise); the child's exit status is returned.
template <class Body>
int AsUnprivileged(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(200);
    _exit(body());
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 255;
}

TEST_F(EnvelopeTest, ASoundInAReadOnlyFolderIsNotCached) {
  const std::string folder = dir / "ro/";
  test::WriteFile(folder + "i.s48", MpegFrames(300, 256, Ramp));
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod((folder + "i.s48").c_str(), 0644), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  const int status = AsUnprivileged([&] {
    EnvelopeReader reader(log, meter);
    int n = 0;
    std::vector<uint8_t> v;
    reader.EnergieLit(n, folder + "i.s48", 7200, v, "T");
    int fails = 0;
    if (n != 300 || v.size() != 301 || v[2] != Shown(1)) fails |= 1;
    if (!Logged(log, "Err: Gpx not cached")) fails |= 2;
    if (reader.report().cached) fails |= 4;
    return fails;
  });
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::FolderEntries(folder), std::vector<std::string>{"i.s48"});
}

TEST_F(EnvelopeTest, VpnWorkstationsUseALocalCopy) {
  const std::string server = dir / "server/";
  const std::string local = dir / "local/";
  test::WriteFile(server + "j.s48", MpegFrames(10, 256, Ramp));
  const std::vector<uint8_t> stored = {40, 41, 42, 43, 44, 45, 46, 47, 48, 49};  // not what a build gives
  test::WriteFile(server + "j.gpx", BuildGpx(240, stored));
  std::vector<uint8_t> read = {0};
  read.insert(read.end(), stored.begin(), stored.end());
  ASSERT_EQ(mkdir(local.c_str(), 0755), 0);
  EnvelopeSettings vpn;
  vpn.vpnAccess = true;
  vpn.localSoundFolder = local.substr(0, local.size() - 1);  // the trailing "/" is added
  vpn.networkRoots = {server};
  EnvelopeReader reader(log, meter, vpn);
  reader.EnergieLit(count, server + "j.s48", 240, values, "Frm_Main:Sel");
  EXPECT_EQ(values, read);
  EXPECT_EQ(reader.report().gpxPath, local + "j.gpx");
  EXPECT_EQ(test::ReadFile(local + "j.gpx"), test::ReadFile(server + "j.gpx"));
  EXPECT_TRUE(Logged(log, "File_Copy: " + server + "j.gpx to " + local + "j.gpx"));
  EXPECT_TRUE(Logged(log, "File_Copy: Ok |Sub: Frm_Main:Sel"));

  // A sound whose server envelope is missing gets its envelope built locally.
  test::WriteFile(server + "k.s48", MpegFrames(10, 256, Ramp));
  reader.EnergieLit(count, server + "k.s48", 240, values, "T");
  EXPECT_EQ(count, 10);
  EXPECT_TRUE(test::Exists(local + "k.gpx"));
  EXPECT_FALSE(test::Exists(server + "k.gpx"));

  // A sound outside the network folders is not copied.
  test::WriteFile(dir / "here/l.s48", MpegFrames(10, 256, Ramp));
  reader.EnergieLit(count, dir / "here/l.s48", 240, values, "T");
  EXPECT_TRUE(test::Exists(dir / "here/l.gpx"));
  EXPECT_FALSE(test::Exists(local + "l.gpx"));

  // Without the local folder the server's envelope serves, and it is logged.
  reader.settings().localSoundFolder = dir / "nowhere";
  reader.EnergieLit(count, server + "j.s48", 240, values, "T");
  EXPECT_TRUE(Logged(log, "Err: Folder not found: " + dir / "nowhere/ |File: " + dir / "nowhere/j.gpx"));
  EXPECT_EQ(values, read);
  EXPECT_TRUE(reader.settings().isNetworkPath("\\\\srv\\sons\\x.s48"));
}

TEST_F(EnvelopeTest, SettingsComeFromTheSettingsFileAndTheSite) {
  const std::string drive = dir / "drives/c/";
  test::WriteFile(dir / "Settings/Vexa_Config.ini",
                  "[Site]\nNbBase=1\nDossier_Config_Global=C:\\Cfg\\\n"
                  "[Shares]\n\\\\srv\\sons=" + dir.path() + "srv-sons/\n");
  test::WriteFile(drive + "Cfg/Vexa_Systeme.ini",
                  "[Base_01]\nLib=FM\nActif=1\nDossier_Local=C:\\Local\\\n"
                  "[Base_01_Sounds_Folders]\nMus_01=1:C:\\Reseau\\\nJin_01=0:C:\\Ici\\\n");
  ScriptedPrompt prompt;
  ConfigEnvironment env;
  env.programFolder = dir.path();
  env.computerName = "poste";
  SiteConfig config(env, log, prompt);
  config.InitGeneralPath(true);
  config.InitGeneralSite();

  EnvelopeSettings d = LoadEnvelopeSettings(config);
  EXPECT_FALSE(d.envelopesOff);
  EXPECT_FALSE(d.vpnAccess);
  EXPECT_EQ(d.localSoundFolder, drive + "Local/Sons/");
  EXPECT_TRUE(d.isNetworkPath(drive + "Reseau/SONG0001.s48"));  // flagged "1:"
  EXPECT_FALSE(d.isNetworkPath(drive + "Ici/JIN00001.s48"));
  EXPECT_TRUE(d.isNetworkPath(dir / "srv-sons/x.s48"));        // a share by its UNC name
  EXPECT_TRUE(d.isNetworkPath(dir / "unc/autre/sons/x.s48"));  // an unmapped share

  ASSERT_TRUE(EcritureIni(config.settingsFile(), "Comportement", "AccesVPN", "1"));
  ASSERT_TRUE(EcritureIni(config.settingsFile(), "Comportement", "EnveloppesDesactivees", "1"));
  ASSERT_TRUE(EcritureIni(config.settingsFile(), "Comportement", "DossierSonLocal", "C:\\Copies"));
  EnvelopeSettings s = LoadEnvelopeSettings(config);
  EXPECT_TRUE(s.envelopesOff);
  EXPECT_TRUE(s.vpnAccess);
  EXPECT_EQ(s.localSoundFolder, drive + "Copies/");
}

}  // namespace
}  // namespace sono::editor
