#include "editor/smooth_join.h"

#include <fcntl.h>
#include <mpg123.h>
#include <twolame.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <fmt/format.h>

#include "audio/codec/house_writer.h"
#include "audio/codec/sound_reader.h"
#include "core/house_format.h"
#include "core/system_error_text.h"

namespace sono::editor {

namespace {

constexpr long long kFrameSamples = kHouseFrameSamples;
constexpr long long kJoinWindowFrames = 2;    // frames encoded again on each side of a join
constexpr long long kCrossFadeSamples = 480;  // 10 ms at 48 kHz
constexpr long long kDecoderWarmUpFrames = 2;
constexpr long long kEncoderWarmUpFrames = 2;
// A decoder that starts on a file's first frame has nothing of the frames
// before it: its first 480 samples lack their share of those frames.
constexpr long long kDecoderSettleSamples = 480;
// A signal encoded by the house encoder and decoded by libmpg123 comes back
// this many samples late (analysis and synthesis filter banks together).
constexpr long long kCodecDelaySamples = 481;

long long FloorDiv(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
long long CeilDiv(long long a, long long b) { return -FloorDiv(-a, b); }

// Decoded frames of one file: interleaved stereo from the start of `firstFrame`.
struct DecodedStretch {
  long long firstFrame = 1;
  std::vector<float> samples;
  // The sample of the file's timeline (0: its first sample); silence outside
  // what was decoded.
  float at(long long index, int channel) const {
    const long long i = index - (firstFrame - 1) * kFrameSamples;
    if (i < 0 || 2 * i + 1 >= static_cast<long long>(samples.size())) return 0.0f;
    return samples[static_cast<size_t>(2 * i + channel)];
  }
};

bool ReadFrames(const std::string& file, long long first, long long last, std::string& bytes, std::string& error) {
  bytes.assign(static_cast<size_t>((last - first + 1) * kHouseFrameBytes), '\0');
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "Fichier '" + file + "' non trouvé.";
    return false;
  }
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                              static_cast<off_t>((first - 1) * kHouseFrameBytes + static_cast<long long>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      break;
    }
    got += static_cast<size_t>(n);
  }
  if (got < bytes.size()) error = "Impossible de lire le fichier: " + file + " (" + SystemErrorText(errno) + ")";
  ::close(fd);
  return error.empty();
}

// Every frame of `bytes` through libmpg123, as the players decode them.
bool DecodeFrames(const std::string& bytes, std::vector<float>& out, std::string& error) {
  audio::InitDecoders();
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) {
    error = std::string("Décodeur indisponible: ") + mpg123_plain_strerror(err);
    return false;
  }
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  mpg123_format(h, kHouseRate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  out.clear();
  bool ok = mpg123_open_feed(h) == MPG123_OK &&
            mpg123_feed(h, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == MPG123_OK;
  while (ok) {
    off_t frame = 0;
    unsigned char* audio = nullptr;
    size_t size = 0;
    const int rc = mpg123_decode_frame(h, &frame, &audio, &size);
    if (rc == MPG123_NEW_FORMAT) continue;
    if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
    if (rc != MPG123_OK) {
      ok = false;
      break;
    }
    const auto* f = reinterpret_cast<const float*>(audio);
    out.insert(out.end(), f, f + size / sizeof(float));
  }
  const size_t frames = bytes.size() / kHouseFrameBytes;
  if (!ok || out.size() != frames * kFrameSamples * 2)
    error = "Décodage impossible autour d'une jonction (" + std::string(ok ? "trames incomplètes" : mpg123_strerror(h)) + ")";
  mpg123_delete(h);
  return error.empty();
}

// Interleaved stereo through the house encoder (OpenHouseEncoder, as HouseWriter):
// whole frames, each 768 bytes.
bool EncodeFrames(const std::vector<float>& stereo, std::string& out, std::string& error) {
  twolame_options* o = audio::OpenHouseEncoder();
  if (!o) {
    error = "Encodeur indisponible";
    return false;
  }
  const size_t frames = stereo.size() / 2;
  std::vector<int16_t> pcm(stereo.size());
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(std::lrint(std::clamp(stereo[i], -1.0f, 1.0f) * 32767.0f));
  std::vector<unsigned char> bytes(frames * 5 / 4 + 7200 + 16384);
  int written = twolame_encode_buffer_interleaved(o, pcm.data(), static_cast<int>(frames), bytes.data(),
                                              static_cast<int>(bytes.size()));
  if (written >= 0) {
    const int flushed = twolame_encode_flush(o, bytes.data() + written, static_cast<int>(bytes.size()) - written);
    written = flushed < 0 ? -1 : written + flushed;
  }
  twolame_close(&o);
  const size_t want = frames / kFrameSamples * kHouseFrameBytes;
  if (written < 0 || static_cast<size_t>(written) < want) {
    error = "Encodage impossible autour d'une jonction";
    return false;
  }
  out.assign(reinterpret_cast<const char*>(bytes.data()), want);
  return true;
}

// One join of the target: the last frame of `a` (output frame `joinFrame`)
// followed by the first frame of `b`; `left` and `right` frames of the window.
struct Join {
  const FramePiece* a = nullptr;
  const FramePiece* b = nullptr;
  long long joinFrame = 0, left = 0, right = 0;
};

// Where the two sides mix, in samples from the join (0: the first sample of b).
struct Fade {
  long long from = 0, to = 0;
  bool dip = false;  // neither side goes on: fade out, then fade in
};

float Rise(long long i, long long length) {
  return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(i) + 0.5) / static_cast<double>(length)));
}

