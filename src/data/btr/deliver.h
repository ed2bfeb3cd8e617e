// How both engines hand a record they found to the caller: the record into
// the data buffer (cut to the buffer's room, status 22), the key of the path
// into the key buffer, then the handle's currency moved onto the record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "btr.h"
#include "layout.h"

namespace sono::btr {

// Where the record delivered stands: its position, its version stamp and the
// file's abort generation when it was read.
struct Currency {
  std::uint64_t pos;
  std::uint64_t version;
  std::uint64_t generation;
};

// Only the handle changes here: every read that can fault comes before.
template <class HandleT>
int DeliverRecord(HandleT& h, const std::uint8_t* rec, std::size_t recLen, const std::vector<layout::KeyInfo>& keys,
                  const Currency& at, void* data, std::uint32_t& dataLength, void* keyBuf, int keyNumber) {
  if (keyBuf && keyNumber >= 0 && std::size_t(keyNumber) < keys.size())
    layout::RawKey(keys[keyNumber], rec, static_cast<std::uint8_t*>(keyBuf));
  const std::uint32_t room = data ? dataLength : 0;
  int st = status::kOk;
  if (room < recLen) {
    if (room) std::memcpy(data, rec, room);
    dataLength = room;
    st = status::kDataBufferTooShort;
  } else {
    std::memcpy(data, rec, recLen);
    dataLength = static_cast<std::uint32_t>(recLen);
  }
  h.hasPos = true;
  h.pos = at.pos;
  h.hasRecord = true;
  h.version = at.version;
  h.versionGen = at.generation;
  return st;
}

}  // namespace sono::btr
