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

}  // namespace sono::btr
