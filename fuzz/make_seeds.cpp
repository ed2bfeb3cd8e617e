// Writes the seed inputs that are made rather than kept: house-format sounds
// from the project's own encoder (whole, damaged, cut short), envelopes built
// from them, a broadcast WAV with its cue markers, and MPEG streams of other
// layers and rates from FFmpeg when it is installed. Usage: fuzz_make_seeds DIR
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/codec/house_writer.h"
#include "broadcast_chunks.h"
#include "btr.h"
#include "core/house_format.h"
#include "editor/gpx_format.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

bool Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_make_seeds: %s\n", what.c_str());
  return false;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A 440 Hz tone with a rising level, `frames` house frames long.
bool HouseTone(const fs::path& path, int frames) {
  sono::audio::HouseWriter writer;
  if (!writer.open(path)) return Fail(writer.error());
  std::vector<int16_t> pcm(2 * sono::kHouseFrameSamples);
  for (int f = 0; f < frames; ++f) {
    for (int i = 0; i < sono::kHouseFrameSamples; ++i) {
      const double t = (f * sono::kHouseFrameSamples + i) / double(sono::kHouseRate);
      const double level = 2000.0 + 1500.0 * f;
      pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(std::min(30000.0, level) * std::sin(2 * M_PI * 440 * t));
    }
    if (!writer.write(pcm.data(), sono::kHouseFrameSamples)) return Fail(writer.error());
  }
  return writer.finish() || Fail(writer.error());
}

bool CartWav(const fs::path& path) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!sound) return Fail(sf_strerror(nullptr));
  sono::convert::ConverterOptions o;
  o.title = "Chanson d'été";
  o.artist = "Léa";
  o.cues.intro = 100;
  o.cues.startNext = 350;
  o.cues.fadeOut = 400;
  o.cues.hook = 50;
  const bool chunks = sono::convert::SetBroadcastChunks(sound, o, info.samplerate, 1700000000);
  std::vector<short> samples(4000, 0);
  sf_write_short(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(sound);
  return chunks || Fail("cart chunk refused");
}

// FFmpeg's own MPEG encoders, as an independent source of streams.
void FfmpegSeed(const fs::path& path, const std::vector<std::string>& codec) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "sine=frequency=1000:duration=0.3"};
  args.insert(args.end(), codec.begin(), codec.end());
  args.push_back(path.string());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return;  // no FFmpeg: fewer seeds
  int status = 0;
  waitpid(pid, &status, 0);
}

// A small record-manager file: a unique code key and a key with duplicates,
// thirty records, closed cleanly.
bool RecordFile(const fs::path& path) {
  using namespace sono::btr;
  FileDef def;
  def.recordLength = 60;
  def.keys = {KeyDef{{KeySegment{1, 8, kKeyModifiable}}},
              KeyDef{{KeySegment{9, 5, static_cast<std::uint16_t>(kKeyDuplicates | kKeyModifiable | kKeyCaseInsensitive)}}}};
  if (const int st = createFile(path, def); st != 0) return Fail("createFile: " + std::to_string(st));
  File file;
  if (file.open(path) != 0 || file.beginTransaction() != 0) return Fail("open");
  for (int i = 0; i < 30; ++i) {
    char record[61];
    std::snprintf(record, sizeof record, "S%07dCAT%02d%-47s", i, i % 4, "Chanson");
    if (file.insert(std::string_view(record, 60)) != 0) return Fail("insert");
  }
  return (file.endTransaction() == 0 && file.close() == 0) || Fail("close");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: fuzz_make_seeds DIR"), 2;
  const fs::path dir = argv[1];
  for (const char* target : {"mpeg_scan", "gpx", "wav_markers", "btr_file"}) fs::create_directories(dir / target);

  const fs::path house = dir / "mpeg_scan" / "house_12_frames.s48";
  if (!HouseTone(house, 12)) return 1;
  const std::string whole = ReadAll(house);
  std::string damaged = whole;
  for (size_t i = 3 * sono::kHouseFrameBytes; i < 3 * sono::kHouseFrameBytes + 40; ++i) damaged[i] ^= 0x5A;
  WriteAll(dir / "mpeg_scan" / "house_damaged_frame_4.s48", damaged);
  WriteAll(dir / "mpeg_scan" / "house_cut_short.s48", whole.substr(0, whole.size() - 300));
  WriteAll(dir / "mpeg_scan" / "house_after_id3.s48", std::string("ID3\x03\x00\x00\x00\x00\x00\x10", 10) +
                                                          std::string(16, '\0') + whole.substr(0, 4 * 768));
  FfmpegSeed(dir / "mpeg_scan" / "ffmpeg_mp3_vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"});
  FfmpegSeed(dir / "mpeg_scan" / "ffmpeg_mp3_22050.mp3", {"-ar", "22050", "-c:a", "libmp3lame", "-b:a", "32k"});
  FfmpegSeed(dir / "mpeg_scan" / "ffmpeg_mp2_mono_32000.mp2", {"-ar", "32000", "-ac", "1", "-c:a", "mp2"});

  std::vector<uint8_t> values;
  for (int i = 0; i < 4100; ++i) values.push_back(static_cast<uint8_t>(1 + i % 100));
  WriteAll(dir / "gpx" / "two_records.gpx", sono::editor::BuildGpx(98400, values));
  values.resize(12);
  WriteAll(dir / "gpx" / "one_record.gpx", sono::editor::BuildGpx(288, values));

  // The trim's three leading bytes (the target reads them first), then the file.
  const fs::path wav = dir / "wav_markers" / "cart.wav";
  if (!CartWav(wav)) return 1;
  WriteAll(wav, std::string("\x00\x00\x64", 3) + ReadAll(wav));

  const fs::path records = dir / "btr_file" / "thirty_records.bt6";
  if (!RecordFile(records)) return 1;
  fs::remove(records.string() + "-lock");
  fs::remove(dir / "btr_file" / "sonoteka-btr.journal");
  std::string flipped = ReadAll(records);
  for (size_t i = flipped.size() / 2; i < flipped.size() / 2 + 16; ++i) flipped[i] ^= 0x21;
  WriteAll(dir / "btr_file" / "thirty_records_damaged.bt6", flipped);
  return 0;
}
