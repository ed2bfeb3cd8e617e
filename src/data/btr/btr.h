// Sonoteka record manager.
//
// One entry point with the classic call shape, BTRCALL, and a typed C++ layer
// over it (File, createFile, checkIntegrity). Files are LMDB environments in
// single-file mode; see README.md in this folder for the on-disk layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sono::btr {

// Operation codes.
enum Op : int {
  kOpen = 0,
  kClose = 1,
  kInsert = 2,
  kUpdate = 3,
  kDelete = 4,
  kGetEqual = 5,
  kGetNext = 6,
  kGetPrevious = 7,
  kGetGreater = 8,
  kGetGreaterOrEqual = 9,
  kGetLess = 10,
  kGetLessOrEqual = 11,
  kGetFirst = 12,
  kGetLast = 13,
  kCreate = 14,
  kStat = 15,
  kBeginTransaction = 19,
  kEndTransaction = 20,
  kAbortTransaction = 21,
  kGetPosition = 22,
  kGetDirect = 23,
  kStepNext = 24,
  kStepFirst = 33,
  kStepLast = 34,
  kStepPrevious = 35,
  kBeginConcurrentTransaction = 1019,
};

// Status codes returned by BTRCALL.
namespace status {
constexpr int kOk = 0;
constexpr int kInvalidOperation = 1;
constexpr int kIoError = 2;
constexpr int kNotOpen = 3;
constexpr int kKeyNotFound = 4;
constexpr int kDuplicateKey = 5;
constexpr int kBadKeyNumber = 6;
constexpr int kKeyNumberChanged = 7;
constexpr int kInvalidPositioning = 8;
constexpr int kEndOfFile = 9;
constexpr int kKeyNotModifiable = 10;
constexpr int kInvalidFileName = 11;
constexpr int kFileNotFound = 12;
constexpr int kDiskFull = 18;
constexpr int kKeyBufferTooShort = 21;
constexpr int kDataBufferTooShort = 22;
constexpr int kBadPageSize = 24;
constexpr int kCreateIoError = 25;
constexpr int kBadNumberOfKeys = 26;
constexpr int kBadKeyPosition = 27;
constexpr int kBadRecordLength = 28;
constexpr int kBadKeyLength = 29;
constexpr int kNotRecordManagerFile = 30;
constexpr int kTransactionError = 36;
constexpr int kTransactionActive = 37;
constexpr int kBadRecordAddress = 43;
constexpr int kAccessDenied = 46;
constexpr int kFileExists = 59;
constexpr int kConflict = 80;
constexpr int kRecordLocked = 84;
constexpr int kFileLocked = 85;
}  // namespace status

constexpr std::size_t kPositionBlockSize = 128;
constexpr std::size_t kCreationBlockSize = 160;  // 16-byte header + 9 segments
constexpr std::size_t kMaxKeyLength = 255;

// Open modes (key number of the open operation).
constexpr int kModeNormal = 0;
constexpr int kModeAccelerated = -1;
constexpr int kModeReadOnly = -2;
constexpr int kModeVerify = -3;
constexpr int kModeExclusive = -4;

// Key segment flags.
constexpr std::uint16_t kKeyDuplicates = 1;
constexpr std::uint16_t kKeyModifiable = 2;
constexpr std::uint16_t kKeyBinary = 4;
constexpr std::uint16_t kKeySegmented = 16;  // another segment of the same key follows
constexpr std::uint16_t kKeyDescending = 64;
constexpr std::uint16_t kKeyCaseInsensitive = 1024;

// The single entry point. `positionBlock` is the caller's 128-byte block;
// `dataLength` is the buffer length on entry and the length returned on exit;
// `keyBuffer` holds `keyLength` bytes (the classic callers pass 255).
int BTRCALL(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength,
            void* keyBuffer, int keyLength, int keyNumber);

// Text of a status, as the record manager words it.
const char* btrStatusText(int status);

// What the last status 2 of this thread was about ("…/FRADA22.bt6: key 5: key
// entry does not match its record"), for the log; empty when nothing is known.
const char* btrLastDamage();

// ---------------------------------------------------------------------------
// File definitions: the 160-byte creation block.

struct KeySegment {
  std::uint16_t position = 1;  // from 1
  std::uint16_t length = 0;
  std::uint16_t flags = 0;  // kKey* flags; kKeySegmented is managed by the encoder
};

