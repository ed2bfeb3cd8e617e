// LMDB must never be used on a network file system: its lock file and its
// memory map are only safe among the processes of one machine. An LMDB base
// on a network share is refused, with a message naming the PostgreSQL
// setting a station network uses instead.
#pragma once
#include <string>

namespace sono::btr {

// The kind of network file system `folder` lies on ("nfs", "cifs"...), or
// "" for a local one (or when it cannot be told).
std::string NetworkFileSystemOf(const std::string& folder);

// The French message telling the user why an LMDB base in `folder` on file
// system `kind` is refused, and what to set instead.
std::string NetworkFolderMessage(const std::string& folder, const std::string& kind);

// The message of the last open or create of this thread refused because its
// folder is on a network file system; empty when the last one was not.
const char* btrLastRefusal();

// Tests: file systems of type `fsType` (statfs's f_type) are taken as the
// network file system named `kind`; 0 ends the stand-in.
void SetNetworkFileSystemStandIn(long fsType, const std::string& kind = "nfs");

}  // namespace sono::btr
