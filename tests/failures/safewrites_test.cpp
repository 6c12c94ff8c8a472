// Failures that harm nothing: a write that fails, two runs on one input at
// once, a user's files of like names, what a killed run left, the map's
// spool, and zarn-batch's exit status for an output not written. The runs are
// whole ones, with the ellipsoid table and the GIS exports, as a user's are.

#include "analysisrun.h"
#include "gisexport.h"
#include "pointstore.h"
#include "recordingrun.h"
#include "recordstream.h"
#include "safefile.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace zarn;
using namespace zarn::probe;
namespace fs = std::filesystem;
using test::TempFolder;

namespace {

using test::PrintTo;

// Records enough to outgrow a small file size limit; `tag` changes every
// name, so that two runs' files differ.
std::string Records(int count, const std::string& tag)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        const std::string x = std::to_string(i % 170);
        text += "\"" + tag + std::to_string(i) + "\",\"s\",4\r\n" + x + ",0\r\n" + x + ".5,0\r\n" + x +
                ".5,1\r\n" + x + ",0\r\n";
    }
    return text;
}

struct WholeRun {
    RunOutcome outcome;
    RecordingHost host;
};

// A whole run of `dir`/in.bna with the ellipsoid table (where this build
// has it), the GIS exports in `formats` and, unless told not to, the map.
WholeRun RunIn(const TempFolder& dir, const std::vector<ExportFormat>& formats, bool withMap = true)
{
    auto ws = std::make_unique<Workspace>();
    RecordingCanvas canvas;
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    MapDrawing map(*ws, canvas, settings);
    WholeRun run{RunOutcome::Failed, RecordingHost(dir.File("in.bna"), "in.bna")};
    RunOptions options;
    options.geodesic = HaveEllipsoidFigures();
    const auto exports = MakeGisExports(formats, options.geodesic);
    for (const auto& e : exports) {
        options.outputs.push_back(e.get());
    }
    run.outcome = ProcessBnaFile(*ws, withMap ? &map : nullptr, run.host, options);
    return run;
}

std::map<std::string, std::string> Contents(const TempFolder& dir)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) {
        files[e.path().filename().string()] = test::ReadBytes(e.path());
    }
    return files;
}

std::vector<std::string> Names(const std::map<std::string, std::string>& files)
{
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        names.push_back(name);
    }
    return names;
}

const std::vector<ExportFormat> SomeFormats{ExportFormat::GeoPackage, ExportFormat::GeoJson,
                                            ExportFormat::Shapefile};

// A file size limit, as a full disk would, that one of the run's files
// outgrows: that file's earlier version stays whole and none of the new one
// is left, nor any temporary file; a classic file that fails takes its twin
// with it, so no torn record and no mix of two runs are left.
struct LimitCase {
    const char* name;
    rlim_t limit;                         // bytes
    std::vector<std::string> earlierStay;  // of the files the earlier run wrote
    const char* cause;                    // what the cause says
};

class WriteFailure : public testing::TestWithParam<LimitCase> {};

