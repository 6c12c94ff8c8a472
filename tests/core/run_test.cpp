#include "analysisrun.h"
#include "recordingrun.h"
#include "resultfiles.h"
#include "runerror.h"
#include "runoutput.h"
#include "safefile.h"
#include "testfiles.h"
#include "workspace.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <csignal>
#include <exception>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::PrintTo;
using test::ReadBytes;
using Lines = std::vector<std::string>;
using probe::RecordingHost;

// The map half as a run drives it: the extents it is handed, and the area
// file as it stands when the drawing starts.
class RecordingMap : public MapStage {
public:
    explicit RecordingMap(std::string areaPath) : areaPath_(std::move(areaPath)) {}

    void ResetMapExtent() override { calls.push_back("reset"); }
    void GrowMapExtent(const PolygonRecord& p) override
    {
        calls.push_back("grow " + Text(p.minX) + " " + Text(p.maxX) + " " + Text(p.minY) + " " + Text(p.maxY));
    }
    bool DrawMap(RunHost& /*host*/) override
    {
        calls.push_back("draw");
        areaFileWhenDrawn = ReadBytes(areaPath_);
        if (drawThrows) {
            std::rethrow_exception(drawThrows);
        }
        return drawSucceeds;
    }
    void SaveMap(const std::string& path) override { calls.push_back("save " + path); }

    Lines calls;
    std::string areaFileWhenDrawn;
    bool drawSucceeds = true;
    std::exception_ptr drawThrows;  // thrown before the drawing's own trap

private:
    static std::string Text(float v)
    {
        char buf[32];
        return {buf, std::to_chars(buf, buf + sizeof buf, v).ptr};
    }
    std::string areaPath_;
};

class AnalysisRun : public testing::Test {
protected:
    // Runs on `input` saved as `title`; the input must come out unchanged.
    RunOutcome Run(std::string_view input, const std::string& title = "in.bna", MapStage* map = nullptr,
                   const RunOptions& options = {})
    {
        const std::string path = dir.Write(title, input);
        host = std::make_unique<RecordingHost>(path, title);
        const RunOutcome outcome = ProcessBnaFile(*ws, map, *host, options);
        EXPECT_EQ(ReadBytes(path), input) << "the input is never written";
        return outcome;
    }
    std::string Open() const { return " Open " + dir.File("in.bna"); }
    std::string AreaFile() const { return ReadBytes(dir.File("inArea.csv")); }
    std::string CentroidFile() const { return ReadBytes(dir.File("inCentroid.bna")); }
    void ExpectFailed(RunOutcome outcome) const
    {
        EXPECT_EQ(outcome, RunOutcome::Failed);
        EXPECT_EQ(host->messages, Lines{std::string(RunFailedMessage)});
        EXPECT_TRUE(host->summary.empty());
        EXPECT_TRUE(host->causes.size() == 1 && !host->causes[0].empty());
    }

    test::TempFolder dir;
    std::unique_ptr<Workspace> ws = std::make_unique<Workspace>();
    std::unique_ptr<RecordingHost> host;
};

// One point record, and what a run reports and writes for it.
constexpr std::string_view RecordA = "\"A\",\"B\",1\r\n3,4\r\n";
const Lines ReadA{"Read polygon A with 1 points.", "Area (sq km): 0", "Center of Gravity: (3, 4)"};
constexpr std::string_view AreaA = "\"A\", \"B\", 0\r\n";

// A record of n points along the equator: no area, exactly.
std::string Record(const std::string& name, int n)
{
    std::string r = "\"" + name + "\",\"x\"," + std::to_string(n) + "\r\n";
    for (int k = 0; k < n; ++k) {
        r += std::to_string(k % 2) + ",0\r\n";
    }
    return r;
}

TEST(OutputNames, FormedFromTheTitleLessItsLastFourCharacters)
{
    const OutputNames n = DeriveOutputNames("/data/gis/regions.bna", "regions.bna");
    EXPECT_EQ(n.outputFolder, "/data/gis/");
    EXPECT_EQ(n.baseName, "regions");
    EXPECT_EQ(n.centroidPath, "/data/gis/regionsCentroid.bna");
    EXPECT_EQ(n.areaPath, "/data/gis/regionsArea.csv");
    EXPECT_EQ(n.mapPath, "/data/gis/regionsMap.bmp");
    EXPECT_EQ(DeriveOutputNames("/d/coast.txt2", "coast.txt2").baseName, "coast.");
    EXPECT_EQ(DeriveOutputNames("/d/abcd", "abcd").baseName, "");
    EXPECT_EQ(DeriveOutputNames("/d/K\xC3\xB6ln.bna", "K\xC3\xB6ln.bna").baseName, "K\xC3\xB6ln");
    EXPECT_THROW(DeriveOutputNames("/d/abc", "abc"), RunError);
}

