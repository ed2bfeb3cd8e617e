// A second workstation for the station tests: its own process and its own
// connection to the base, doing what a workstation does with the song file.
//
//   station_worker CONNECTION count ROUNDS SONGS
//       adds 1 to the counter of every song, ROUNDS times; every third round
//       adds 1 to two songs in one transaction. Follows the retry rules:
//       80 (changed since read) -> read again and redo; 84/85 (locked) ->
//       wait a little and redo. Prints "retries <80> <84> <85>".
//   station_worker CONNECTION stale
//       reads song 0001, prints "read", waits for a line, then saves its
//       copy: prints the status, reads again, saves again, prints the status.
//   station_worker CONNECTION hold
//       begins a transaction, changes song 0001 and inserts 0009, prints
//       "held", waits for a line (the test ends the connection meanwhile),
//       then prints the statuses of: a change, a read of 0001 (and the
//       counter read), the end of the transaction, an insert of 0010.
//   station_worker CONNECTION put FILE
//       writes the record read from standard input into FILE: over the
//       record of the same key 0 (its first 8 bytes) when there is one,
//       else as a new record. Prints the status.
//   station_worker CONNECTION delete FILE KEY
//       deletes the record of key 0 KEY from FILE. Prints the status.
//   For put and delete, CONNECTION "lmdb" makes FILE the path of a file of
//   the embedded store; otherwise FILE is the name of a file of the base on
//   that PostgreSQL connection ("FRADA22.bt6").
//
// Records: code (1, 4), counter (5, 8 digits), name (13, 8).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

#include <unistd.h>

#include "base_engine.h"
#include "btr.h"

using namespace sono::btr;

namespace {

constexpr const char* kFolder = "/pg/worker";
constexpr int kMaxAttempts = 2000;

std::string Code(int song) {
  char b[16];
  std::snprintf(b, sizeof b, "%04d", song + 1);
  return b;
}

long Counter(const std::string& record) { return std::strtol(record.substr(4, 8).c_str(), nullptr, 10); }

std::string WithCounter(std::string record, long value) {
  char b[16];
  std::snprintf(b, sizeof b, "%08ld", value);
  record.replace(4, 8, b);
  return record;
}

struct Retries {
  long conflict = 0, recordLocked = 0, fileLocked = 0;
  // True when `st` is a status the rules say to retry (and counts it).
  bool retry(int st) {
    if (st == status::kConflict) ++conflict;
    else if (st == status::kRecordLocked) ++recordLocked;
    else if (st == status::kFileLocked) ++fileLocked;
    else return false;
    if (st != status::kConflict) std::this_thread::sleep_for(std::chrono::milliseconds(2 + std::rand() % 8));
    return true;
  }
};

[[noreturn]] void Fail(const char* what, int st) {
  std::printf("failed %s %d\n", what, st);
  std::fflush(stdout);
  std::exit(3);
}

// Reads `code` and writes it back with its counter plus one: 0 or the status.
int AddOne(File& f, const std::string& code) {
  std::string key = code, rec;
  int st = f.get(kGetEqual, 0, key, rec);
  if (st != 0) return st;
  return f.update(WithCounter(rec, Counter(rec) + 1));
}

int Count(File& f, int rounds, int songs) {
  Retries r;
  for (int round = 0; round < rounds; ++round) {
    for (int s = 0; s < songs; ++s) {
      const bool together = round % 3 == 2;
      for (int attempt = 0;; ++attempt) {
        if (attempt == kMaxAttempts) Fail("attempts", 0);
        int st;
        if (together) {
          st = f.beginTransaction();
          if (st == 0) st = AddOne(f, Code(s));
          if (st == 0) st = AddOne(f, Code((s + 1) % songs));
          if (st == 0) st = f.endTransaction();
          else f.abortTransaction();
        } else {
          st = AddOne(f, Code(s));
        }
        if (st == 0) break;
        if (!r.retry(st)) Fail(together ? "transaction" : "update", st);
      }
    }
  }
  std::printf("retries %ld %ld %ld\n", r.conflict, r.recordLocked, r.fileLocked);
  return 0;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void WaitForLine() {
  std::string line;
  std::getline(std::cin, line);
}

int Stale(File& f) {
  std::string key = "0001", mine;
  if (int st = f.get(kGetEqual, 0, key, mine)) Fail("read", st);
  Say("read");
  WaitForLine();
  const std::string changed = WithCounter(mine, Counter(mine) + 100);
  Say(std::to_string(f.update(changed)));
  std::string fresh;
  key = "0001";
  if (int st = f.get(kGetEqual, 0, key, fresh)) Fail("read again", st);
  Say(std::to_string(f.update(WithCounter(fresh, Counter(fresh) + 100))));
  return 0;
}

int Hold(File& f) {
  std::string key = "0001", rec;
  if (int st = f.get(kGetEqual, 0, key, rec)) Fail("read", st);
  if (int st = f.beginTransaction()) Fail("begin", st);
  if (int st = f.update(WithCounter(rec, 777))) Fail("update", st);
  std::string fresh = rec;
  fresh.replace(0, 4, "0009");
  if (int st = f.insert(fresh)) Fail("insert", st);
  Say("held");
  WaitForLine();
  key = "0001";
  std::string again;
  const int change = f.update(WithCounter(rec, 778));
  const int read = f.get(kGetEqual, 0, key, again);
  const int end = f.endTransaction();
  fresh.replace(0, 4, "0010");
  const int insert = f.insert(fresh);
  Say(std::to_string(change) + " " + std::to_string(read) + " " + std::to_string(Counter(again)) + " " +
      std::to_string(end) + " " + std::to_string(insert));
  return 0;
}

// Key 0 of the files put and delete work on: the first 8 bytes.
constexpr size_t kKeyZeroLength = 8;

int Put(File& f) {
  const std::string record((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (record.size() < kKeyZeroLength) Fail("record", 0);
  std::string key = record.substr(0, kKeyZeroLength), old;
  const int found = f.get(kGetEqual, 0, key, old);
  Say(std::to_string(found == status::kOk ? f.update(record) : f.insert(record)));
  return 0;
}

int Delete(File& f, const std::string& code) {
  std::string key = code, old;
  if (int st = f.get(kGetEqual, 0, key, old)) Fail("read", st);
  Say(std::to_string(f.remove()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::srand(static_cast<unsigned>(::getpid()));
  const std::string connection = argv[1], mode = argv[2];
  const bool lmdb = connection == "lmdb";
  if (!lmdb) SetBaseEngine(kFolder, BaseEngine{EngineKind::Postgres, connection, ""});
  File f;
  if ((mode == "put" || mode == "delete") && argc >= 4) {
    if (int st = f.open(lmdb ? std::string(argv[3]) : std::string(kFolder) + "/" + argv[3])) Fail("open", st);
    if (mode == "put" && argc == 4) return Put(f);
    if (mode == "delete" && argc == 5) return Delete(f, argv[4]);
    return 2;
  }
  if (lmdb) return 2;
  if (int st = f.open(std::string(kFolder) + "/FRADA22.bt6")) Fail("open", st);
  if (mode == "count" && argc == 5) return Count(f, std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "stale") return Stale(f);
  if (mode == "hold") return Hold(f);
  return 2;
}