struct KeyDef {
  std::vector<KeySegment> segments;
  bool duplicates() const { return !segments.empty() && (segments[0].flags & kKeyDuplicates); }
  bool modifiable() const { return !segments.empty() && (segments[0].flags & kKeyModifiable); }
  std::size_t length() const;
};

struct FileDef {
  std::uint16_t recordLength = 0;
  std::uint16_t pageSize = 4096;
  std::vector<KeyDef> keys;
};

// Builds the creation block: record length (bytes 0-1), page size (2-3),
// number of keys (4-5), then 16 bytes per segment (position 0-1, length 2-3,
// flags 4-5). The block is 160 bytes, or longer when more than nine segments
// are defined. The segmented flag is set on every segment but a key's last.
std::vector<std::uint8_t> encodeFileDef(const FileDef& def);

// Reads a creation block; returns a status (0, 22, 24, 26, 27, 28 or 29).
int decodeFileDef(const void* data, std::size_t length, FileDef& out);

// ---------------------------------------------------------------------------
// Typed access. Every method returns a status; the record and key strings
// hold bytes (Windows-1252 text inside records is not converted here).

class File {
 public:
  File();
  ~File();  // closes the file if it is open
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  int open(const std::string& path, int mode = kModeNormal);
  int close();
  bool isOpen() const { return open_; }
  std::uint32_t recordLength() const { return recordLength_; }

  // Writes. `keyNumber` selects the key path established (-1: none).
  int insert(std::string_view record, int keyNumber = 0);
  int update(std::string_view record, int keyNumber = 0);
  int remove(int keyNumber = 0);

  // Keyed reads: op is one of kGetEqual..kGetLast. `key` is the search value
  // on entry (for kGetEqual and the comparisons) and the found record's key on
  // return.
  int get(int op, int keyNumber, std::string& key, std::string& record);
  // Physical reads: kStepFirst, kStepLast, kStepNext, kStepPrevious.
  int step(int op, std::string& record);
  int position(std::uint32_t& physicalPosition);
  int getDirect(std::uint32_t physicalPosition, int keyNumber, std::string& key,
                std::string& record);
  // Definition of the open file, the number of records, and per key the
  // number of distinct values.
  int stat(FileDef& def, std::uint64_t& records, std::vector<std::uint64_t>* distinctPerKey = nullptr);

  int beginTransaction();
  int endTransaction();
  int abortTransaction();

  // The raw 128-byte block, for callers mixing both interfaces.
  char* positionBlock() { return block_; }

 private:
  char block_[kPositionBlockSize];
  bool open_ = false;
  std::uint32_t recordLength_ = 0;
  std::vector<std::size_t> keyLengths_;
  std::size_t keyLength(int keyNumber) const;
};

// Creates a record-manager file. With replaceExisting false an existing file
// gives status 59; with true it is replaced atomically unless it is in use (85).
int createFile(const std::string& path, const FileDef& def, bool replaceExisting = true);

// Checks a file without going through LMDB: every page (structure, order,
// counts; see pages.h), every record against its check value, every key entry
// against its record. `status` is 0 for a whole file, 2 when problems were
// found, or the status of reaching the file (12, 30, 46).
struct IntegrityReport {
  int status = 0;
  std::uint64_t records = 0;           // records read
  std::vector<std::string> problems;   // what is wrong, structure first (at most about 100 lines)
  bool ok() const { return status == 0 && problems.empty(); }
};
IntegrityReport checkIntegrity(const std::string& path);

// Rebuilds a damaged file from every record that can still be read (those of
// whole pages, and those of whole leaves cut off by a damaged branch) into a
// new file, checks the new file, renames it into place and keeps the damaged
// one beside it as "<file>.endommage-YYYYMMDD-HHMMSS". A whole file is left
// as it is. `fallback` is the definition used when the file's own is
// unreadable. Status 85 when the file is open (in this process or another).
struct RepairReport {
  int status = 0;
  std::uint64_t recovered = 0;  // records in the new file
  std::uint64_t expected = 0;   // records the damaged file's record table counted (0 unknown)
  std::uint64_t dropped = 0;    // damaged records left out
  std::string keptAs;           // the damaged file's name; empty when nothing was rebuilt
  std::vector<std::string> problems;  // what the check of the file found
};
RepairReport repairFile(const std::string& path, const FileDef* fallback = nullptr);

// Size of the memory map given to files opened from now on in this process
// (the map grows when it fills; this is its starting size).
void setInitialMapSize(std::size_t bytes);

// Windows-1252 case folding used by case-insensitive keys.
unsigned char foldCase1252(unsigned char c);

}  // namespace sono::btr