TEST_F(AnalysisRun, ExampleRingsGiveTheirListsAndFilesExactly)
{
    EXPECT_EQ(Run(test::ExampleRings), RunOutcome::Completed);
    EXPECT_EQ(host->progress, (Lines{Open(), "Read polygon First with 5 points.", "Area (sq km): 12363.829",
                                     "Center of Gravity: (0.5, 0.5)", "Read polygon Box with 5 points.",
                                     "Area (sq km): 15729.324", "Center of Gravity: (11, 50.5)",
                                     "Read polygon Triangle with 4 points.", "Area (sq km): 24724.835",
                                     "Center of Gravity: (0.667, 0.667)"}));
    EXPECT_EQ(host->summary, (Lines{" ", "The following files are written to your hard disk",
                                    " at the folder " + (dir.path() / "").string(), " based on the input from in.bna:",
                                    "\tCentroids: \tinCentroid.bna", "\tAreas (sq km): \tinArea.csv"}));
    EXPECT_EQ(host->order, "PPPPPPPPPPBSSSSSSR");
    EXPECT_EQ(AreaFile(), test::ExampleAreaFile);
    EXPECT_EQ(CentroidFile(), test::ExampleCentroidFile);
}

// A host whose progress lines go nowhere gets none of them built, and the
// files and the summary are those of a run that shows them.
TEST_F(AnalysisRun, QuietHostGetsNoLinesAndTheSameFiles)
{
    for (const bool geodesic : {false, true}) {
        if (geodesic && !HaveEllipsoidFigures()) {
            continue;
        }
        RunOptions options;
        options.geodesic = geodesic;
        const std::string input = std::string(test::ExampleRings) + Record("Long", MaxPoints + 1);
        const std::string path = dir.Write("in.bna", input);
        std::vector<std::string> files[2];
        Lines summaries[2];
        for (const bool shows : {true, false}) {
            RecordingHost quiet(path, "in.bna");
            quiet.showsProgress = shows;
            EXPECT_EQ(ProcessBnaFile(*ws, nullptr, quiet, options), RunOutcome::Completed);
            if (!shows) {
                EXPECT_EQ(quiet.progress, Lines{Open()});
            }
            for (const char* name : {"inArea.csv", "inCentroid.bna", "inGeodesic.csv"}) {
                files[shows ? 0 : 1].push_back(ReadBytes(dir.File(name)));
            }
            summaries[shows ? 0 : 1] = quiet.summary;
        }
        EXPECT_EQ(files[0], files[1]) << geodesic;
        EXPECT_EQ(summaries[0], summaries[1]) << geodesic;
    }
}

// A host that does not watch its lines as they come gets them, the files
// and the map's extent as a watching host does, where the reading decides
// whether the coordinates are degrees: never shown otherwise, shown by the
// first record, or by the last after megabytes of lines kept back.
TEST_F(AnalysisRun, UnwatchedHostGetsTheLinesAndFilesOfAWatchedOne)
{
    if (!HaveEllipsoidFigures()) {
        GTEST_SKIP() << "built without GeographicLib";
    }
    std::string degrees;
    for (int i = 0; i < 8000; ++i) {
        degrees += test::ExampleRings;
    }
    const std::string plane = "\"Far\",\"x\",4\r\n5e5,4e6\r\n5.1e5,4e6\r\n5.1e5,4.1e6\r\n5e5,4e6\r\n";
    for (const std::string& input : {degrees, plane + degrees, degrees + plane}) {
        const std::string path = dir.Write("in.bna", input);
        Lines progress[2];
        Lines calls[2];
        std::vector<std::string> files[2];
        for (const bool watched : {true, false}) {
            RecordingHost recording(path, "in.bna");
            recording.linesWatched = watched;
            RecordingMap map(dir.File("inArea.csv"));
            EXPECT_EQ(ProcessBnaFile(*ws, &map, recording, RunOptions{true, {}}), RunOutcome::Completed);
            progress[watched ? 0 : 1] = recording.progress;
            const auto lastReset = std::find(map.calls.rbegin(), map.calls.rend(), "reset").base();
            calls[watched ? 0 : 1].assign(lastReset, map.calls.end());
            for (const char* name : {"inArea.csv", "inCentroid.bna", "inGeodesic.csv"}) {
                files[watched ? 0 : 1].push_back(ReadBytes(dir.File(name)));
            }
        }
        EXPECT_EQ(progress[0], progress[1]);
        EXPECT_EQ(calls[0], calls[1]);
        EXPECT_EQ(files[0], files[1]);
    }
}

TEST_F(AnalysisRun, NamesGoBackByteForByteAndDirectionDoesNotChangeTheArea)
{
    const std::string names = "\"Z\xFCrich\", \"\xC3\xA9t\xC3\xA9, \xE2\x82\xAC\"";
    EXPECT_EQ(Run("\"Z\xFCrich\",\"\xC3\xA9t\xC3\xA9, \xE2\x82\xAC\",5\r\n0,0\r\n0,1\r\n1,1\r\n1,0\r\n0,0\r\n"
                  "Empty,  x ,0\r\n"),
              RunOutcome::Completed);
    EXPECT_EQ(AreaFile(), names + ", 12363.829\r\n\"Empty\", \"x\", 0\r\n");
    EXPECT_EQ(CentroidFile(), "\"Z\xFCrich Centroid\", \"\xC3\xA9t\xC3\xA9, \xE2\x82\xAC\", 1\r\n0.5, 0.5\r\n"
                              "\"Empty Centroid\", \"x\", 1\r\n0, 0\r\n");
}

