// The file locks: open file description locks on one byte, independent of
// the descriptors LMDB holds, so that processes (and opens within one
// process) see each other.
//
// On a data file (Env::fd):
//   byte 0  shared while the file is open; exclusive while it is being
//           replaced, opened exclusively (mode -4), or checked by its first
//           opener (a file not closed cleanly).
//   byte 1  exclusive while a process writes (the Env's gate); shared by a
//           first opener's check, to keep writers out meanwhile.
// On a base's journal file (Base::jfd): byte 0 is the base's gate, held by a
// transaction from begin to end and by a recovery.
#pragma once
#include <fcntl.h>
#include <sys/types.h>

#include <chrono>

namespace sono::btr {

struct Env;

// How long a call waits for a lock another process holds before status 85.
inline constexpr auto kBusyLimit = std::chrono::milliseconds(200);
// A first opener checking a file holds it alone meanwhile: others wait longer.
inline constexpr auto kOpenLimit = std::chrono::milliseconds(10000);

// Takes a lock on `byte` (F_RDLCK or F_WRLCK) without waiting.
bool tryLock(int fd, short type, off_t byte);
void unlock(int fd, off_t byte);
// Polls a lock for at most `limit`; false when still held by someone else.
bool lockWithin(int fd, short type, off_t byte, std::chrono::milliseconds limit = kBusyLimit);
// True when another opener holds a lock on byte 0 (has the file open).
bool othersHaveItOpen(int fd);

// The Env's write lock (byte 1): 0, or 85 when another writer keeps it.
int acquireGate(Env& e);
void releaseGate(Env& e);

}  // namespace sono::btr
