#pragma once
// Counts the syncs SQLite asks of the disk, and the transactions it commits to a write-ahead
// log, by the folder of the file: a file layer over SQLite's default one that passes every call
// on. For measuring (the benchmark), not for the programs: it is installed only when asked for.

#include <string>

namespace zeph::sqlite {

/// From now on every file SQLite opens is counted. Installs the layer once per process, as the
/// default for connections opened afterwards; those opened before are not counted.
void countDatabaseSyncs();
/// The syncs (xSync: one fsync or fdatasync each, the first sync of a new file also syncs its
/// folder) of files opened in `folder` or below since counting began.
long databaseSyncsUnder(const std::string &folder);
/// The transactions committed to the write-ahead logs of databases in `folder` or below since
/// counting began: the commit frames written. A transaction that changed nothing writes none.
long databaseCommitsUnder(const std::string &folder);

} // namespace zeph::sqlite