TEST_F(AnalysisRun, NegativeCountReadsPastItsPointsAndReportsZero)
{
    EXPECT_EQ(Run("\"L\",\"B\",-2\r\n7,8\r\n9,10\r\n" + std::string(RecordA)), RunOutcome::Completed);
    EXPECT_EQ(AreaFile(), "\"L\", \"B\", 0\r\n" + std::string(AreaA));
    EXPECT_EQ(CentroidFile(), "\"L Centroid\", \"B\", 1\r\n0, 0\r\n\"A Centroid\", \"B\", 1\r\n3, 4\r\n");
}

TEST_F(AnalysisRun, EmptyInputGivesEmptyFilesAndTheSummary)
{
    EXPECT_EQ(Run(""), RunOutcome::Completed);
    EXPECT_EQ(host->progress, Lines{Open()});
    EXPECT_EQ(host->summary.size(), 6U);
    EXPECT_TRUE(fs::exists(dir.File("inArea.csv")));
    EXPECT_EQ(AreaFile() + CentroidFile(), "");
}

TEST_F(AnalysisRun, RecordOverTheLimitIsReportedAndSkipped)
{
    EXPECT_EQ(Run(Record("Max", 20000) + Record("Big", 20001) + std::string(RecordA)), RunOutcome::Completed);
    Lines progress{Open(),
                   "Read polygon Max with 20000 points.",
                   "Area (sq km): 0",
                   "Center of Gravity: (0.5, 0)",
                   "Read polygon Big with 20001 points.",
                   "",
                   "The polygon Big consists of 20001 points.",
                   "ZARN can treat only polygons with up to 20000 points.",
                   "Therefore this polygon is skipped.",
                   ""};
    progress.insert(progress.end(), ReadA.begin(), ReadA.end());
    EXPECT_EQ(host->progress, progress);
    EXPECT_EQ(AreaFile(), "\"Max\", \"x\", 0\r\n" + std::string(AreaA));
    EXPECT_EQ(host->messages, Lines{"There was at least one polygon with too many points (>20000)."});
    EXPECT_TRUE(host->order.ends_with("BSSSSSS!R")) << "the warning comes after the summary";
    EXPECT_EQ(ws->pointX[20000], 0.0F) << "the spare slot is never written";
}

struct FailureCase {
    const char* name;
    std::string_view input;
    Lines progress;  // after the " Open " line
    std::string_view areaFile;
};

class Failures : public AnalysisRun, public testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, EndTheRunAndKeepWhatWasWritten)
{
    ExpectFailed(Run(GetParam().input));
    Lines progress{Open()};
    progress.insert(progress.end(), GetParam().progress.begin(), GetParam().progress.end());
    EXPECT_EQ(host->progress, progress);
    EXPECT_EQ(AreaFile(), GetParam().areaFile);
}

