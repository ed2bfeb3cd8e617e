// Ingest benchmark: 100 mixed files of 3.5 minutes (ten families: MP3, AAC,
// FLAC, Ogg Vorbis, WAV 44.1 kHz, WAV 48 kHz mono, AIFF, WMA, AC3 and
// house-format files) given to their songs by one `sonoteka-cli import --all`
// on a demo library. The figure is tracks per hour per core: 100 tracks over
// the CPU seconds of the command and its converters (wait4). One JSON object
// per line.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../common/bench_report.h"

using namespace sono::bench;

namespace {

constexpr int kTracks = 100;
constexpr int kTrackSeconds = 210;
constexpr double kPeersTracksPerHour = 350;

bool Ffmpeg(const std::string& out, const std::vector<std::string>& codec, int rate = 44100, int channels = 2) {
  const std::string expr =
      "aevalsrc=(0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)+0.1*sin(2*PI*3300*t))*(0.6+0.4*sin(2*PI*2*t))|"
      "(0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)+0.1*sin(2*PI*5100*t))*(0.6+0.4*cos(2*PI*2*t)):s=" +
      std::to_string(rate) + ":d=" + std::to_string(kTrackSeconds);
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", expr, "-ac",
                                   std::to_string(channels)};
  args.insert(args.end(), codec.begin(), codec.end());
  args.push_back(out);
  return RunChild(args).ok;
}

}  // namespace

int main() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "sonoteka-bench-ingest-XXXXXX").string();
  const std::string dir = std::string(::mkdtemp(tmpl.data())) + "/";
  const std::string home = dir + "home", sources = dir + "sources/", bulk = dir + "bulk/";
  std::filesystem::create_directories(sources);
  std::filesystem::create_directories(bulk);
  const auto fail = [&](const char* why) {
    std::fprintf(stderr, "%s\n", why);
    std::filesystem::remove_all(dir);
    return 1;
  };
  if (!RunChild({SONOTEKA_CLI, "site", "init-demo", "--home", home}).ok ||
      !RunChild({SONOTEKA_CLI, "demo", "build", "--songs", "160", "--home", home}).ok)
    return fail("demo site not built");
  // The music songs' codes, in the grid's order.
  const ChildRun search = RunChild({SONOTEKA_CLI, "search", "--kind", "music", "--types", "all", "--home", home}, true);
  std::vector<std::string> codes;
  std::istringstream lines(search.out);
  std::string line;
  std::getline(lines, line);  // headers
  while (std::getline(lines, line) && static_cast<int>(codes.size()) < kTracks)
    if (line.size() > 8 && line[8] == '\t') codes.push_back(line.substr(0, 8));
  if (static_cast<int>(codes.size()) < kTracks) return fail("not enough music songs");

  // One source per family, each given to ten songs.
  struct Family {
    const char* file;
    std::vector<std::string> codec;
    int rate, channels;
  };
  const std::vector<Family> families = {
      {"a.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, 44100, 2},
      {"b.m4a", {"-c:a", "aac", "-b:a", "160k"}, 44100, 2},
      {"c.flac", {"-c:a", "flac"}, 44100, 2},
      {"d.ogg", {"-c:a", "libvorbis", "-q:a", "5"}, 44100, 2},
      {"e.wav", {"-c:a", "pcm_s16le"}, 44100, 2},
      {"f.wav", {"-c:a", "pcm_s16le"}, 48000, 1},
      {"g.aiff", {"-c:a", "pcm_s16be"}, 44100, 2},
      {"h.wma", {"-c:a", "wmav2", "-b:a", "128k"}, 44100, 2},
      {"i.ac3", {"-c:a", "ac3", "-b:a", "192k"}, 48000, 2},
      {"j.wav", {"-c:a", "pcm_s16le"}, 48000, 2},
  };
  for (const auto& f : families)
    if (!Ffmpeg(sources + f.file, f.codec, f.rate, f.channels)) return fail("ffmpeg cannot make the sources");
  // The tenth family is turned into house-format files, which are copied.
  if (!RunChild({SONOTEKA_CONVERT, "-infile=" + sources + "j.wav", "-outfile=" + sources + "j.s48",
            "-errorfile=" + sources + "j.Log", "-convert_to=mp2", "-s=48000", "-b=256", "-c=2"})
           .ok)
    return fail("no house-format source");
  for (int i = 0; i < kTracks; ++i) {
    const Family& f = families[static_cast<size_t>(i % families.size())];
    std::string src = sources + f.file;
    if (i % families.size() == families.size() - 1) src = sources + "j.s48";
    const std::string ext = std::filesystem::path(src).extension().string();
    std::filesystem::copy_file(src, bulk + codes[static_cast<size_t>(i)] + ext);
  }

  const auto start = std::chrono::steady_clock::now();
  const ChildRun ingest = RunChild({SONOTEKA_CLI, "import", "--all", bulk, "--home", home}, true);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool allImported = ingest.out.find("Importés: 100, erreurs: 0") != std::string::npos;
  std::filesystem::remove_all(dir);
  if (!ingest.ok || !allImported) {
    std::fprintf(stderr, "the ingest failed:\n%s\n", ingest.out.c_str());
    return 1;
  }
  const double perHourPerCore = kTracks * 3600.0 / ingest.cpuSeconds;
  Report("convert.ingest_100_mixed_cpu", ingest.cpuSeconds, "s CPU");
  Report("convert.ingest_100_mixed_wall", wall, "s");
  Report("convert.ingest_tracks_per_hour_per_core", perHourPerCore, "tracks/h/core", ">= 900",
         kPeersTracksPerHour / perHourPerCore, "peers' time per track (350 tracks/h)", "<= 1");
  return 0;
}
