#include "audio/codec/scale_factor_gain.h"

#include <array>
#include <vector>

#include "audio/codec/mpeg_frames.h"

namespace sono::audio {

namespace {

constexpr int kMaxSubbands = 32;
constexpr int kLargestIndex = 62;
// Encoders write 63 for a subband with nothing in it; decoders play it as
// silence, and silence times a gain stays silence: it never moves.
constexpr unsigned kSilentIndex = 63;

// Allocation bits per subband of the four MPEG-1 Layer II allocation
// tables: 27 subbands (a), 30 (b), 8 (c), 12 (d).
struct AllocationTable {
  int subbands;
  std::array<uint8_t, kMaxSubbands> bits;
};
constexpr AllocationTable kTableA{27, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2}};
constexpr AllocationTable kTableB{30, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3,
                                       3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2}};
constexpr AllocationTable kTableC{8, {4, 4, 3, 3, 3, 3, 3, 3}};
constexpr AllocationTable kTableD{12, {4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}};

// The table a frame uses, from its rate and its bit rate per channel.
const AllocationTable& TableFor(int sampleRate, int bitrateKbps, int channels) {
  const int perChannel = bitrateKbps / channels;
  if (perChannel <= 48) return sampleRate == 32000 ? kTableD : kTableC;
  if (perChannel <= 80 || sampleRate == 48000) return kTableA;
  return kTableB;
}

class BitCursor {
 public:
  BitCursor(uint8_t* data, size_t bytes) : data_(data), bits_(bytes * 8) {}
  bool has(int n) const { return pos_ + static_cast<size_t>(n) <= bits_; }
  unsigned read(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++pos_) v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
    return v;
  }
  size_t position() const { return pos_; }
  void write6(size_t at, unsigned value) {
    for (int i = 0; i < 6; ++i) {
      const size_t bit = at + static_cast<size_t>(i);
      const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit & 7));
      if ((value >> (5 - i)) & 1u) data_[bit >> 3] |= mask;
      else data_[bit >> 3] = static_cast<uint8_t>(data_[bit >> 3] & ~mask);
    }
  }

 private:
  uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
};

// Where each scale factor of one frame sits (bit offsets), with its index.
struct Factor {
  size_t at;
  unsigned index;
};

bool CollectFactors(uint8_t* frame, int bytes, const MpegHeader& h, std::vector<Factor>& out) {
  BitCursor bits(frame, static_cast<size_t>(bytes));
  bits.read(15);  // sync, version, layer
  const bool protectedFrame = (bits.read(1) == 0);
  bits.read(16);  // the rest of the header
  const int mode = (frame[3] >> 6) & 3, extension = (frame[3] >> 4) & 3;
  if (protectedFrame) bits.read(16);
  const AllocationTable& table = TableFor(h.sampleRate, h.bitrateKbps, h.channels);
  const int channels = h.channels;
  const int bound = mode == 1 ? (extension + 1) * 4 : table.subbands;  // joint stereo shares the upper bands
  std::array<std::array<unsigned, kMaxSubbands>, 2> allocation{};
  for (int sb = 0; sb < table.subbands; ++sb) {
    if (!bits.has(table.bits[sb] * channels)) return false;
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) allocation[ch][sb] = bits.read(table.bits[sb]);
    } else {
      allocation[0][sb] = allocation[1][sb] = bits.read(table.bits[sb]);
    }
  }
  std::array<std::array<unsigned, kMaxSubbands>, 2> selection{};
  for (int sb = 0; sb < table.subbands; ++sb)
    for (int ch = 0; ch < channels; ++ch)
      if (allocation[ch][sb] != 0) {
        if (!bits.has(2)) return false;
        selection[ch][sb] = bits.read(2);
      }
  for (int sb = 0; sb < table.subbands; ++sb)
    for (int ch = 0; ch < channels; ++ch) {
      if (allocation[ch][sb] == 0) continue;
      // Three parts of the frame share one, two or three factors.
      const int count = selection[ch][sb] == 0 ? 3 : selection[ch][sb] == 2 ? 1 : 2;
      for (int i = 0; i < count; ++i) {
        if (!bits.has(6)) return false;
        const size_t at = bits.position();
        const unsigned index = bits.read(6);
        out.push_back({at, index});
      }
    }
  return true;
}

}  // namespace

ScaleFactorGainResult ApplyScaleFactorGain(std::string& stream, int steps) {
  ScaleFactorGainResult r;
  // Each frame's factors first: nothing is written unless every frame can
  // take the gain.
  struct FramePlan {
    size_t offset;
    std::vector<Factor> factors;
  };
  std::vector<FramePlan> plan;
  auto* bytes = reinterpret_cast<uint8_t*>(stream.data());
  size_t offset = 0;
  while (offset < stream.size()) {
    if (stream.size() - offset < 4) {
      r.error = "fin de flux coupée à l'octet " + std::to_string(offset);
      return r;
    }
    const std::optional<MpegHeader> h = ParseMpegHeader(bytes + offset);
    if (!h || h->version != 1 || h->layer != 2 || h->frameBytes <= 0 ||
        static_cast<size_t>(h->frameBytes) > stream.size() - offset) {
      r.error = "trame MPEG-1 Layer II illisible à l'octet " + std::to_string(offset);
      return r;
    }
    FramePlan frame{offset, {}};
    if (!CollectFactors(bytes + offset, h->frameBytes, *h, frame.factors)) {
      r.error = "trame MPEG-1 Layer II illisible à l'octet " + std::to_string(offset);
      return r;
    }
    bool reachable = true;
    for (const Factor& f : frame.factors)
      reachable = reachable && (f.index == kSilentIndex || static_cast<int>(f.index) - steps >= 0);
    if (!reachable) ++r.framesRefused;
    plan.push_back(std::move(frame));
    offset += static_cast<size_t>(h->frameBytes);
  }
  r.frames = static_cast<int64_t>(plan.size());
  if (r.framesRefused > 0) {
    r.error = std::to_string(r.framesRefused) + " trame(s) déjà au niveau maximal: gain refusé";
    return r;
  }
  for (const FramePlan& frame : plan) {
    BitCursor bits(bytes + frame.offset, stream.size() - frame.offset);
    for (const Factor& f : frame.factors) {
      if (f.index == kSilentIndex) continue;
      int moved = static_cast<int>(f.index) - steps;
      if (moved > kLargestIndex) {
        moved = kLargestIndex;
        ++r.factorsHeld;
      }
      if (moved != static_cast<int>(f.index)) {
        bits.write6(f.at, static_cast<unsigned>(moved));
        ++r.factorsMoved;
      }
    }
  }
  r.ok = true;
  return r;
}

}  // namespace sono::audio