INSTANTIATE_TEST_SUITE_P(
    AnalysisRun, Failures,
    testing::Values(
        FailureCase{"file_ends_inside_a_header", "\"A\",\"B\",1\r\n3,4\r\n\"C\",\"D\"\r\n", ReadA, AreaA},
        FailureCase{"file_ends_inside_the_points", "\"A\",\"B\",1\r\n3,4\r\n\"C\",\"D\",3\r\n1,2\r\n",
                    {ReadA[0], ReadA[1], ReadA[2], "Read polygon C with 3 points."}, AreaA},
        FailureCase{"file_ends_while_skipping", "\"A\",\"B\",20001\r\n1,2\r\n",
                    {"Read polygon A with 20001 points.", "", "The polygon A consists of 20001 points.",
                     "ZARN can treat only polygons with up to 20000 points.", "Therefore this polygon is skipped.", ""},
                    ""},
        FailureCase{"file_ends_while_reading_past_a_negative_count", "\"A\",\"B\",-2\r\n1,2\r\n",
                    {"Read polygon A with -2 points."}, ""},
        FailureCase{"count_overflows_32_bits", "\"A\",\"B\",1\r\n3,4\r\n\"C\",\"D\",2147483648\r\n", ReadA, AreaA},
        FailureCase{"count_of_1e10", "\"C\",\"D\",1e10\r\n", {}, ""},
        FailureCase{"coordinate_too_large_for_a_float", "\"A\",\"B\",1\r\n3,4\r\n\"C\",\"D\",1\r\n1e39,0\r\n",
                    {ReadA[0], ReadA[1], ReadA[2], "Read polygon C with 1 points."}, AreaA},
        FailureCase{"coordinate_that_overflows_the_projection", "\"C\",\"D\",2\r\n-3e38,0\r\n3e38,0\r\n",
                    {"Read polygon C with 2 points."}, ""},
        FailureCase{"unterminated_quote", "\"A\",\"B\",1\r\n3,4\r\n\"C,D,1\r\n0,0\r\n", ReadA, AreaA}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AnalysisRun, TitleShorterThanFourCharactersFailsBeforeAnything)
{
    ExpectFailed(Run(RecordA, "abc"));
    EXPECT_TRUE(host->progress.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "no result file";
}

TEST_F(AnalysisRun, VanishedInputFailsAfterTheOpenLine)
{
    host = std::make_unique<RecordingHost>(dir.File("in.bna"), "in.bna");
    ExpectFailed(ProcessBnaFile(*ws, nullptr, *host));
    EXPECT_EQ(host->progress, Lines{Open()});
    EXPECT_FALSE(fs::exists(dir.File("inCentroid.bna"))) << "the input is opened before the result files";
}

TEST_F(AnalysisRun, DirectoryInTheResultFilesPlaceFailsAndLeavesNoFileOpen)
{
#ifdef _WIN32
    // Under Wine /proc/self/fd is the emulator's, shared with its own threads.
    GTEST_SKIP() << "open files are counted in /proc/self/fd";
#endif
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    fs::create_directory(dir.File("inArea.csv"));
    const auto before = openFiles();
    ExpectFailed(Run(RecordA));
    EXPECT_EQ(openFiles(), before);
    EXPECT_EQ(host->progress, Lines{Open()});
}

TEST_F(AnalysisRun, FullDiskFailsInsteadOfReportingSuccess)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    fs::create_symlink("/dev/full", dir.File("inCentroid.bna"));
    ExpectFailed(Run(RecordA));
}

TEST_F(AnalysisRun, ReadOnlyFolderFails)
{
    const std::string input = dir.Write("in.bna", RecordA);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (std::FILE* probe = std::fopen(dir.File("probe").c_str(), "wb")) {
        std::fclose(probe);
        GTEST_SKIP() << "this user writes into read-only folders (root)";
    }
    host = std::make_unique<RecordingHost>(input, "in.bna");
    ExpectFailed(ProcessBnaFile(*ws, nullptr, *host));
    EXPECT_EQ(ReadBytes(input), RecordA);
}

// A further output that notes what it is given and fails where told to.
class NotingOutput : public RunOutput {
public:
    void Open(const OutputNames& names, const std::string& /*inputPath*/, RunHost& /*host*/) override
    {
        calls.push_back("open " + names.baseName);
    }
    void Add(const RecordResult& r) override
    {
        if (failAt == calls.size()) {
            throw RunError("disk full");
        }
        calls.push_back(std::string(r.record.firstName) + " " + std::to_string(r.record.pointsRead) +
                        (r.classic != nullptr ? " classic" : "") + (r.geodesic != nullptr ? " ellipsoid" : ""));
    }
    void Close(RunHost& /*host*/) override { calls.emplace_back("close"); }
    void Abandon() noexcept override { calls.emplace_back("abandon"); }
    void AppendSummary(RunHost& host) override { host.AppendSummary("noted"); }
    std::string Caption() const override { return "Noted"; }

    Lines calls;
    std::size_t failAt = 0;  // none: the list never shrinks to it
};

TEST_F(AnalysisRun, FurtherOutputsSeeEveryCompleteRecordAsWritten)
{
    NotingOutput noted;
    const std::string input = Record("Big", 20001) + "\"L\",\"B\",-2\r\n1,2\r\n3,4\r\n" + std::string(RecordA);
    EXPECT_EQ(Run(input, "in.bna", nullptr, RunOptions{false, {&noted}}), RunOutcome::Completed);
    EXPECT_EQ(noted.calls, (Lines{"open in", "Big 20001", "L 2 classic", "A 1 classic", "close"}));
    EXPECT_EQ(host->summary.back(), "noted");
    EXPECT_EQ(AreaFile(), "\"L\", \"B\", 0\r\n" + std::string(AreaA)) << "the classic files are unchanged";
}

TEST_F(AnalysisRun, OutputThatFailsIsAbandonedAloneAndTheRunThenFails)
{
    NotingOutput failing;
    failing.failAt = 2;
    NotingOutput other;
    const std::string input = std::string(RecordA) + Record("C", 3) + std::string(RecordA);
    EXPECT_EQ(Run(input, "in.bna", nullptr, RunOptions{false, {&failing, &other}}), RunOutcome::Failed);
    EXPECT_EQ(failing.calls, (Lines{"open in", "A 1 classic", "abandon"}));
    EXPECT_EQ(other.calls, (Lines{"open in", "A 1 classic", "C 3 classic", "A 1 classic", "close"}));
    // The summary still names the classic files, and the failed output with its cause in its place.
    EXPECT_EQ(Lines(host->summary.end() - 4, host->summary.end()),
              (Lines{"\tCentroids: \tinCentroid.bna", "\tAreas (sq km): \tinArea.csv", "\tNoted: \tnot written: disk full",
                     "noted"}));
    EXPECT_EQ(host->phases, (Lines{"reading in.bna", "writing Noted"}));
    // The cause, then every file the run set out to write.
    EXPECT_EQ(host->causes, Lines{"disk full\ninCentroid.bna: written by this run\ninArea.csv: written by this run"});
    EXPECT_EQ(host->messages, Lines{std::string(RunFailedMessage)});
    EXPECT_EQ(AreaFile(), std::string(AreaA) + "\"C\", \"x\", 0\r\n" + std::string(AreaA));
}

TEST_F(AnalysisRun, OutputsOfARunThatFailsAreAbandoned)
{
    NotingOutput noted;
    ExpectFailed(Run(std::string(RecordA) + "\"cut\",\"x\",3\r\n1,2\r\n", "in.bna", nullptr, RunOptions{false, {&noted}}));
    EXPECT_EQ(noted.calls, (Lines{"open in", "A 1 classic", "abandon"}));
}

// The files of an earlier run in every place a run writes.
class EarlierResults : public AnalysisRun {
protected:
    EarlierResults()
    {
        for (const char* name : {"inCentroid.bna", "inArea.csv", "inGeodesic.csv"}) {
            dir.Write(name, std::string("earlier ") + name);
        }
#ifndef _WIN32
        // What an earlier run that was killed left (Windows keeps them).
        dir.Write(LeftoverName("inArea.csv"), "half");
#ifdef ZARN_HAVE_GEODESIC
        dir.Write(LeftoverName("inGeodesic.csv"), "half");
#endif
#endif
    }
#ifndef _WIN32
    // A temporary name of a run whose process is gone: its id above any
    // that Linux gives.
    std::string LeftoverName(const char* name) const
    {
        std::string leftover = fs::path(TemporaryName(dir.File(name))).filename().string();
        const std::string mine = ".zarn-" + std::to_string(getpid()) + "-";
        return leftover.replace(leftover.find(mine), mine.size(), ".zarn-4194305-");
    }
#endif
    std::string Earlier(const char* name) const { return ReadBytes(dir.File(name)); }
    bool Unchanged(const char* name) const { return Earlier(name) == std::string("earlier ") + name; }
    Lines Files() const
    {
        Lines names;
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

// A host whose user stops the run when it is asked for the n-th time.
class StoppingHost : public RecordingHost {
public:
    StoppingHost(std::string path, std::string title, std::uint64_t at)
        : RecordingHost(std::move(path), std::move(title)), at_(at)
    {
    }
    bool StopRequested() override { return ++asked_ == at_; }

private:
    std::uint64_t at_;
    std::uint64_t asked_ = 0;
};

// Asked once per record of the three, then after each further output is
// complete (the ellipsoid table first where the build has it) and after the
// drawing.
TEST_F(EarlierResults, StopByTheUserLeavesEveryEarlierFileAndNoTemporaryOne)
{
    const bool geodesic =
#ifdef ZARN_HAVE_GEODESIC
        true;
#else
        false;
#endif
    const std::uint64_t outputs = geodesic ? 2 : 1;
    struct Case {
        std::uint64_t at;
        bool map;
        std::string line;
    };
    const std::vector<Case> cases = {
        {1, false, "at record 1"},
        {2, false, "at record 2"},
        {3, false, "at record 3"},
        {3 + outputs, false, "while writing Noted"},
        {3 + outputs + 1, true, "while drawing the map"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write("in.bna", std::string(RecordA) + Record("C", 3) + std::string(RecordA));
        auto stopping = std::make_unique<StoppingHost>(path, "in.bna", c.at);
        NotingOutput noted;
        RecordingMap map(dir.File("inArea.csv"));
        EXPECT_EQ(ProcessBnaFile(*ws, c.map ? &map : nullptr, *stopping, RunOptions{geodesic, {&noted}}),
                  RunOutcome::Stopped);
        EXPECT_EQ(stopping->progress.back(), "Stopped by the user " + c.line + ".");
        EXPECT_EQ(std::count_if(stopping->progress.begin(), stopping->progress.end(),
                                [](const std::string& l) { return l.starts_with("Read polygon"); }),
                  static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(c.at - 1, 3)));
        EXPECT_TRUE(stopping->summary.empty() && stopping->messages.empty() && stopping->causes.empty());
        EXPECT_EQ(stopping->order.find_first_not_of('P'), std::string::npos) << stopping->order;
        EXPECT_EQ(noted.calls.back(), "abandon");
        EXPECT_EQ(map.calls.empty() ? "" : map.calls.back(), c.map ? "draw" : "");
        EXPECT_TRUE(Unchanged("inCentroid.bna") && Unchanged("inArea.csv") && Unchanged("inGeodesic.csv")) << c.line;
        EXPECT_EQ(Files(), (Lines{"in.bna", "inArea.csv", "inCentroid.bna", "inGeodesic.csv"})) << c.line;
    }
}

// A failed run keeps the classic records written so far, as it always did;
// the further outputs it drops, leaving their earlier files.
TEST_F(EarlierResults, FailedRunKeepsTheClassicRecordsAndTheEarlierFurtherFiles)
{
    const std::string input = std::string(RecordA) + "\"cut\",\"x\",3\r\n1,2\r\n";
#ifdef ZARN_HAVE_GEODESIC
    ExpectFailed(Run(input, "in.bna", nullptr, RunOptions{true, {}}));
#else
    ExpectFailed(Run(input));
#endif
    EXPECT_EQ(AreaFile(), AreaA);
    EXPECT_TRUE(Unchanged("inGeodesic.csv"));
    EXPECT_EQ(Files(), (Lines{"in.bna", "inArea.csv", "inCentroid.bna", "inGeodesic.csv"}));
}

#ifdef ZARN_HAVE_GEODESIC
TEST_F(AnalysisRun, EllipsoidTableComesBesideUnchangedClassicFiles)
{
    const std::string input = std::string(test::ExampleRings) + "\"L,1\",\"a\"\"b\",-2\r\n1,2\r\n3,4\r\n" +
                              Record("Big", 20001) + "\"Open\",\"\",3\r\n-0.0000001,-0.0000001\r\n1,0\r\n0,1\r\n";
    EXPECT_EQ(Run(input, "in.bna", nullptr, RunOptions{true, {}}), RunOutcome::Completed);
    EXPECT_EQ(AreaFile().substr(0, test::ExampleAreaFile.size()), test::ExampleAreaFile);
    EXPECT_EQ(CentroidFile().substr(0, test::ExampleCentroidFile.size()), test::ExampleCentroidFile);
    EXPECT_EQ(ReadBytes(dir.File("inGeodesic.csv")),
              "name,second,points,wgs84_km2,perim_km,centroid_lon,centroid_lat,flags\r\n"
              "\"First\",\"Second\",5,12308.778361,443.770917,0.5000000,0.5000068,\r\n"
              "\"Box\",\"10..12 E\",5,15783.179399,506.255647,11.0000000,50.5025440,\r\n"
              "\"Triangle\",\"\",4,24623.244190,757.564144,0.6667981,0.6667559,\r\n"
              "\"L,1\",\"a\",2,0.000000,0.000000,,,no-ring\r\n"
              "\"Big\",\"x\",20001,0.000000,0.000000,,,over-point-limit;no-ring\r\n"
              "\"Open\",\"\",3,6154.856018,378.793470,0.3333497,0.3333444,closed-here\r\n");
    const auto at = std::find(host->progress.begin(), host->progress.end(), "Area (sq km): 12363.829");
    ASSERT_NE(at, host->progress.end());
    EXPECT_EQ(at[1], "Area on the WGS84 ellipsoid (sq km): 12308.778");
    EXPECT_EQ(host->summary.back(), "\tEllipsoid areas: \tinGeodesic.csv");
}

// The progress lines give the ellipsoid figures that were asked for even when
// their table cannot be written.
TEST_F(EarlierResults, EllipsoidFiguresShownWhenTheirTableCannotBeWritten)
{
    fs::remove(dir.File("inGeodesic.csv"));
    fs::create_directory(dir.File("inGeodesic.csv"));
    EXPECT_EQ(Run(test::ExampleRings, "in.bna", nullptr, RunOptions{true, {}}), RunOutcome::Failed);
    EXPECT_NE(std::find(host->progress.begin(), host->progress.end(), "Area on the WGS84 ellipsoid (sq km): 12308.778"),
              host->progress.end());
    EXPECT_EQ(AreaFile(), test::ExampleAreaFile);
    EXPECT_EQ(Files(), (Lines{"in.bna", "inArea.csv", "inCentroid.bna", "inGeodesic.csv"})) << "no temporary file";
}

#ifndef _WIN32
// A table that cannot be written whole (a file size limit that the classic
// files stay under, as a full disk would) is dropped: the run fails over it
// with its classic files complete, and the earlier table stays.
TEST_F(EarlierResults, EllipsoidTableThatCannotBeCompletedLeavesTheEarlierOne)
{
    std::string input;
    for (int r = 0; r < 5000; ++r) {
        input += "\"Box\",\"" + std::to_string(r) + "\",4\r\n10,50\r\n12,50\r\n12,51\r\n10,50\r\n";
    }
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limited = before;
    limited.rlim_cur = 320 * 1024;  // the table needs about 400 KB, the centroids 250 KB
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const RunOutcome outcome = Run(input, "in.bna", nullptr, RunOptions{true, {}});
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(outcome, RunOutcome::Failed);
    ASSERT_EQ(host->causes.size(), 1U);
    EXPECT_NE(host->causes[0].find("inGeodesic.csv"), std::string::npos) << host->causes[0];
    EXPECT_TRUE(Unchanged("inGeodesic.csv"));
    const std::string centroids = CentroidFile();
    EXPECT_EQ(std::count(centroids.begin(), centroids.end(), '\n'), 10000);
    EXPECT_EQ(Files(), (Lines{"in.bna", "inArea.csv", "inCentroid.bna", "inGeodesic.csv"}));
}
#endif

TEST_F(AnalysisRun, EllipsoidTableNamesTheClassicAreasThatDiffer)
{
    // Four degrees of latitude near the pole: the flat grid misses the
    // meridians' convergence.
    const std::string ring = "\"Cap\",\"\",5\r\n0,80\r\n60,80\r\n60,88\r\n0,88\r\n0,80\r\n";
    EXPECT_EQ(Run(ring + ring, "in.bna", nullptr, RunOptions{true, {}}), RunOutcome::Completed);
    EXPECT_NE(ReadBytes(dir.File("inGeodesic.csv")).find(",classic-differs;long-edges\r\n"), std::string::npos);
    EXPECT_EQ(host->summary.back(),
              " The classic areas of 2 polygons differ by more than 1 % from their areas on the WGS84 ellipsoid.");
}
#endif

// The files are put in place only once the map is drawn, so that a stop
// while drawing leaves the earlier ones.
TEST_F(AnalysisRun, MapStageSeesEveryAcceptedPolygonInDegreesAndDrawsBeforeTheFilesArePutInPlace)
{
    RecordingMap map(dir.File("inArea.csv"));
    const std::string input = "\"Box\",\"x\",5\r\n10,50\r\n12,50\r\n12,51\r\n10,51\r\n10,50\r\n" +
                              Record("Big", 20001) + "\"None\",\"x\",0\r\n";
    EXPECT_EQ(Run(input, "in.bna", &map), RunOutcome::Completed);
    EXPECT_EQ(map.calls, (Lines{"reset", "grow 10 12 50 51", "grow 99999 -99999 99999 -99999", "draw",
                                "save " + dir.File("inMap.bmp")}));
    EXPECT_EQ(host->phases, (Lines{"reading in.bna", "drawing in.bna"}));
    EXPECT_EQ(map.areaFileWhenDrawn, "");
    EXPECT_NE(AreaFile(), "");
    EXPECT_EQ(host->summary.back(), "\tMap: \t\tinMap.bmp");
}

TEST_F(AnalysisRun, DrawingThatFailsByItselfStillGivesSummaryAndMap)
{
    RecordingMap map(dir.File("inArea.csv"));
    map.drawSucceeds = false;
    EXPECT_EQ(Run(RecordA, "in.bna", &map), RunOutcome::DrawingFailed);
    EXPECT_EQ(map.calls.back(), "save " + dir.File("inMap.bmp"));
    EXPECT_EQ(host->summary.size(), 7U);
}

// A map that cannot be scaled, or a library failure of any kind before the
// drawing's own trap, ends the run through its failure path.
TEST_F(AnalysisRun, MapStageFailureOfAnyKindTakesTheFailurePath)
{
    for (const std::exception_ptr& failure :
         {std::make_exception_ptr(RunError("the map extent cannot be scaled onto the canvas")),
          std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur))),
          std::make_exception_ptr(std::length_error("vector::reserve"))}) {
        RecordingMap map(dir.File("inArea.csv"));
        map.drawThrows = failure;
        ExpectFailed(Run(RecordA, "in.bna", &map));
        EXPECT_EQ(map.calls, (Lines{"reset", "grow 3 3 4 4", "draw"}));
        EXPECT_EQ(AreaFile(), AreaA);
    }
}

