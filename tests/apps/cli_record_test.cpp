// sonoteka-cli record on a demo site, from the virtual capture input: the
// take handed to the song, and the take that a kill leaves behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>
#include <tuple>

#include "audio_test_support.h"
#include "cli_site.h"
#include "audio/codec/mpeg_frames.h"
#include "core/text.h"

namespace sono::test {
namespace {

using Steady = std::chrono::steady_clock;

class CliRecord : public CliFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--sounds", "0"}));
  }
  std::vector<std::string> Argv(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {SONOTEKA_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--home");
    argv.push_back(home);
    return argv;
  }
  // What a command printed, errors too.
  std::string Run(const std::vector<std::string>& args, int& status) override {
    const ProcessResult r = RunCli(home, args);
    status = r.status;
    return r.out + r.err;
  }
  std::string SongShow(const std::string& code) { return Ok({"song", "show", code}); }
  std::string Field(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return {};
    return Trim(text.substr(at + label.size(), text.find('\n', at) - at - label.size()));
  }
  // A mono WAV: `parts` of (milliseconds, audible) one after the other.
  std::string Input(const std::string& name, const std::vector<std::pair<int, bool>>& parts) {
    std::vector<float> s;
    for (auto [ms, audible] : parts) {
      const std::vector<float> t = TestSignal(ms * 48, 48000, audible ? 0.3f : 0.0f);
      s.insert(s.end(), t.begin(), t.end());
    }
    const std::string path = dir / name;
    EXPECT_TRUE(WritePcmWav(path, s, 48000));
    return path;
  }
};

TEST_F(CliRecord, ALevelTakeFromSpeechBecomesTheSongsSound) {
  // A sentence with a pause, after 1.5 s of silence.
  const std::string spoken = dir / "spoken.wav";
  int status = -1;
  RunProgram({"espeak-ng", "-v", "fr", "-m", "-w", spoken,
              "Flash info. <break time=\"500ms\"/> Le trafic est fluide sur le périphérique."},
             &status);
  ASSERT_EQ(status, 0) << "espeak-ng is missing";
  std::vector<float> speech = DecodeAll(spoken);
  ASSERT_FALSE(speech.empty());
  // espeak-ng speaks at 22050 Hz: the virtual input converts it.
  std::vector<float> input(static_cast<size_t>(22050 * 3 / 2) * 2, 0.0f);
  input.insert(input.end(), speech.begin(), speech.end());
  const std::string in = dir / "in.wav";
  ASSERT_TRUE(WritePcmWav(in, input, 22050));
  const std::string sound = Field(SongShow("00000002"), "Fichier son:");
  ASSERT_FALSE(sound.empty());
  ASSERT_FALSE(Exists(sound));

  const std::string out = Run({"record", "00000002", "--device", "virtual:" + in, "--start", "level:-50dB:100ms",
                               "--stop", "silence:-50dB:1500ms", "--tail", "400", "--speed", "20"},
                              status);
  ASSERT_EQ(status, 0) << out;
  // The status changes in their order.
  size_t at = 0;
  for (const char* line : {"Prise en cours: ", "En attente du niveau: -50 dB pendant 100 ms",
                           "Enregistrement: niveau atteint à", "Enregistrement arrêté: silence", "Prise: ",
                           "Son importé: " }) {
    const size_t next = out.find(line, at);
    ASSERT_NE(next, std::string::npos) << line << "\n" << out;
    at = next;
  }
  // The song's sound: pre-roll, the whole sentence, the tail; no take left beside it.
  ASSERT_TRUE(Exists(sound));
  const std::vector<float> decoded = DecodeAll(sound);
  // The sentence from its first to its last sample above -50 dB, in seconds.
  const float threshold = std::pow(10.0f, -50 / 20.0f);
  size_t first = speech.size(), last = 0;
  for (size_t i = 0; i < speech.size(); ++i)
    if (std::fabs(speech[i]) >= threshold) first = std::min(first, i / 2), last = i / 2 + 1;
  const double sentence = static_cast<double>(last - first) / 22050;
  EXPECT_NEAR(static_cast<double>(decoded.size() / 2) / 48000, 0.5 + sentence + 0.4, 0.03);
  EXPECT_EQ(audio::ScanMpegFile(sound).damagedFrames, 0);
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(sound).parent_path()))
    EXPECT_EQ(e.path().string().find("_Prise_"), std::string::npos) << e.path();
  const long long ms = static_cast<long long>(decoded.size() / 2) * 1000 / 48000;
  EXPECT_EQ(std::stoll(Field(SongShow("00000002"), "Durée (s):")), (ms + 500) / 1000);
  // The closing update dates the song by its new sound file.
  struct stat st {};
  ASSERT_EQ(::stat(sound.c_str(), &st), 0);
  char stamp[20];
  struct tm local {};
  std::strftime(stamp, sizeof stamp, "%d/%m/%Y %H:%M:%S", localtime_r(&st.st_mtime, &local));
  EXPECT_NE(out.find(std::string("Date de modification: ") + stamp), std::string::npos) << out;
  const std::string log = Run({"log", "show"}, status);
  for (const char* line : {"Record file active for: ", "Recorder: RECORD_STATUS_RECORDING_FILE |Sub: sonoteka-cli:record",
                           "MAJDataFinRecordOuConvert: Start: SongId: 00000002 |SoundDuration: ",
                           "MAJDataFinRecordOuConvert: End: SongId: 00000002"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(CliRecord, AStartThatNeverCameLeavesTheSongAsItWasAndBadOptionsAreRefused) {
  const std::string silent = Input("silent.wav", {{3000, false}});
  int status = -1;
  std::string out = Run({"record", "00000002", "--device", "virtual:" + silent, "--start", "level:-50dB:0ms",
                         "--speed", "50"},
                        status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Aucun son enregistré: le niveau de déclenchement n'a pas été atteint"), std::string::npos) << out;
  const std::string sound = Field(SongShow("00000002"), "Fichier son:");
  EXPECT_FALSE(Exists(sound));
  EXPECT_TRUE(FolderEntries(std::filesystem::path(sound).parent_path().string()).empty());

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--stop", "silence:-50dB:2000ms"},  // "Dès que possible" never stops on silence
        {"--start", "level:-45dB:200ms"}, {"--start", "level:-50dB"}, {"--stop", "after:0"}, {"--stop", "later"}}) {
    std::vector<std::string> args = {"record", "00000002", "--device", "virtual:" + silent};
    args.insert(args.end(), bad.begin(), bad.end());
    out = Run(args, status);
    EXPECT_EQ(status, 2) << bad[1] << "\n" << out;
  }
  out = Run({"record", "99999999", "--device", "virtual:" + silent}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Morceau non trouvé: 99999999"), std::string::npos) << out;
}

TEST_F(CliRecord, AppendAddsTheTakeAfterTheSongsSound) {
  const std::string tone = Input("tone.wav", {{2000, true}});
  Ok({"record", "00000003", "--device", "virtual:" + tone, "--speed", "50"});
  Ok({"record", "00000003", "--device", "virtual:" + tone, "--speed", "50", "--stop", "after:1000", "--append"});
  const std::string sound = Field(SongShow("00000003"), "Fichier son:");
  // 2000 ms (84 frames, the last padded) then 1000 ms (42 frames).
  EXPECT_EQ(audio::ScanMpegFile(sound).frames, 84 + 42);
}

TEST_F(CliRecord, AFullDiskDuringATakeIsSaidAndLeavesTheSongAsItWasAndTheTakeWhole) {
  const std::string tone = Input("tone.wav", {{5000, true}});
  const std::string sound = Field(SongShow("00000002"), "Fichier son:");
  WriteHouse(sound, TestSignal(48000));
  const std::string before = ReadFile(sound);
  // The 40th write of the take stores half a frame, the next one finds the disk full.
  const std::string counts = dir / "counts";
  const ProcessResult r =
      RunProcess(Argv({"record", "00000002", "--device", "virtual:" + tone, "--speed", "50"}),
                 FaultEnvironment("write:40:short;write:41:fail:ENOSPC", "_Prise_", counts), 60000);
  EXPECT_GE(FaultCount(counts, "write"), 41);
  EXPECT_TRUE(r.exited(1)) << r.out << r.err;
  EXPECT_NE(r.err.find("Enregistrement interrompu: écriture de la prise impossible"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("le son du morceau est inchangé"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(sound), before);
  const std::string kept = "Prise gardée: ";
  const size_t at = r.out.find(kept);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string take = r.out.substr(at + kept.size(), r.out.find(" (", at) - at - kept.size());
  ASSERT_TRUE(Exists(take)) << r.out << r.err;
  EXPECT_EQ(std::filesystem::file_size(take) % 768, 0u);
  EXPECT_GE(std::filesystem::file_size(take), 39u * 768);
  EXPECT_EQ(audio::ScanMpegFile(take).damagedFrames, 0);
  EXPECT_NE(Ok({"log", "show"}).find("Err: Recorder: écriture de la prise impossible"), std::string::npos);
}

// A command started with its standard output on a pipe, read as it comes.
struct Spawned {
  pid_t pid = -1;
  int fd = -1;
  std::string out;
  explicit Spawned(const std::vector<std::string>& argv) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, p[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(p[1]);
    fd = p[0];
  }
  ~Spawned() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (fd >= 0) ::close(fd);
  }
  // Reads until `text` shows after `from`; false at the end of the output or after 60 s.
  bool WaitFor(const std::string& text, size_t from = 0) {
    const auto deadline = Steady::now() + std::chrono::seconds(60);
    while (out.find(text, from) == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (Steady::now() > deadline || ::poll(&p, 1, 100) < 0) return false;
      char buf[4096];
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) return false;
      out.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // The exit status once the output has ended (-1: did not exit by itself).
  int Finish() {
    WaitFor(std::string(1, '\0'));
    int st = 0;
    ::waitpid(pid, &st, 0);
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

// Starts the command, waits for the take to start, kills it `afterMs` later,
// or later still until the take on disk holds `minTakeBytes` (a busy machine
// encodes slower than the input's speed asks).
struct Killed {
  std::string out, take;
  double secondsRecording = 0;  // from the start line to the kill
  // The seconds the program said it had recorded ("Enregistré: N s") at least
  // one second before the kill: the take must hold them, however late a busy
  // machine let the input run.
  double saidASecondBefore = 0;
};

Killed RunAndKill(const std::vector<std::string>& argv, int afterMs, uintmax_t minTakeBytes = 0) {
  Killed k;
  Spawned cli(argv);
  if (cli.pid <= 0) return k;
  char buf[4096];
  Steady::time_point started{};
  std::vector<std::pair<Steady::time_point, double>> said;  // progress lines as they arrived
  size_t scanned = 0;
  bool running = false;
  const auto deadline = Steady::now() + std::chrono::seconds(60);
  while (Steady::now() < deadline) {
    const auto now = Steady::now();
    if (running && now >= started + std::chrono::milliseconds(afterMs)) {
      const size_t at = k.out.find("Prise en cours: ");
      std::error_code ec;
      if (minTakeBytes == 0 || at == std::string::npos) break;
      const std::string take = k.out.substr(at + 16, k.out.find('\n', at) - at - 16);
      if (std::filesystem::file_size(take, ec) >= minTakeBytes && !ec) break;
      ::usleep(20000);
      continue;
    }
    pollfd fd{cli.fd, POLLIN, 0};
    const int wait = running ? static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    started + std::chrono::milliseconds(afterMs) - now).count())
                             : 100;
    if (::poll(&fd, 1, std::max(wait, 0)) <= 0) continue;
    const ssize_t n = ::read(cli.fd, buf, sizeof buf);
    if (n <= 0) break;
    k.out.append(buf, static_cast<size_t>(n));
    for (size_t end; (end = k.out.find('\n', scanned)) != std::string::npos; scanned = end + 1) {
      const std::string line = k.out.substr(scanned, end - scanned);
      if (line.rfind("Enregistré: ", 0) == 0) said.emplace_back(Steady::now(), std::stod(line.substr(13)));
    }
    if (!running && k.out.find("Enregistrement\n") != std::string::npos) {
      running = true;
      started = Steady::now();
    }
  }
  ::kill(cli.pid, SIGKILL);
  const Steady::time_point killed = Steady::now();
  k.secondsRecording = std::chrono::duration<double>(killed - started).count();
  for (const auto& [when, seconds] : said)
    if (when <= killed - std::chrono::seconds(1)) k.saidASecondBefore = std::max(k.saidASecondBefore, seconds);
  ::waitpid(cli.pid, nullptr, 0);
  cli.pid = -1;
  const size_t at = k.out.find("Prise en cours: ");
  if (at != std::string::npos) k.take = k.out.substr(at + 16, k.out.find('\n', at) - at - 16);
  if (!running) k.secondsRecording = -1;
  return k;
}

TEST_F(CliRecord, AKilledRecordingLeavesATakeThatDecodesWithEverythingUpToASecondBeforeTheKill) {
  // A long audible input, read 20 times faster than real time (faster, a Debug
  // build's encoder on a busy machine falls behind the input). What must be in
  // the take is what the program said it had recorded a second before the
  // kill, not wall time times the speed: on a loaded machine the input itself
  // runs late.
  const std::string input = Input("long.wav", {{150000, true}});
  const std::string sound = Field(SongShow("00000001"), "Fichier son:");
  WriteHouse(sound, TestSignal(48000 * 3));
  const std::string before = ReadFile(sound);
  std::mt19937 random(24);
  std::uniform_int_distribution<int> moment(200, 2500);
  for (int run = 0; run < 22; ++run) {
    const bool longTake = run >= 20;  // over 90 s of take
    const int speed = 20;
    const int afterMs = longTake ? 4800 : moment(random);
    SCOPED_TRACE("run " + std::to_string(run) + ", killed " + std::to_string(afterMs) + " ms after the start");
    const Killed k = RunAndKill(Argv({"record", "00000001", "--device", "virtual:" + input, "--speed",
                                      std::to_string(speed)}),
                                afterMs, longTake ? static_cast<uintmax_t>(92.0 / 0.024) * 768 : 0);
    ASSERT_GE(k.secondsRecording, 0) << k.out;
    ASSERT_FALSE(k.take.empty()) << k.out;
    // Whole frames that FFmpeg decodes without a word of complaint.
    const ProcessResult ff = RunProcess({"ffmpeg", "-v", "error", "-i", k.take, "-f", "null", "-"});
    EXPECT_TRUE(ff.exited(0)) << ff.err;
    EXPECT_EQ(ff.err, "");
    EXPECT_EQ(std::filesystem::file_size(k.take) % 768, 0u);
    EXPECT_EQ(audio::ScanMpegFile(k.take).damagedFrames, 0);
    // What the input gave up to one second before the kill is in the take.
    const double held = static_cast<double>(audio::ScanMpegFile(k.take).frames) * 0.024;
    EXPECT_GE(held, k.saidASecondBefore - 0.05);  // the line's 0.1 s rounding
    if (longTake) {
      EXPECT_GT(held, 90.0);
    }
    // The song's sound is as it was.
    EXPECT_EQ(ReadFile(sound), before);
    std::filesystem::remove(k.take);
  }
}

// SIGUSR1 pauses a take and the next one resumes it (the Enter key does the
// same on a terminal), on the plain path and on the boards' record pipe:
// what the input gave meanwhile is left out, the rest is handed over.
TEST_F(CliRecord, SigUsr1PausesAndResumesATakeOnBothPaths) {
  int status = -1;
  Ok({"setup", "set", "Recorder_PCXTools_OverWrite", "Condition", "1"});
  const std::string input = Input("tone.wav", {{8000, true}});
  for (const bool board : {false, true}) {
    SCOPED_TRACE(board ? "board" : "plain");
    std::vector<std::string> args{"record", "00000002", "--device", "virtual:" + input, "--speed", "2"};
    if (board) args.insert(args.begin() + 2, "--board");
    Spawned cli(Argv(args));
    ASSERT_GT(cli.pid, 0);
    ASSERT_TRUE(cli.WaitFor("kill -USR1 " + std::to_string(cli.pid))) << cli.out;
    ASSERT_TRUE(cli.WaitFor("Enregistré: ")) << cli.out;
    size_t at = cli.out.size();
    ::kill(cli.pid, SIGUSR1);
    ASSERT_TRUE(cli.WaitFor("Pause\n", at)) << cli.out;
    at = cli.out.size();
    // About 1.6 s of the input (0.8 s at twice the speed) goes by paused.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ::kill(cli.pid, SIGUSR1);
    ASSERT_TRUE(cli.WaitFor(board ? "Enregistrement\n" : "Reprise\n", at)) << cli.out;
    ASSERT_EQ(cli.Finish(), 0) << cli.out;
    const std::string sound = Field(SongShow("00000002"), "Fichier son:");
    const double seconds = static_cast<double>(audio::ScanMpegFile(sound).frames) * 0.024;
    EXPECT_LT(seconds, 8.0 - 1.0) << cli.out;
    EXPECT_GT(seconds, 2.0) << cli.out;
    EXPECT_EQ(audio::ScanMpegFile(sound).damagedFrames, 0);
  }
  const std::string log = Run({"log", "show"}, status);
  for (const char* line : {"Recording: Paused", "Recording: Resumed", "TOOLPipePause (False)"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(CliRecord, ABoardTakeBecomesTheSongsSoundOnlyAtItsEndAndAKillLeavesTheSoundAsItWas) {
  for (const auto& [section, key, value] : {std::tuple{"Recorder_PCXTools_OverWrite", "Condition", "1"},
                                            std::tuple{"Recorder_PCXTools_StartCondition", "Declenchement", "1"},
                                            std::tuple{"Recorder_PCXTools_StartCondition", "EndDuration", "1000"}}) {
    Ok({"setup", "set", section, key, value});
  }
  // A level take: 1.5 s of silence, 800 ms of tone, then silence.
  const std::string in = Input("in.wav", {{1500, false}, {800, true}, {500, false}});
  std::string out = Ok({"record", "00000002", "--board", "--device", "virtual:" + in, "--speed", "50"});
  const std::string sound = Field(SongShow("00000002"), "Fichier son:");
  EXPECT_NE(out.find("Son enregistré: " + sound), std::string::npos) << out;
  // Pre-roll, the tone, the silence's duration + 100 ms, to a frame.
  EXPECT_NEAR(static_cast<double>(audio::ScanMpegFile(sound).frames) * 24, 500 + 800 + 1100, 48);
  EXPECT_NE(Field(out, "Durée du son:"), "0 ms");
  // --board takes the set-up's settings, not the command's.
  EXPECT_EQ(Exit({"record", "00000002", "--board", "--start", "now"}), 2);

  // A plain take killed at random moments: the song's sound is untouched,
  // the take beside it decodes whole.
  Ok({"setup", "set", "Recorder_PCXTools_StartCondition", "Declenchement", "0"});
  const std::string input = Input("long.wav", {{60000, true}});
  const std::string before = ReadFile(sound);
  std::mt19937 random(51);
  std::uniform_int_distribution<int> moment(300, 2500);
  for (int run = 0; run < 6; ++run) {
    const int afterMs = moment(random);
    SCOPED_TRACE("run " + std::to_string(run) + ", killed " + std::to_string(afterMs) + " ms after the start");
    const Killed k = RunAndKill(Argv({"record", "00000002", "--board", "--device", "virtual:" + input, "--speed", "5"}), afterMs);
    ASSERT_GE(k.secondsRecording, 0) << k.out;
    ASSERT_FALSE(k.take.empty()) << k.out;
    EXPECT_EQ(ReadFile(sound), before);
    const ProcessResult ff = RunProcess({"ffmpeg", "-v", "error", "-i", k.take, "-f", "null", "-"});
    EXPECT_TRUE(ff.exited(0)) << ff.err;
    EXPECT_EQ(ff.err, "");
    EXPECT_EQ(audio::ScanMpegFile(k.take).damagedFrames, 0);
    EXPECT_GE(static_cast<double>(audio::ScanMpegFile(k.take).frames) * 0.024, std::max(0.0, (k.secondsRecording - 1.0) * 5));
    std::filesystem::remove(k.take);
  }
}

}  // namespace
}  // namespace sono::test
