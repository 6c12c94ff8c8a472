#pragma once

class GDALDataset;

namespace zarn {

class RunHost;

// Lets the user end a run inside SQLite's long statements (the last commit
// of a GeoPackage, the building of its R-tree), which take seconds on a
// large file: while it lives, SQLite asks host.StopRequested() every few
// thousand instructions of a statement on `dataset` and interrupts the
// statement when the user asked to stop (GDAL then reports the statement as
// failed). Does nothing for a dataset that is not an SQLite database.
class SqliteStopCheck {
public:
    SqliteStopCheck(GDALDataset* dataset, RunHost& host);
    ~SqliteStopCheck();
    SqliteStopCheck(const SqliteStopCheck&) = delete;
    SqliteStopCheck& operator=(const SqliteStopCheck&) = delete;

private:
    void* db_ = nullptr;  // sqlite3*
};

}  // namespace zarn