// Whatever the canvas throws while drawing ends the drawing with its own
// message and cause; the run still completes its files and summary.
TEST_F(AnalysisRun, CanvasFailureOfAnyKindEndsTheDrawingWithItsMessage)
{
    class FailingCanvas : public probe::RecordingCanvas {
    public:
        void Print(std::string_view /*text*/) override { throw std::length_error("a label too long to lay out"); }
    };
    FailingCanvas canvas;
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    MapDrawing map(*ws, canvas, settings);
    EXPECT_EQ(Run(RecordA, "in.bna", &map), RunOutcome::DrawingFailed);
    EXPECT_EQ(host->messages, Lines{std::string(DrawFailedMessage)});
    EXPECT_EQ(host->causes, Lines{"a label too long to lay out"});
    EXPECT_EQ(host->summary.size(), 7U);
}

// Real files from other projects: the outcome each must have under the field
// rules, with the number of records read and analysed.
struct SampleOutcome {
    RunOutcome outcome;
    std::size_t read;
    std::size_t analysed;
    bool tooManyPoints;
};

const std::map<std::string, SampleOutcome> Samples{
    {"gdal__bna_for_gpx.bna", {RunOutcome::Completed, 2, 2, false}},
    {"gdalsrc__parser_comment_valid1.bna", {RunOutcome::Completed, 5, 5, false}},
    {"gdalsrc__tiger_4ids_multipair.bna", {RunOutcome::Completed, 1, 1, false}},
    {"gdalx__test.bna", {RunOutcome::Completed, 10, 10, false}},
    {"maproom__00003polys_000035pts.bna", {RunOutcome::Completed, 3, 3, false}},
    {"maproom__00011polys_001486pts.bna", {RunOutcome::Completed, 11, 11, false}},
    // Nine pairs too many: pair 81 becomes a header, pair 82 its count of 120,
    // and the file stays out of step until it ends inside a record.
    {"maproom__Broken_BNA.bna", {RunOutcome::Failed, 38, 37, false}},
    {"maproom__Haiti.bna", {RunOutcome::Completed, 12, 11, true}},
    {"maproom__RNCProdCat_latest.bna", {RunOutcome::Completed, 2165, 2165, false}},
    {"maproom__bad--extra_polygon_points.bna", {RunOutcome::Failed, 2, 1, false}},
    {"maproom__bad--missing_polygon_points.bna", {RunOutcome::Failed, 2, 1, false}},
    {"maproom__hawaii-self-crossing-96.bna", {RunOutcome::Completed, 1, 1, false}},
    {"maproom__pearl_harbor2.bna", {RunOutcome::Completed, 10, 10, false}},
    {"pygnome__MapBounds_2Spillable2Islands2Lakes.bna", {RunOutcome::Completed, 7, 7, false}},
    {"pygnome__Perfland.bna", {RunOutcome::Completed, 3, 3, false}},
    {"pygnome__SanDiegoBay.bna", {RunOutcome::Completed, 3, 3, false}},
    {"pygnome__florida_with_lake_small.bna", {RunOutcome::Completed, 2, 2, false}},
    {"pygnome__house.bna", {RunOutcome::Completed, 2, 2, false}},
    {"pygnome__small_wadden_sea.bna", {RunOutcome::Completed, 3, 3, false}},
};

