#include "journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "layout.h"

namespace sono::btr::journal {

namespace {

constexpr char kMagic[8] = {'S', 'N', 'T', 'K', 'J', 'R', 'N', '1'};
constexpr char kEnd[4] = {'F', 'I', 'N', '!'};

template <class T>
void put(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

class Reader {
 public:
  explicit Reader(const std::string& b) : b_(b) {}
  template <class T>
  bool get(T& v) {
    if (b_.size() - at_ < sizeof v) return false;
    std::memcpy(&v, b_.data() + at_, sizeof v);
    at_ += sizeof v;
    return true;
  }
  bool bytes(std::size_t n, std::string& out) {
    if (b_.size() - at_ < n) return false;
    out.assign(b_, at_, n);
    at_ += n;
    return true;
  }
  std::size_t at() const { return at_; }

 private:
  const std::string& b_;
  std::size_t at_ = 0;
};

}  // namespace

std::string Encode(std::uint64_t id, const std::vector<FileChanges>& files) {
  std::string out(kMagic, sizeof kMagic);
  put(out, id);
  put(out, static_cast<std::uint32_t>(files.size()));
  for (const FileChanges& f : files) {
    put(out, static_cast<std::uint16_t>(f.name.size()));
    out += f.name;
    put(out, f.nextBefore);
    put(out, f.nextAfter);
    put(out, static_cast<std::uint32_t>(f.changes.size()));
    for (const Change& c : f.changes) {
      put(out, c.pos);
      put(out, static_cast<std::uint8_t>(c.erased ? 1 : 0));
      put(out, static_cast<std::uint32_t>(c.value.size()));
      out += c.value;
    }
  }
  put(out, layout::Crc32c(0, out.data(), out.size()));
  out.append(kEnd, sizeof kEnd);
  return out;
}

bool Decode(const std::string& bytes, std::uint64_t& id, std::vector<FileChanges>& files) {
  files.clear();
  const std::size_t tail = sizeof(std::uint32_t) + sizeof kEnd;
  if (bytes.size() < sizeof kMagic + tail || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
      std::memcmp(bytes.data() + bytes.size() - sizeof kEnd, kEnd, sizeof kEnd) != 0)
    return false;
  std::uint32_t crc;
  std::memcpy(&crc, bytes.data() + bytes.size() - tail, sizeof crc);
  if (crc != layout::Crc32c(0, bytes.data(), bytes.size() - tail)) return false;
  const std::string body = bytes.substr(0, bytes.size() - tail);
  Reader r(body);
  std::string magic;
  std::uint32_t count = 0;
  if (!r.bytes(sizeof kMagic, magic) || !r.get(id) || !r.get(count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    FileChanges f;
    std::uint16_t nameLength = 0;
    std::uint32_t changes = 0;
    if (!r.get(nameLength) || !r.bytes(nameLength, f.name) || !r.get(f.nextBefore) || !r.get(f.nextAfter) ||
        !r.get(changes))
      return false;
    for (std::uint32_t j = 0; j < changes; ++j) {
      Change c;
      std::uint8_t erased = 0;
      std::uint32_t length = 0;
      if (!r.get(c.pos) || !r.get(erased) || !r.get(length) || !r.bytes(length, c.value)) return false;
      c.erased = erased != 0;
      f.changes.push_back(std::move(c));
    }
    files.push_back(std::move(f));
  }
  return r.at() == body.size();
}

int Write(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return errno;
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

int Read(int fd, std::string& bytes) {
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  bytes.assign(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      bytes.resize(done);
      return n < 0 ? errno : 0;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

int Clear(int fd) {
  if (::ftruncate(fd, 0) != 0) return errno;
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

}  // namespace sono::btr::journal
