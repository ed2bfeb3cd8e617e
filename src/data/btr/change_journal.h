// The changes one file made inside an explicit transaction, kept so that the
// transaction can be rebuilt when the map had to grow in its middle (a grown
// map needs a new LMDB write transaction, into which they are replayed).
// Memory only; the base's redo journal on disk is journal.h.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace sono::btr {

enum class Mut { Insert, Update, Delete };

// Record bytes are packed into large chunks.
class Journal {
 public:
  struct Entry {
    Mut kind;
    std::uint64_t pos;
    const std::uint8_t* data;  // header + record as stored; null for a delete
  };
  void add(Mut kind, std::uint64_t pos, const std::uint8_t* data, std::size_t length) {
    const std::uint8_t* copy = nullptr;
    if (data) {
      if (chunks_.empty() || used_ + length > kChunk) {
        chunks_.push_back(std::unique_ptr<std::uint8_t[]>(new std::uint8_t[std::max(kChunk, length)]));
        used_ = 0;
      }
      std::memcpy(chunks_.back().get() + used_, data, length);
      copy = chunks_.back().get() + used_;
      used_ += length;
    }
    entries_.push_back(Entry{kind, pos, copy});
  }
  const std::vector<Entry>& entries() const { return entries_; }
  void clear() {
    std::vector<Entry>().swap(entries_);
    chunks_.clear();
    used_ = 0;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t(4) << 20;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::size_t used_ = 0;
};

}  // namespace sono::btr
