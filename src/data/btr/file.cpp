// Typed access over BTRCALL.
#include <algorithm>
#include <cstring>

#include "btr.h"

namespace sono::btr {

namespace {

std::string pathKey(const std::string& path) {
  std::string key = path;
  if (key.size() < kMaxKeyLength) key.resize(kMaxKeyLength, ' ');
  return key;
}

}  // namespace

File::File() { std::memset(block_, ' ', sizeof block_); }

File::~File() {
  if (open_) close();
}

int File::open(const std::string& path, int mode) {
  if (open_) close();
  std::memset(block_, ' ', sizeof block_);
  std::string key = pathKey(path);
  std::uint32_t len = 0;
  int s = BTRCALL(kOpen, block_, nullptr, len, key.data(), static_cast<int>(key.size()), mode);
  if (s != status::kOk) return s;
  open_ = true;
  FileDef def;
  std::uint64_t records = 0;
  s = stat(def, records);
  if (s != status::kOk) {
    close();
    return s;
  }
  recordLength_ = def.recordLength;
  keyLengths_.clear();
  for (const KeyDef& k : def.keys) keyLengths_.push_back(k.length());
  return status::kOk;
}

std::size_t File::keyLength(int keyNumber) const {
  if (keyNumber < 0 || std::size_t(keyNumber) >= keyLengths_.size()) return 0;
  return keyLengths_[keyNumber];
}

int File::close() {
  std::uint32_t len = 0;
  int s = BTRCALL(kClose, block_, nullptr, len, nullptr, 0, 0);
  open_ = false;
  recordLength_ = 0;
  keyLengths_.clear();
  return s;
}

int File::insert(std::string_view record, int keyNumber) {
  std::string data(record);
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  char key[kMaxKeyLength];
  return BTRCALL(kInsert, block_, data.data(), len, key, sizeof key, keyNumber);
}

int File::update(std::string_view record, int keyNumber) {
  std::string data(record);
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  char key[kMaxKeyLength];
  return BTRCALL(kUpdate, block_, data.data(), len, key, sizeof key, keyNumber);
}

int File::remove(int keyNumber) {
  std::uint32_t len = 0;
  char key[kMaxKeyLength];
  return BTRCALL(kDelete, block_, nullptr, len, key, sizeof key, keyNumber);
}

int File::get(int op, int keyNumber, std::string& key, std::string& record) {
  char keyBuf[kMaxKeyLength];
  std::memset(keyBuf, 0, sizeof keyBuf);
  std::memcpy(keyBuf, key.data(), std::min(key.size(), sizeof keyBuf));
  record.assign(recordLength_, '\0');
  std::uint32_t len = recordLength_;
  int s = BTRCALL(op, block_, record.data(), len, keyBuf, sizeof keyBuf, keyNumber);
  if (s == status::kOk) {
    record.resize(len);
    key.assign(keyBuf, keyLength(keyNumber));
  } else {
    record.clear();
  }
  return s;
}

int File::step(int op, std::string& record) {
  record.assign(recordLength_, '\0');
  std::uint32_t len = recordLength_;
  char keyBuf[kMaxKeyLength];
  int s = BTRCALL(op, block_, record.data(), len, keyBuf, sizeof keyBuf, 0);
  if (s == status::kOk)
    record.resize(len);
  else
    record.clear();
  return s;
}

int File::position(std::uint32_t& physicalPosition) {
  std::uint32_t len = 4;
  char keyBuf[kMaxKeyLength];
  return BTRCALL(kGetPosition, block_, &physicalPosition, len, keyBuf, sizeof keyBuf, 0);
}

int File::getDirect(std::uint32_t physicalPosition, int keyNumber, std::string& key, std::string& record) {
  record.assign(std::max<std::uint32_t>(recordLength_, 4), '\0');
  std::memcpy(record.data(), &physicalPosition, 4);
  std::uint32_t len = static_cast<std::uint32_t>(record.size());
  char keyBuf[kMaxKeyLength];
  std::memset(keyBuf, 0, sizeof keyBuf);
  int s = BTRCALL(kGetDirect, block_, record.data(), len, keyBuf, sizeof keyBuf, keyNumber);
  if (s == status::kOk) {
    record.resize(len);
    key.assign(keyBuf, keyLength(keyNumber));
  } else {
    record.clear();
  }
  return s;
}

int File::stat(FileDef& def, std::uint64_t& records, std::vector<std::uint64_t>* distinctPerKey) {
  std::vector<std::uint8_t> buf(16 + 16 * 256);
  std::uint32_t len = static_cast<std::uint32_t>(buf.size());
  char keyBuf[kMaxKeyLength];
  int s = BTRCALL(kStat, block_, buf.data(), len, keyBuf, sizeof keyBuf, 0);
  if (s != status::kOk) return s;
  s = decodeFileDef(buf.data(), len, def);
  if (s != status::kOk) return s;
  std::uint32_t n;
  std::memcpy(&n, &buf[6], 4);
  records = n;
  if (distinctPerKey) {
    distinctPerKey->clear();
    std::size_t at = 16;
    for (const KeyDef& k : def.keys) {
      std::memcpy(&n, &buf[at + 6], 4);
      distinctPerKey->push_back(n);
      at += 16 * k.segments.size();
    }
  }
  return status::kOk;
}

int File::beginTransaction() {
  std::uint32_t len = 0;
  return BTRCALL(kBeginTransaction, block_, nullptr, len, nullptr, 0, 0);
}

int File::endTransaction() {
  std::uint32_t len = 0;
  return BTRCALL(kEndTransaction, block_, nullptr, len, nullptr, 0, 0);
}

int File::abortTransaction() {
  std::uint32_t len = 0;
  return BTRCALL(kAbortTransaction, block_, nullptr, len, nullptr, 0, 0);
}

int createFile(const std::string& path, const FileDef& def, bool replaceExisting) {
  std::vector<std::uint8_t> block = encodeFileDef(def);
  std::string key = pathKey(path);
  std::uint32_t len = static_cast<std::uint32_t>(block.size());
  return BTRCALL(kCreate, nullptr, block.data(), len, key.data(), static_cast<int>(key.size()),
                 replaceExisting ? 0 : -1);
}

}  // namespace sono::btr
