#include "gisexport.h"

#include "analysisrun.h"
#include "exportfiles.h"
#include "exportrows.h"
#include "exportschema.h"
#include "exportwriter.h"
#include "gdalmessages.h"
#include "regionshape.h"
#include "runerror.h"
#include "sqlitestop.h"

#include <gdal_priv.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <optional>

namespace zarn {

using namespace gis;

namespace {

// "3 \"a\", 7 \"b\" and 5 more"
std::string QuotedList(const std::vector<std::string>& quoted, std::uint64_t count)
{
    std::string line;
    for (const std::string& q : quoted) {
        if (!line.empty()) {
            line += ", ";
        }
        line += q;
    }
    if (count > quoted.size()) {
        line += " and " + std::to_string(count - quoted.size()) + " more";
    }
    return (count == 1 ? "record " : "records ") + line;
}

void RegisterDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

}  // namespace

GisExport::GisExport(std::vector<ExportFormat> formats, bool geodesic, std::shared_ptr<ExportNotes> notes)
    : formats_(std::move(formats)), geodesic_(geodesic), notes_(std::move(notes))
{
    ++notes_->exports;
}

std::vector<std::unique_ptr<GisExport>> MakeGisExports(const std::vector<ExportFormat>& formats, bool geodesic)
{
    std::vector<std::unique_ptr<GisExport>> exports;
    const auto notes = std::make_shared<GisExport::ExportNotes>();
    for (ExportFormat format : formats) {
        exports.push_back(std::make_unique<GisExport>(std::vector<ExportFormat>{format}, geodesic, notes));
    }
    return exports;
}

GisExport::~GisExport()
{
    Abandon();
    --notes_->exports;
}

void GisExport::Open(const OutputNames& names, const std::string& inputPath, RunHost& /*host*/)
{
    Abandon();
    {
        const std::lock_guard lock(notes_->hugeWriting);
        notes_->hugeUnordered = false;
    }
    names_ = names;
    inputPath_ = inputPath;
    recordNumber_ = 0;
    recoded_.clear();
    recodedCount_ = 0;
    cut_.clear();
    cutCount_ = 0;
    summary_.clear();
    skipped_.clear();
    files_.clear();
    coordinatesKnown_ = false;
    asText_ = false;
    viaGdal_ = false;
    hugeTurn_ = 0;
    RegisterDrivers();
    GdalMessages messages;
    try {
        for (ExportFormat format : formats_) {
            auto target = std::make_unique<Target>(Info(format));
            Target& t = *target;
            targets_.push_back(std::move(target));
            if (t.info.oneFile) {
                // Its layers come with their first rows.
                CreateFile(t, 0, "", names_, inputPath_, messages);
                StartTransaction(*t.files[0], messages);
            }
        }
        writer_ = std::make_unique<Writer>(*this);
    } catch (...) {
        Abandon();
        throw;
    }
}

void GisExport::Complete(RunHost& host)
{
    notes_->shared.reset();
    if (writer_) {
        writer_->Finish();
        writer_.reset();
    }
    {
        // Not while another export writes a huge record: a GeoPackage's
        // spatial index reads every geometry back.
        const std::lock_guard one(notes_->hugeWriting);
        GdalMessages messages;
        // Every file complete before the first is renamed, so that a failure
        // leaves none of this run's files under its final name. The user may
        // end the run inside SQLite's statements or between GDAL's calls (the
        // files are then abandoned).
        for (const std::unique_ptr<Target>& target : targets_) {
            for (const std::unique_ptr<File>& file : target->files) {
                if (!file) {
                    continue;
                }
                {
                    const SqliteStopCheck stopCheck(file->ds.get(), host);
                    CommitTransaction(*file, messages);
                    BuildSpatialIndexes(*target, *file, messages);
                }
                if (host.StopRequested()) {
                    return;
                }
                messages.Clear();
                if (!CloseDataset(*file) || !messages.Failure().empty()) {
                    messages.Fail(file->finalPath, "cannot close it");
                }
            }
        }
    }
    completed_ = true;
    if (!notes_->namesTold && recodedCount_ > 0) {
        notes_->namesTold = true;
        host.AppendProgress("Export: names that are not UTF-8 read as Windows-1252 in " +
                            QuotedList(recoded_, recodedCount_) + ".");
    }
    if (!notes_->rebuiltTold && !shapeCheck_.Note().empty()) {
        notes_->rebuiltTold = true;
        host.AppendProgress(shapeCheck_.Note());
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        if (target->info.format != ExportFormat::Shapefile) {
            continue;
        }
        if (!target->renamedFields.empty()) {
            std::string line = "Export: the Shapefile's field names are cut to 10 characters: ";
            for (std::size_t i = 0; i < target->renamedFields.size(); ++i) {
                line += (i == 0 ? "" : ", ") + target->renamedFields[i];
            }
            host.AppendProgress(line + ".");
        }
        if (cutCount_ > 0) {
            host.AppendProgress("Export: the Shapefile's names are cut to 254 bytes in " +
                                QuotedList(cut_, cutCount_) + ".");
        }
    }
}

void GisExport::Close(RunHost& host)
{
    if (!completed_) {
        Complete(host);
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        for (const std::unique_ptr<File>& file : target->files) {
            if (!file) {
                continue;
            }
            if (std::none_of(target->created.begin(), target->created.end(), [](bool c) { return c; })) {
                // No layer has rows (a file without records): no file, as in the other formats.
                RemoveTemporary(*target, *file);
                file->renamed = true;
                continue;
            }
            PutInPlace(*target, *file);
            file->renamed = true;
            files_.push_back({file->finalPath, true});
            std::string& line = summary_.emplace_back(1, '\t');
            line.append(target->info.title).append(": \t").append(file->finalPath, names_.outputFolder.size());
        }
    }
    targets_.clear();
}

void GisExport::Unorder() noexcept
{
    {
        const std::lock_guard lock(notes_->hugeWriting);
        notes_->hugeUnordered = true;
    }
    notes_->hugeWritten.notify_all();
}

void GisExport::Abandon() noexcept
{
    Unorder();
    writer_.reset();
    notes_->shared.reset();
    GdalMessages messages;
    for (const std::unique_ptr<Target>& target : targets_) {
        for (const std::unique_ptr<File>& file : target->files) {
            if (!file || file->renamed) {
                continue;
            }
            file->ds.reset();
            file->text.reset();
            RemoveTemporary(*target, *file);
            try {
                files_.push_back({file->finalPath, false});
            } catch (const std::bad_alloc&) {
                // The run's list of its files misses one; the file is gone all the same.
            }
        }
    }
    targets_.clear();
}

void GisExport::AppendSummary(RunHost& host)
{
    for (const std::string& line : summary_) {
        host.AppendSummary(line);
    }
    // The formats left out, told once by the first of them.
    if (!skipped_.empty() && !notes_->skippedTold) {
        notes_->skippedTold = true;
        std::string formats;
        for (std::size_t i = 0; i < notes_->skipped.size(); ++i) {
            formats += i == 0 ? "" : i + 1 == notes_->skipped.size() ? " and " : ", ";
            formats += notes_->skipped[i];
        }
        host.AppendSummary("\t" + formats + ": \tnot written: the coordinates are not degrees (a latitude lies beyond 90), and " +
                           (notes_->skipped.size() == 1 ? "this format holds" : "these formats hold") +
                           " longitude and latitude only");
    }
}

}  // namespace zarn
