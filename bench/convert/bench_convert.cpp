// Converter benchmark: a 4-minute MP3 to the house format by sonoteka-convert,
// against the ffmpeg program doing the same encoding with libtwolame, in the
// same run. Figures are the CPU seconds of each child (user + system, from
// wait4), the best of three runs. One JSON object per line.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../common/bench_report.h"

using namespace sono::bench;

namespace {

// The child's CPU seconds, or -1 when it could not run or failed.
double ChildCpuSeconds(const std::vector<std::string>& args) {
  const ChildRun c = RunChild(args);
  return c.ok ? c.cpuSeconds : -1;
}

constexpr int kRuns = 3;
constexpr int kSourceSeconds = 240;

double Best(const std::vector<std::string>& args) {
  double best = -1;
  for (int i = 0; i < kRuns; ++i) {
    const double s = ChildCpuSeconds(args);
    if (s < 0) return -1;
    best = best < 0 ? s : std::min(best, s);
  }
  return best;
}

}  // namespace

int main() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "sonoteka-bench-convert-XXXXXX").string();
  const std::string dir = std::string(::mkdtemp(tmpl.data())) + "/";
  const std::string mp3 = dir + "song.mp3";
  // A music-like stereo source: chords with a beat, 44100 Hz, 192 kbit/s.
  const std::string expr =
      "aevalsrc=(0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)+0.1*sin(2*PI*3300*t))*(0.6+0.4*sin(2*PI*2*t))|"
      "(0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)+0.1*sin(2*PI*5100*t))*(0.6+0.4*cos(2*PI*2*t)):s=44100:d=" +
      std::to_string(kSourceSeconds);
  if (ChildCpuSeconds({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", expr, "-c:a", "libmp3lame", "-b:a",
                       "192k", mp3}) < 0) {
    std::fprintf(stderr, "ffmpeg cannot make the source\n");
    return 1;
  }
  const double ours = Best({SONOTEKA_CONVERT, "-infile=" + mp3, "-outfile=" + dir + "song.s48",
                            "-errorfile=" + dir + "song_Err_Convert.Log", "-convert_to=mp2", "-s=48000", "-b=256",
                            "-c=2", "--managed"});
  const double theirs = Best({"ffmpeg", "-v", "error", "-y", "-i", mp3, "-c:a", "libtwolame", "-b:a", "256k", "-ar",
                              "48000", "-energy_levels", "1", dir + "ffmpeg.mp2"});
  std::filesystem::remove_all(dir);
  if (ours < 0 || theirs <= 0) {
    std::fprintf(stderr, "a conversion failed (ours %.3f s, ffmpeg %.3f s)\n", ours, theirs);
    return 1;
  }
  Report("convert.ffmpeg_mp3_to_mp2_4min", theirs, "s CPU");
  Report("convert.mp3_to_house_4min", ours, "s CPU", "<= 4", ours / theirs,
         "ffmpeg -c:a libtwolame -energy_levels 1", "<= 1.1");
  return 0;
}