// What became of one join.
enum class JoinOutcome { Smoothed, LeftHard, Failed };

// `error` says why a join was left hard (its frames do not decode or encode:
// a damaged frame) or why the target could not be read or written.
JoinOutcome SmoothOne(int out, const Join& j, std::string& error) {
  const long long aFrames = HouseFrameCount(j.a->file), bFrames = HouseFrameCount(j.b->file);
  if (aFrames <= 0 || bFrames <= 0) {
    error = "Fichier '" + (aFrames <= 0 ? j.a->file : j.b->file) + "' non trouvé.";
    return JoinOutcome::Failed;
  }
  const long long a = j.a->frames.last, b = j.b->frames.first;
  const bool aGoesOn = a < aFrames, bBeganEarlier = b > 1;
  Fade fade;
  if (aGoesOn && bBeganEarlier) fade = {-kCrossFadeSamples / 2, kCrossFadeSamples / 2};
  else if (aGoesOn) fade = {kDecoderSettleSamples, kDecoderSettleSamples + kCrossFadeSamples};
  else if (bBeganEarlier) fade = {-kCrossFadeSamples, 0};
  else fade = {-kCrossFadeSamples / 2, kDecoderSettleSamples + kCrossFadeSamples / 2, true};

  // The encoder's input: the smoothed audio from `start` on, `total` frames.
  const long long total = kEncoderWarmUpFrames + j.left + j.right;
  const long long start = -(j.left + kEncoderWarmUpFrames) * kFrameSamples + kCodecDelaySamples;
  const long long end = start + total * kFrameSamples;

  // Side a in its file's timeline: the join is the end of frame a.
  const long long aOrigin = a * kFrameSamples;
  const long long aUntil = fade.dip ? 0 : std::max(0LL, fade.to);
  DecodedStretch sideA, sideB;
  std::string bytes;
  sideA.firstFrame = std::max(1LL, FloorDiv(aOrigin + start, kFrameSamples) + 1 - kDecoderWarmUpFrames);
  const long long aLast = std::min(aFrames, CeilDiv(aOrigin + aUntil, kFrameSamples));
  if (!ReadFrames(j.a->file, sideA.firstFrame, aLast, bytes, error)) return JoinOutcome::Failed;
  if (!DecodeFrames(bytes, sideA.samples, error)) return JoinOutcome::LeftHard;
  // Side b: the join is the start of frame b.
  const long long bOrigin = (b - 1) * kFrameSamples;
  const long long bFrom = fade.dip ? 0 : std::min(0LL, fade.from);
  sideB.firstFrame = std::max(1LL, FloorDiv(bOrigin + bFrom, kFrameSamples) + 1 - kDecoderWarmUpFrames);
  const long long bLast = std::min(bFrames, CeilDiv(bOrigin + end, kFrameSamples));
  if (!ReadFrames(j.b->file, sideB.firstFrame, bLast, bytes, error)) return JoinOutcome::Failed;
  if (!DecodeFrames(bytes, sideB.samples, error)) return JoinOutcome::LeftHard;

  std::vector<float> input(static_cast<size_t>(total * kFrameSamples * 2));
  for (long long t = start; t < end; ++t) {
    for (int c = 0; c < 2; ++c) {
      const float av = sideA.at(aOrigin + t, c), bv = sideB.at(bOrigin + t, c);
      float v;
      if (fade.dip) {
        if (t < fade.from) v = av;
        else if (t < 0) v = av * (1.0f - Rise(t - fade.from, -fade.from));
        else if (t < kDecoderSettleSamples) v = 0.0f;
        else if (t < fade.to) v = bv * Rise(t - kDecoderSettleSamples, fade.to - kDecoderSettleSamples);
        else v = bv;
      } else {
        if (t < fade.from) v = av;
        else if (t >= fade.to) v = bv;
        else {
          const float w = Rise(t - fade.from, fade.to - fade.from);
          v = av * (1.0f - w) + bv * w;
        }
      }
      input[static_cast<size_t>(2 * (t - start) + c)] = v;
    }
  }
  std::string encoded;
  if (!EncodeFrames(input, encoded, error)) return JoinOutcome::LeftHard;
  const size_t skip = static_cast<size_t>(kEncoderWarmUpFrames * kHouseFrameBytes);
  const std::string window = encoded.substr(skip, static_cast<size_t>((j.left + j.right) * kHouseFrameBytes));
  const off_t at = static_cast<off_t>((j.joinFrame - j.left) * kHouseFrameBytes);
  size_t put = 0;
  while (put < window.size()) {
    const ssize_t n = ::pwrite(out, window.data() + put, window.size() - put, at + static_cast<off_t>(put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = SystemErrorText(n < 0 ? errno : EIO);
      return JoinOutcome::Failed;
    }
    put += static_cast<size_t>(n);
  }
  return JoinOutcome::Smoothed;
}

}  // namespace

