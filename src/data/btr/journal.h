// The redo journal of a base: what a transaction over several files leaves
// behind before committing them one by one, so that a crash between two
// commits is finished at the next open.
//
// It holds, for every file the transaction changed, the file's name, its
// counter before and after, and the final state of every record it touched
// (the stored bytes, header included, or "erased"). Applying a final state is
// the same whether or not it was already applied, and the counter tells
// which files still need it: `next` equal to the "after" value means
// committed, equal to the "before" value means not yet.
//
// Bytes: "SNTKJRN1", the transaction number (u64), the file count (u32); per
// file its name (u16 length + bytes), counters before and after (u64 each),
// its change count (u32), per change the position (u64), a flag (u8, 1 when
// erased), the value (u32 length + bytes); then the CRC-32C of everything
// before (u32) and "FIN!". A journal that does not decode whole was never
// complete, so no file was committed from it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sono::btr::journal {

constexpr char kFileName[] = "sonoteka-btr.journal";

struct Change {
  std::uint64_t pos = 0;
  bool erased = false;
  std::string value;  // header + record, as stored in that file
};

struct FileChanges {
  std::string name;  // inside the base's folder
  std::uint64_t nextBefore = 0, nextAfter = 0;
  std::vector<Change> changes;
};

std::string Encode(std::uint64_t id, const std::vector<FileChanges>& files);
// False when the bytes are not a whole journal.
bool Decode(const std::string& bytes, std::uint64_t& id, std::vector<FileChanges>& files);

// The journal file: written whole and synced; read; emptied and synced.
// Each returns 0 or an errno value.
int Write(int fd, const std::string& bytes);
int Read(int fd, std::string& bytes);
int Clear(int fd);

}  // namespace sono::btr::journal
