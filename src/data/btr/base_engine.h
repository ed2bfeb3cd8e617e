// Which engine holds a base. A base is named by its data folder; the files
// of a folder nobody named here are LMDB files in that folder. A base on
// PostgreSQL keeps its files as tables of the database the connection string
// names, one table per physical file, named after the file ("FRADA22.bt6").
#pragma once
#include <string>

namespace sono::btr {

enum class EngineKind { Lmdb, Postgres };

struct BaseEngine {
  EngineKind kind = EngineKind::Lmdb;
  // libpq connection string ("host=/run/postgresql dbname=radio user=studio").
  std::string connection;
  // A file holding the password, readable by its owner only (mode 0600 or
  // stricter; anything wider is refused). Empty: libpq's own means
  // (~/.pgpass, PGPASSFILE, the connection string).
  std::string passwordFile;
};

// Names the engine of the base whose data folder is `folder` (a trailing "/"
// is ignored), for files opened or created from now on. An LMDB setting
// forgets the folder.
void SetBaseEngine(const std::string& folder, const BaseEngine& engine);
// The engine of the base `path` (a file's path) belongs to.
BaseEngine BaseEngineOf(const std::string& path);

// True when the physical file `path` exists in its engine: a file of the
// folder for LMDB, a table of the base's database for PostgreSQL (false
// too when the server cannot be reached).
bool FileExists(const std::string& path);

// Whether the base of `path` can be reached: always 0 for an LMDB base; for
// a PostgreSQL base a connection is made: 0, 3111 when the server cannot be
// reached, 46 when it refuses the credentials (or the password file is
// refused). `detail` receives why, in libpq's words (English).
int ReachServer(const std::string& path, std::string* detail = nullptr);

// Removes the physical file `path` from its engine: the data file for LMDB
// (its lock file stays, as the engine's lock files always do), the table and
// its row for PostgreSQL. Only for a file nobody has open (a copy taking back
// a file it created); 85 when this process has it open, 12 when absent.
int RemoveFile(const std::string& path);

}  // namespace sono::btr