SmoothJoinsResult SmoothJoins(const std::string& target, const std::vector<FramePiece>& pieces) {
  SmoothJoinsResult result;
  const auto meets = [&](size_t i) {  // pieces i and i + 1 were not neighbours
    const FramePiece& a = pieces[i];
    const FramePiece& b = pieces[i + 1];
    return a.file != b.file || a.frames.last + 1 != b.frames.first;
  };
  std::vector<Join> joins;
  long long placed = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    placed += pieces[i].frames.count();
    if (i + 1 >= pieces.size() || pieces[i].frames.empty() || pieces[i + 1].frames.empty() || !meets(i)) continue;
    ++result.joins;
    // A piece between two joins gives each of them half of its frames.
    const long long aCount = pieces[i].frames.count(), bCount = pieces[i + 1].frames.count();
    const bool aShared = i > 0 && meets(i - 1);
    const bool bShared = i + 2 < pieces.size() && meets(i + 1);
    Join j{&pieces[i], &pieces[i + 1], placed, std::min(kJoinWindowFrames, aShared ? aCount - aCount / 2 : aCount),
           std::min(kJoinWindowFrames, bShared ? bCount / 2 : bCount)};
    if (j.left >= 1 && j.right >= 1) joins.push_back(j);
  }
  if (joins.empty()) return result;
  const int out = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) {
    result.error = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
    return result;
  }
  std::string error;
  for (const Join& j : joins) {
    error.clear();
    const JoinOutcome outcome = SmoothOne(out, j, error);
    if (outcome == JoinOutcome::Failed) {
      result.error = "Jonction non lissée: " + error;
      break;
    }
    if (outcome == JoinOutcome::LeftHard) {
      result.leftHard.push_back(fmt::format("frame {}: {}", j.joinFrame, error));
      continue;
    }
    ++result.smoothed;
    result.windows.push_back({j.joinFrame - j.left + 1, j.joinFrame + j.right});
  }
  if (result.error.empty() && ::fsync(out) != 0)
    result.error = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
  if (::close(out) != 0 && result.error.empty())
    result.error = "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errno) + ")";
  return result;
}

}  // namespace sono::editor