class SampleFiles : public AnalysisRun {
protected:
    void SetUp() override
    {
        if (!fs::is_directory(ZARN_SAMPLES_DIR)) {
            GTEST_SKIP() << "no sample folder at " << ZARN_SAMPLES_DIR;
        }
    }
    // Runs on a copy: the results are written beside the input.
    RunOutcome RunSample(const std::string& file) { return Run(ReadBytes(fs::path(ZARN_SAMPLES_DIR) / file), file); }
    Lines Starting(std::string_view prefix) const
    {
        Lines found;
        std::copy_if(host->progress.begin(), host->progress.end(), std::back_inserter(found),
                     [&](const std::string& line) { return line.starts_with(prefix); });
        return found;
    }
};

TEST_F(SampleFiles, EachHasItsOutcome)
{
    for (const auto& entry : fs::directory_iterator(ZARN_SAMPLES_DIR)) {
        const std::string file = entry.path().filename().string();
        if (entry.path().extension() != ".bna") {
            continue;
        }
        SCOPED_TRACE(file);
        const auto expected = Samples.find(file);
        ASSERT_NE(expected, Samples.end()) << "a new sample needs its expected outcome here";
        const SampleOutcome& want = expected->second;
        EXPECT_EQ(RunSample(file), want.outcome);
        EXPECT_EQ(Starting("Read polygon ").size(), want.read);
        EXPECT_EQ(Starting("Area (sq km): ").size(), want.analysed);
        EXPECT_EQ(host->messages.size(), (want.outcome == RunOutcome::Failed ? 1U : 0U) + (want.tooManyPoints ? 1U : 0U));
    }
}