TEST_P(WriteFailure, LeavesEarlierFilesWhole)
{
    const LimitCase& c = GetParam();
    TempFolder dir;
    dir.Write("in.bna", Records(20, "early"));
    ASSERT_EQ(RunIn(dir, SomeFormats, false).outcome, RunOutcome::Completed);
    const auto earlier = Contents(dir);
    dir.Write("in.bna", Records(4000, "late"));

    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limited = before;
    limited.rlim_cur = c.limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const WholeRun run = RunIn(dir, SomeFormats, false);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);

    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    ASSERT_EQ(run.host.causes.size(), 1U);
    const std::string& cause = run.host.causes[0];
    EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
    const auto after = Contents(dir);
    ASSERT_EQ(Names(after), Names(earlier)) << "a file appeared or went";
    for (const std::string& name : c.earlierStay) {
        EXPECT_EQ(after.at(name), earlier.at(name)) << name;
        EXPECT_NE(cause.find("\n" + name + ": not written; the earlier file stays"), std::string::npos)
            << name << " in " << cause;
    }
    if (c.earlierStay.size() < 3) {
        // The classic files were not the failure: they are this run's.
        EXPECT_NE(after.at("inArea.csv"), earlier.at("inArea.csv"));
        EXPECT_NE(cause.find("\ninArea.csv: written by this run"), std::string::npos) << cause;
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileSizeLimit, WriteFailure,
    testing::Values(
        // The centroid file outgrows it first (its records are the longest).
        LimitCase{"classic_file",
                  64 * 1024,
                  {"inCentroid.bna", "inArea.csv", "inPolygons.geojson"},
                  "inCentroid.bna: File too large; the earlier file stays"},
        // The classic files and the table fit; the exports do not.
        LimitCase{"export_file",
                  480 * 1024,
                  {"in.gpkg", "inPolygons.geojson", "inPolygons.shp"},
                  "; the earlier file stays"}),
    [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

// Two runs on one input at once (the window and zarn-batch, or one path
// given twice) never fail over each other's files, and the set that stands
// is complete.
TEST(TwoRuns, OnOneInputAtOnceBothComplete)
{
    TempFolder dir;
    dir.Write("in.bna", Records(3000, "r"));
    ASSERT_EQ(RunIn(dir, SomeFormats).outcome, RunOutcome::Completed);
    const auto alone = Contents(dir);
    for (int round = 0; round < 3; ++round) {
        std::vector<RunOutcome> outcomes(2, RunOutcome::Failed);
        std::vector<std::string> causes(2);
        {
            std::vector<std::jthread> runs;
            for (std::size_t i = 0; i < 2; ++i) {
                runs.emplace_back([&, i] {
                    const WholeRun run = RunIn(dir, SomeFormats);
                    outcomes[i] = run.outcome;
                    causes[i] = run.host.causes.empty() ? "" : run.host.causes[0];
                });
            }
        }
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(outcomes[i], RunOutcome::Completed) << causes[i];
        }
        const auto both = Contents(dir);
        EXPECT_EQ(Names(both), Names(alone));
        for (const char* name : {"inCentroid.bna", "inArea.csv", "inGeodesic.csv", "inPolygons.geojson"}) {
            if (alone.contains(name)) {
                EXPECT_EQ(both.at(name), alone.at(name)) << name;
            }
        }
    }
}

// The one write policy on its own, over no file, an earlier file and a link
// to one: a commit puts the new bytes where the name leads (the link stays a
// link), a discard leaves what was there, and neither leaves anything else.
TEST(SafeFile, CommitReplacesAndDiscardKeeps)
{
    for (const bool earlier : {false, true}) {
        for (const bool link : {false, true}) {
            for (const bool commit : {false, true}) {
                SCOPED_TRACE(testing::Message() << "earlier " << earlier << ", link " << link << ", commit " << commit);
                TempFolder dir;
                if (earlier) {
                    dir.Write("target.csv", "earlier");
                }
                if (link) {
                    fs::create_symlink("target.csv", dir.path() / "name.csv");
                }
                const std::string name = dir.File(link ? "name.csv" : "target.csv");
                {
                    SafeFile file;
                    file.Open(name);
                    ASSERT_EQ(std::fputs("new", file.Stream()), 1);
                    if (commit) {
                        file.Commit();
                    }
                }
                const bool there = commit || earlier;
                EXPECT_EQ(fs::exists(dir.File("target.csv")), there);
                if (there) {
                    EXPECT_EQ(test::ReadBytes(dir.path() / "target.csv"), commit ? "new" : "earlier");
                }
                EXPECT_EQ(fs::is_symlink(dir.path() / "name.csv"), link);
                EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                          (there ? 1 : 0) + (link ? 1 : 0));
            }
        }
    }
}

// A name a temporary file of this machine's runs would have, of process
// `pid`.
std::string TemporaryOf(const TempFolder& dir, const std::string& name, long pid)
{
    std::string made = fs::path(TemporaryName(dir.File(name))).filename().string();
    const std::string mine = ".zarn-" + std::to_string(getpid()) + "-";
    return made.replace(made.find(mine), mine.size(), ".zarn-" + std::to_string(pid) + "-");
}

