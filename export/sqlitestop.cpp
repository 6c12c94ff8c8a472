#include "sqlitestop.h"

#include "analysisrun.h"

#include <gdal_priv.h>
#include <sqlite3.h>

namespace zarn {

namespace {

// About a millisecond of an R-tree insert between two questions.
constexpr int InstructionsPerAsk = 20000;

int AskToStop(void* host)
{
    return static_cast<RunHost*>(host)->StopRequested() ? 1 : 0;
}

}  // namespace

SqliteStopCheck::SqliteStopCheck(GDALDataset* dataset, RunHost& host)
{
    // GDAL's GeoPackage driver hands out its connection (the system's SQLite,
    // which GDAL links); other drivers have none.
    auto* db = dataset != nullptr ? static_cast<sqlite3*>(dataset->GetInternalHandle("SQLITE_HANDLE")) : nullptr;
    if (db != nullptr) {
        sqlite3_progress_handler(db, InstructionsPerAsk, &AskToStop, &host);
        db_ = db;
    }
}

SqliteStopCheck::~SqliteStopCheck()
{
    if (db_ != nullptr) {
        sqlite3_progress_handler(static_cast<sqlite3*>(db_), 0, nullptr, nullptr);
    }
}

}  // namespace zarn