TEST_F(SampleFiles, TigerBlockWithPairsSharingLinesHasItsPlanimeterArea)
{
    EXPECT_EQ(RunSample("gdalsrc__tiger_4ids_multipair.bna"), RunOutcome::Completed);
    const Lines area = Starting("Area (sq km): ");
    ASSERT_EQ(area.size(), 1U);
    EXPECT_NEAR(std::stod(area[0].substr(14)), 136.28, 136.28 * 0.01);
}

TEST_F(SampleFiles, MalformedFilesGoOutOfStepAsTheFieldRulesSay)
{
    // 15 pairs where 19 are announced: the next header's names and count
    // complete the record, and the rest of the file cannot fill the next.
    EXPECT_EQ(RunSample("maproom__bad--missing_polygon_points.bna"), RunOutcome::Failed);
    EXPECT_EQ(Starting("Read polygon "),
              (Lines{"Read polygon Missing 4 points with 19 points.", "Read polygon 31.121908187866 with 31 points."}));
    // Four pairs too many: the first becomes a header whose count -81.53
    // rounds to -82, and the file ends while those pairs are read past.
    EXPECT_EQ(RunSample("maproom__bad--extra_polygon_points.bna"), RunOutcome::Failed);
    EXPECT_EQ(Starting("Read polygon "),
              (Lines{"Read polygon 4 extra points with 19 points.", "Read polygon -81.531112670898 with -82 points."}));
    EXPECT_EQ(RunSample("maproom__Broken_BNA.bna"), RunOutcome::Failed);
    EXPECT_EQ(Starting("Read polygon ")[2], "Read polygon 120.246194 with 120 points.");
}

}  // namespace
}  // namespace zarn