// A run removes what killed runs left in its folder, whatever it writes,
// and nothing else: not a user's files of like names, not the files of a
// process still there, not those of another machine.
TEST(Leftovers, OfKilledRunsGoAndNothingElse)
{
    TempFolder dir;
    dir.Write("in.bna", Records(3, "a"));
    const long gone = 4194305;  // above any process id Linux gives
    const std::vector<std::string> dead{TemporaryOf(dir, "inArea.csv", gone), TemporaryOf(dir, "in.gpkg", gone),
                                        TemporaryOf(dir, "in.gpkg", gone) + "-journal",
                                        TemporaryOf(dir, "otherPolygons.dbf", gone)};
    // The same, but for the machine's part of the name.
    std::string otherHost = TemporaryOf(dir, "inArea.csv", gone);
    const std::size_t host = otherHost.find(".zarn-") + std::string(".zarn-").size() + std::to_string(gone).size() + 1;
    otherHost.replace(host, 8, otherHost.compare(host, 8, "0badc0de") == 0 ? "1badc0de" : "0badc0de");
    const std::vector<std::string> kept{"in.partial.gpkg", "inArea.csv.zarn-part", "in.zarn-12-notours.csv",
                                        TemporaryOf(dir, "inArea.csv", 1), otherHost};
    for (const std::string& name : dead) {
        dir.Write(name, "left");
    }
    for (const std::string& name : kept) {
        dir.Write(name, "user's");
    }
    ASSERT_EQ(RunIn(dir, {ExportFormat::FlatGeobuf}).outcome, RunOutcome::Completed);
    for (const std::string& name : dead) {
        EXPECT_FALSE(fs::exists(dir.File(name))) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_EQ(test::ReadBytes(dir.File(name)), "user's") << name;
    }
}

// Whether this process holds a file open in `folder`.
bool HoldsFileIn(const fs::path& folder)
{
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && target.string().starts_with(folder.string() + "/")) {
            return true;
        }
    }
    return false;
}

// The map's spool goes where TMPDIR says, and a run that fails lets it go
// at once rather than at the next run.
TEST(Spool, FollowsTmpdirAndGoesWithAFailure)
{
    TempFolder spool;
    TempFolder dir;
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before != nullptr ? before : "";
    setenv("TMPDIR", spool.path().c_str(), 1);
    // Over the store's 4 MB in memory, then a record the file ends inside.
    std::string input;
    for (int r = 0; r < 400; ++r) {
        input += "\"R\",\"s\",2000\r\n";
        for (int p = 0; p < 2000; ++p) {
            input += std::to_string(p % 90) + ",1\r\n";
        }
    }
    dir.Write("in.bna", input + "\"cut\",\"s\",3\r\n0,0\r\n");

    auto ws = std::make_unique<Workspace>();
    RecordingCanvas canvas;
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    MapDrawing map(*ws, canvas, settings);
    struct Watching : RecordingHost {
        using RecordingHost::RecordingHost;
        void Progress(std::uint64_t, std::uint64_t) override { held = held || HoldsFileIn(folder); }
        fs::path folder;
        bool held = false;
    } host(dir.File("in.bna"), "in.bna");
    host.folder = spool.path();
    EXPECT_EQ(ProcessBnaFile(*ws, &map, host), RunOutcome::Failed);
    if (before != nullptr) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    EXPECT_TRUE(host.held) << "no spool in TMPDIR";
    for (int wait = 0; wait < 100 && HoldsFileIn(spool.path()); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // closed on a thread of its own
    }
    EXPECT_FALSE(HoldsFileIn(spool.path())) << "the spool outlived the failed run";
}

// zarn-batch as a script runs it: the exit status and standard error.
struct BatchCase {
    const char* name;
    std::string input;
    const char* args;
    int status;
    const char* says;  // on standard error
};

class BatchStatus : public testing::TestWithParam<BatchCase> {};

TEST_P(BatchStatus, TellsOfEveryOutputNotWritten)
{
    const BatchCase& c = GetParam();
    TempFolder dir;
    dir.Write("s.bna", c.input);
    dir.Write("s.partial.gpkg", "user's");
    const std::string command = "cd '" + dir.path().string() + "' && QT_QPA_PLATFORM=offscreen '" ZARN_BATCH_EXE
                                "' --no-progress " + std::string(c.args) + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    const std::string err = test::ReadBytes(dir.path() / "err.txt");
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(test::ReadBytes(dir.path() / "s.partial.gpkg"), "user's");
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) {
        EXPECT_FALSE(IsTemporaryName(e.path().filename().string())) << e.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, BatchStatus,
    testing::Values(
        BatchCase{"plane_coordinates_leave_out_geojson", "\"P\",\"\",4\r\n0,0\r\n500,0\r\n500,300\r\n0,0\r\n",
                  "--export geojson --export gpkg s.bna", 1,
                  "zarn-batch: s.bna: GeoJSON not written: the coordinates are not degrees"},
        BatchCase{"one_input_twice_at_once", Records(2000, "t"), "--jobs 2 --export gpkg s.bna s.bna", 0, ""}),
    [](const testing::TestParamInfo<BatchCase>& info) { return info.param.name; });

}  // namespace
