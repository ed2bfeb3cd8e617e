#include "demo/demo_sounds.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "audio/codec/house_writer.h"
#include "core/files.h"
#include "core/text.h"
#include "data/ptx.h"
#include "data/records.h"
#include "data/search.h"
#include "data/stats.h"
#include "data/songs.h"

namespace sono::demo {

namespace {
constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

double dbToGain(double db) { return std::pow(10.0, db / 20.0); }

// Level of the piece over time: intro at -20 dB, body at -6 dB, last 12 %
// fading out.
double shape(double t, double length) {
  const double intro = length * 0.15;
  if (t < intro) return dbToGain(-20 + 14 * (t / intro) * (t / intro));
  if (t > length * 0.88) return dbToGain(-6) * std::max(0.0, (length - t) / (length * 0.12));
  return dbToGain(-6);
}
}  // namespace

bool WriteDemoSound(const std::string& path, int seconds, bool jingle, uint32_t seed,
                    std::string& error) {
  std::mt19937 rng(seed);
  audio::HouseWriter writer;
  if (!CreateFolders(ParentFolder(path)) || !writer.open(path)) {
    error = writer.error().empty() ? "Impossible de créer " + path : writer.error();
    return false;
  }
  // A chord progression over a root drawn from the seed.
  static const double kRatios[4][3] = {{1.0, 1.25, 1.5}, {0.75, 0.9375, 1.125},
                                       {0.8333, 1.0, 1.25}, {0.6667, 0.8333, 1.0}};
  const double root = 196.0 * std::pow(2.0, static_cast<double>(rng() % 7) / 12.0);
  const double beat = 60.0 / (96 + rng() % 40);
  const int frames = seconds * kRate;
  std::vector<float> block(2 * 4608);
  for (int start = 0; start < frames; start += 4608) {
    const int n = std::min(4608, frames - start);
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(start + i) / kRate;
      double v = 0;
      if (jingle) {
        const int note = static_cast<int>(t / 0.18) % 6;
        const double f = root * 2 * std::pow(2.0, (note * 4 % 12) / 12.0);
        const double local = std::fmod(t, 0.18);
        v = 0.5 * std::sin(2 * kPi * f * t) * std::exp(-local * 8) * (t < seconds - 0.3 ? 1.0 : (seconds - t) / 0.3);
      } else {
        const auto& chord = kRatios[static_cast<int>(t / (beat * 8)) % 4];
        for (double r : chord) v += 0.22 * std::sin(2 * kPi * root * r * t);
        const double inBeat = std::fmod(t, beat);
        v += 0.6 * std::sin(2 * kPi * 55 * inBeat) * std::exp(-inBeat * 18);  // the kick
        v *= shape(t, seconds);
      }
      const double pan = 0.1 * std::sin(2 * kPi * 0.05 * t);
      block[2 * i] = static_cast<float>(v * (1 - pan));
      block[2 * i + 1] = static_cast<float>(v * (1 + pan));
    }
    if (!writer.writeFloat(block.data(), n)) {
      error = writer.error();
      writer.abandon();
      return false;
    }
  }
  if (!writer.finish()) {
    error = writer.error();
    return false;
  }
  return true;
}

DemoSoundsResult AddDemoSounds(data::Library& lib, int count, uint32_t seed) {
  using namespace data;
  DemoSoundsResult result;
  std::mt19937 rng(seed);
  // The songs that get a sound: the first music code, then the music songs
  // the window lists first (title order), so that a newcomer meets waveforms
  // at once; a fifth of them jingles.
  std::vector<std::string> codes;
  const int jingles = std::max(1, count / 5);
  BtrieveOptions quiet;
  quiet.silent = true;
  for (const char* prefix : {"000", "JIN"}) {
    const int wanted = prefix[0] == '0' ? std::min(1, count - jingles) : jingles;
    std::string key = Library::Key(std::string(prefix) + std::string(5, '\0'));
    int st = lib.db().GetGreaterOrEqual(lib.base(), kSongs, 1, kSongByCode, key, "Demo:Sons", quiet);
    for (int n = 0; st == 0 && n < wanted && key.compare(0, 3, prefix) == 0; ++n) {
      codes.push_back(key.substr(0, 8));
      st = lib.db().GetNext(lib.base(), kSongs, 1, kSongByCode, key, "Demo:Sons", quiet);
    }
  }
  if (const size_t music = static_cast<size_t>(std::max(0, count - jingles)); music > 1) {
    DurationStatistics stats(lib);
    SongSearch search(lib, stats);
    search.skipDurationRepair = true;  // the demo writes its durations below
    SearchRequest musicKind;
    musicKind.kind = data::SearchKind::Music;
    search.RechercheDansLaBase_01_Morceau(musicKind);
    size_t added = 1;
    for (size_t row = 0; row < search.grid.size() && added < music; ++row) {
      const std::string code = Calibre(Utf8ToCp1252(search.grid.cell(row, 0)), 8);
      if (std::find(codes.begin(), codes.end(), code) != codes.end()) continue;
      codes.push_back(code);
      ++added;
    }
  }
  for (const auto& code : codes) {
    const bool jingle = code.compare(0, 3, "JIN") == 0;
    const int seconds = jingle ? 4 + static_cast<int>(rng() % 6) : 20 + static_cast<int>(rng() % 26);
    const std::string first = SoundFilePath(lib, 1, code);
    std::string error;
    if (!WriteDemoSound(first, seconds, jingle, rng(), error)) {
      if (result.error.empty()) result.error = error;
      continue;
    }
    for (int station = 2; station <= lib.stationCount(); ++station) {
      const std::string other = SoundFilePath(lib, station, code);
      if (other != first && (!CreateFolders(ParentFolder(other)) || !File_Copy(first, other)) &&
          result.error.empty())
        result.error = "Impossible de copier " + first + " vers " + other;
    }
    const long long ms = HouseFormatDurationMs(first).value_or(seconds * 1000LL);
    // Cue points that fit the sound, then its duration on every station.
    for (int station = 1; station <= lib.stationCount(); ++station) {
      for (int type : {0, 1, 2, 4, 5, 9}) PtxDetruirePointeur(lib, station, code, type);
      PtxDetruirePointeur(lib, station, code, -1);
      PtxDetruirePointeur(lib, station, code, 8);
      if (!jingle) {
        PtxSauvegarderPointeur(lib, station, code, '4', ms * 15 / 100, 0, -1, 0, true);
        PtxSauvegarderPointeur(lib, station, code, '1', ms * 88 / 100, ms * 10 / 100, -1, 0, true);
        PtxSauvegarderPointeur(lib, station, code, '5', ms * 92 / 100, 0, -1, 0, true);
      }
      std::string key = Library::Key(code);
      if (lib.db().GetEqual(lib.base(), kSongs, station, kSongByCode, key, "Demo:Sons", quiet) != 0) continue;
      song::SetDurationSeconds(lib.db().record(kSongs), (ms + 500) / 1000);
      lib.db().Update(lib.base(), kSongs, station, kSongByCode, key, "Demo:Sons");
    }
    ++result.written;
  }
  return result;
}

}  // namespace sono::demo
