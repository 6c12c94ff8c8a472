#include "batchcommand.h"

#include "analysisrun.h"
#include "filepath.h"
#include "safefile.h"
#include "runoutput.h"
#include "workspace.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <locale>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

// The options a build may lack, each in one place: what its usage lines say
// and what the command does with it. The ellipsoid figures are the analysis
// core's (HaveEllipsoidFigures).

// The map, with Qt 6.
#ifdef ZARN_HAVE_MAP
#include "batchmap.h"

namespace zarn {
namespace {

constexpr bool HaveMap = true;
constexpr const char* MapFileUsage = "  NAMEMap.bmp       the map of all polygons (not with --no-map)\n";
constexpr const char* NoMapUsage = "  --no-map     skip the second reading and the map bitmap\n";
// Qt's start-up and teardown for the runs with a map.
using MapSession = BatchMapSession;

RunOutcome RunFileWithMap(Workspace& ws, RunHost& host, const RunOptions& options)
{
    return RunWithMap(ws, host, options);
}

// The decimal separator of the progress lines, as the window has it.
std::string DecimalSeparator()
{
    return UserDecimalSeparator();
}

}  // namespace
}  // namespace zarn
#else
namespace zarn {
namespace {

constexpr bool HaveMap = false;
constexpr const char* MapFileUsage = "";
constexpr const char* NoMapUsage =
    "  --no-map     accepted; this build draws no map (it was built without Qt 6),\n"
    "               so every run is one with --no-map and writes no NAMEMap.bmp\n";
struct MapSession {};

RunOutcome RunFileWithMap(Workspace& ws, RunHost& host, const RunOptions& options)
{
    return ProcessBnaFile(ws, nullptr, host, options);
}

// The decimal separator of the progress lines. Without Qt the C++ library's
// view of the user's locale serves; a locale it does not know gives a point.
std::string DecimalSeparator()
{
    try {
        return std::string(1, std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point());
    } catch (const std::runtime_error&) {
        return ".";
    }
}

}  // namespace
}  // namespace zarn
#endif

// The exports, with GDAL (the export module).
#ifdef ZARN_HAVE_EXPORT
#include "exportloader.h"

namespace zarn {
namespace {

constexpr const char* ExportUsage =
    "  --export FORMAT  also write the polygons, centroids, lines and points\n"
    "               for a GIS (WGS 84 lon/lat), FORMAT one of: gpkg (NAME.gpkg),\n"
    "               geojson, shp, fgb, kml (NAMEPolygons.EXT, NAMECentroids.EXT,\n"
    "               NAMELines.EXT, NAMEPoints.EXT); may be given several times\n";
using ExportChoice = std::vector<ExportFormat>;

// --export with its argument (null when none follows): false once it has
// said why on `err`.
bool ChooseExport(ExportChoice& exports, const std::string* name, std::FILE* err)
{
    const std::optional<ExportFormat> format = name != nullptr ? ParseExportFormat(*name) : std::nullopt;
    if (!format) {
        std::fprintf(err, "zarn-batch: --export needs one of gpkg, geojson, shp, fgb, kml\n");
        return false;
    }
    if (std::find(exports.begin(), exports.end(), *format) == exports.end()) {
        exports.push_back(*format);
    }
    return true;
}

std::vector<std::unique_ptr<RunOutput>> MakeExportOutputs(const ExportChoice& exports, bool geodesic)
{
    return MakeExports(exports, geodesic);
}

}  // namespace
}  // namespace zarn
#else
namespace zarn {
namespace {

constexpr const char* ExportUsage = "  --export FORMAT  not in this build (it was built without GDAL)\n";
struct ExportChoice {};

bool ChooseExport(ExportChoice& /*exports*/, const std::string* /*name*/, std::FILE* err)
{
    std::fprintf(err, "zarn-batch: --export is not in this build (it was built without GDAL)\n");
    return false;
}

std::vector<std::unique_ptr<RunOutput>> MakeExportOutputs(const ExportChoice& /*exports*/, bool /*geodesic*/)
{
    return {};
}

}  // namespace
}  // namespace zarn
#endif

namespace zarn {

namespace {

constexpr const char* UsageHead =
    "Usage: zarn-batch [--no-map] [--geodesic] [--export FORMAT] [--jobs N] [--quiet]\n"
    "                  [--progress | --no-progress] FILE.bna [FILE.bna ...]\n"
    "\n"
    "Computes the area (km²) and centroid (degrees) of every polygon of each BNA\n"
    "file, as the ZARN window does, and writes beside each input:\n"
    "  NAMECentroid.bna  one centroid point record per polygon\n"
    "  NAMEArea.csv      \"first name\", \"second name\", area in km²\n";
constexpr const char* UsageOptions =
    "where NAME is the input's file name less its last four characters.\n"
    "\n"
    "Options:\n";
constexpr const char* GeodesicUsage =
    "  --geodesic   also write NAMEGeodesic.csv: area, perimeter and centroid\n"
    "               of every record on the WGS84 ellipsoid, with flags\n";
constexpr const char* NoGeodesicUsage = "  --geodesic   not in this build (it was built without GeographicLib)\n";
constexpr const char* UsageTail =
    "  --jobs N     run up to N files at once (default: the number of cores);\n"
    "               the lines of one file stay together\n"
    "  --quiet, -q  print only each file's summary lines and its failures, not\n"
    "               the lines of every polygon\n"
    "  --progress   redraw a progress line on standard error (file, stage,\n"
    "               percentage, MB/s), also when it is not a terminal\n"
    "  --no-progress  no progress line; without either option there is one\n"
    "               when standard error is a terminal and the files run one\n"
    "               at a time (--jobs 1, or a single file)\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 when every file completed with every output asked for, 1 when\n"
    "any failed or an output asked for was not written (the reason on standard\n"
    "error), 2 for a usage error.\n";

// Each option whose library a build lacks is compiled out, and its lines say
// so instead.
std::string Usage()
{
    return std::string(UsageHead) + MapFileUsage + UsageOptions + NoMapUsage +
           (HaveEllipsoidFigures() ? GeodesicUsage : NoGeodesicUsage) + ExportUsage + UsageTail;
}

bool IsTerminal(std::FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

// A line on the error stream, redrawn in place with a carriage return, that
// tells how far the run of one file has come: "big.bna: reading 45 %,
// 120.3 MB/s". Redrawn at most five times a second, so that a terminal is not
// the run's bottleneck.
class ProgressLine {
public:
    explicit ProgressLine(std::FILE* err) : err_(err) {}
    ~ProgressLine() { Erase(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Phase(RunPhase phase, std::string_view subject, const std::string& title)
    {
        phase_ = phase;
        started_ = Clock::now();
        if (phase == RunPhase::Writing) {
            // Nothing more is told until the output's files are complete.
            Draw(title + ": writing " + std::string(subject) + "...");
        } else {
            lastDrawn_ = {};
        }
    }
    void Progress(std::uint64_t bytesRead, std::uint64_t fileSize, const std::string& title)
    {
        const Clock::time_point now = Clock::now();
        if (now - lastDrawn_ < Interval) {
            return;
        }
        lastDrawn_ = now;
        const double seconds = std::chrono::duration<double>(now - started_).count();
        char figures[64];
        std::snprintf(figures, sizeof figures, " %d %%, %.1f MB/s",
                      fileSize == 0 ? 100 : static_cast<int>(bytesRead * 100 / fileSize),
                      seconds > 0 ? static_cast<double>(bytesRead) / 1e6 / seconds : 0.0);
        Draw(title + (phase_ == RunPhase::Drawing ? ": drawing" : ": reading") + figures);
    }
    // Takes the line away before other text goes to the same terminal; the
    // next redraw brings it back.
    void Erase()
    {
        if (shown_ > 0) {
            std::fprintf(err_, "\r%*s\r", static_cast<int>(shown_), "");
            std::fflush(err_);
            shown_ = 0;
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds Interval{200};

    void Draw(const std::string& text)
    {
        // Spaces cover what a longer line before left.
        const std::size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
        std::fprintf(err_, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
        std::fflush(err_);
        shown_ = text.size() + pad;
    }

    std::FILE* err_;
    RunPhase phase_ = RunPhase::Reading;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastDrawn_{};
    std::size_t shown_ = 0;
};

// Prints what the window would show: the progress list, the summary list and
// the message boxes as lines; the cause of a failure goes to the error stream.
// Quiet, it leaves out the progress list; with a progress line, that line is
// kept below whatever else goes to the terminal.
//
// Lines bound for a file or a pipe are collected and written a block at a
// time, as a run writes millions of them; to a terminal each goes at once.
// Whatever is collected goes out before anything on the error stream, which
// may be the same file.
class BatchHost : public RunHost {
public:
    BatchHost(const std::string& path, std::FILE* out, std::FILE* err, std::string decimal, bool quiet,
              bool progress)
        : out_(out), err_(err), decimal_(std::move(decimal)), quiet_(quiet), collect_(!IsTerminal(out))
    {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), ec);
        fileName_ = ec ? path : Utf8FromPath(absolute);
        title_ = Utf8FromPath(PathFromUtf8(fileName_).filename());
        if (progress) {
            progress_.emplace(err);
        }
    }
    ~BatchHost() override { Flush(); }
    BatchHost(const BatchHost&) = delete;
    BatchHost& operator=(const BatchHost&) = delete;

    std::string FileName() const override { return fileName_; }
    std::string FileTitle() const override { return title_; }
    std::string DecimalSeparator() const override { return decimal_; }
    void AppendProgress(std::string_view line) override
    {
        if (!quiet_) {
            Put(line);
        }
    }
    bool ShowsProgress() const override { return !quiet_; }
    bool LinesWatched() const override { return !collect_; }
    // A summary line "\t<output>: \tnot written: <why>" also goes to the
    // error stream, and the file counts as failed: an output asked for and
    // not written, whether it failed or was left out.
    void AppendSummary(std::string_view line) override
    {
        Put(line);
        constexpr std::string_view NotWritten = ": \tnot written: ";
        const std::size_t at = line.find(NotWritten);
        if (!line.empty() && line.front() == '\t' && at != std::string_view::npos) {
            notWritten_ = true;
            Flush();
            if (progress_) {
                progress_->Erase();
            }
            const std::string what(line.substr(1, at - 1));
            const std::string why(line.substr(at + NotWritten.size()));
            std::fprintf(err_, "zarn-batch: %s: %s not written: %s\n", title_.c_str(), what.c_str(), why.c_str());
        }
    }
    bool OutputsNotWritten() const { return notWritten_; }
    void SetListsBold() override {}
    void RepaintSummary() override {}
    void ShowCritical(std::string_view message) override { Put(message); }
    void ReportCause(std::string_view cause) override
    {
        Flush();
        if (progress_) {
            progress_->Erase();
        }
        // The cause, then a line for each file the run set out to write.
        for (std::size_t at = 0; at <= cause.size();) {
            const std::size_t end = std::min(cause.find('\n', at), cause.size());
            std::fprintf(err_, "zarn-batch: %.*s\n", static_cast<int>(end - at), cause.data() + at);
            at = end + 1;
        }
    }
    void Progress(std::uint64_t bytesRead, std::uint64_t fileSize) override
    {
        if (progress_) {
            progress_->Progress(bytesRead, fileSize, title_);
        }
    }
    void Phase(RunPhase phase, std::string_view subject) override
    {
        if (progress_) {
            progress_->Phase(phase, subject, title_);
        }
    }

private:
    static constexpr std::size_t CollectBytes = std::size_t{1} << 16;

    void Put(std::string_view line)
    {
        if (progress_) {
            progress_->Erase();
        }
        if (collect_ && !progress_) {
            collected_.append(line).push_back('\n');
            if (collected_.size() >= CollectBytes) {
                Flush();
            }
            return;
        }
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fputc('\n', out_);
    }
    void Flush()
    {
        std::fwrite(collected_.data(), 1, collected_.size(), out_);
        collected_.clear();
    }

    std::FILE* out_;
    std::FILE* err_;
    std::string decimal_;
    bool quiet_;
    std::string fileName_;
    std::string title_;
    std::optional<ProgressLine> progress_;
    bool notWritten_ = false;
    const bool collect_;
    std::string collected_;
};

struct Options {
    bool map = true;
    RunOptions run;
    ExportChoice exports;
    unsigned jobs = 0;
    bool quiet = false;
    // --progress, --no-progress; neither: when the error stream is a terminal.
    std::optional<bool> progress;
    std::vector<std::string> files;
};

bool ParseJobs(const std::string& text, unsigned& jobs)
{
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    return ec == std::errc() && ptr == text.data() + text.size() && jobs > 0;
}

// One file's run with its own workspace (and canvas), so files can run side
// by side. Nothing leaves it by exception: on a --jobs worker that would end
// the program with the other files' runs.
bool RunFile(const std::string& path, const Options& options, std::FILE* out, std::FILE* err,
             const std::string& decimal)
{
    try {
        auto ws = std::make_unique<Workspace>();
        BatchHost host(path, out, err, decimal, options.quiet, options.progress.value_or(false));
        RunOptions run = options.run;
        const std::vector<std::unique_ptr<RunOutput>> exports = MakeExportOutputs(options.exports, run.geodesic);
        for (const std::unique_ptr<RunOutput>& e : exports) {
            run.outputs.push_back(e.get());
        }
        const RunOutcome outcome =
            options.map ? RunFileWithMap(*ws, host, run) : ProcessBnaFile(*ws, nullptr, host, run);
        return outcome == RunOutcome::Completed && !host.OutputsNotWritten();
    } catch (const std::exception& e) {
        std::fprintf(err, "zarn-batch: %s: %s\n", path.c_str(), e.what());
        std::fprintf(out, "%.*s\n", static_cast<int>(RunFailedMessage.size()), RunFailedMessage.data());
        return false;
    }
}

void CopyAndClose(std::FILE* from, std::FILE* to)
{
    std::rewind(from);
    char buf[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, from)) > 0) {
        std::fwrite(buf, 1, got, to);
    }
    std::fclose(from);
}

// Runs the files on `jobs` threads; each file writes to a temporary file of
// its own, copied to `out` in input order once it and those before it are done.
bool RunParallel(const Options& options, unsigned jobs, std::FILE* out, std::FILE* err,
                 const std::string& decimal)
{
    const std::size_t n = options.files.size();
    std::vector<std::FILE*> spools(n, nullptr);
    std::vector<std::FILE*> errSpools(n, nullptr);
    std::vector<char> ok(n, 0);
    // Which files are done, under a lock rather than with std::atomic's
    // wait, which libstdc++ 12 on Windows can leave asleep.
    std::vector<char> done(n, 0);
    std::mutex doneLock;
    std::condition_variable doneChanged;
    for (std::size_t i = 0; i < n; ++i) {
        spools[i] = SpoolFile();
        errSpools[i] = SpoolFile();
        if (spools[i] == nullptr || errSpools[i] == nullptr) {
            std::fprintf(err, "zarn-batch: cannot create a temporary file for the output of %s\n",
                         options.files[i].c_str());
            for (std::FILE* f : spools) {
                if (f != nullptr) {
                    std::fclose(f);
                }
            }
            for (std::FILE* f : errSpools) {
                if (f != nullptr) {
                    std::fclose(f);
                }
            }
            return false;
        }
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    const auto work = [&] {
        for (std::size_t i = next++; i < n; i = next++) {
            ok[i] = RunFile(options.files[i], options, spools[i], errSpools[i], decimal) ? 1 : 0;
            std::fflush(spools[i]);
            {
                const std::lock_guard<std::mutex> guard(doneLock);
                done[i] = 1;
            }
            doneChanged.notify_all();
        }
    };
    try {
        for (unsigned w = 0; w < jobs; ++w) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those that started share the files.
        if (workers.empty()) {
            work();
        }
    }
    bool allOk = true;
    for (std::size_t i = 0; i < n; ++i) {
        {
            std::unique_lock<std::mutex> guard(doneLock);
            doneChanged.wait(guard, [&] { return done[i] != 0; });
        }
        CopyAndClose(spools[i], out);
        CopyAndClose(errSpools[i], err);
        std::fflush(out);
        allOk = allOk && ok[i] != 0;
    }
    for (std::thread& t : workers) {
        t.join();
    }
    return allOk;
}

}  // namespace

int RunBatchCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    Options options;
    bool endOfOptions = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
            options.files.push_back(a);
        } else if (a == "--") {
            endOfOptions = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(Usage().c_str(), out);
            return 0;
        } else if (a == "--version") {
            std::fprintf(out, "zarn-batch %s\n", ZARN_VERSION);
            return 0;
        } else if (a == "--quiet" || a == "-q") {
            options.quiet = true;
        } else if (a == "--progress" || a == "--no-progress") {
            options.progress = a == "--progress";
        } else if (a == "--no-map") {
            options.map = false;
        } else if (a == "--export") {
            if (!ChooseExport(options.exports, i + 1 < args.size() ? &args[i + 1] : nullptr, err)) {
                return 2;
            }
            ++i;
        } else if (a == "--geodesic") {
            if (!HaveEllipsoidFigures()) {
                std::fprintf(err,
                             "zarn-batch: --geodesic is not in this build (it was built without GeographicLib)\n");
                return 2;
            }
            options.run.geodesic = true;
        } else if (a == "--jobs" || a == "-j") {
            if (i + 1 == args.size() || !ParseJobs(args[i + 1], options.jobs)) {
                std::fprintf(err, "zarn-batch: --jobs needs a whole number of at least 1\n");
                return 2;
            }
            ++i;
        } else {
            std::fprintf(err, "zarn-batch: unknown option %s\n%s", a.c_str(), Usage().c_str());
            return 2;
        }
    }
    if (options.files.empty()) {
        std::fputs(Usage().c_str(), err);
        return 2;
    }
    options.map = options.map && HaveMap;
    // A run without the map spares Qt's start-up and teardown, which load the
    // font configuration only to unload it again.
    std::optional<MapSession> mapSession;
    if (options.map) {
        mapSession.emplace();
    }
    const std::string decimal = DecimalSeparator();
    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1U, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, options.files.size()));
    // One line on the terminal can tell of one file at a time only; the
    // files that run side by side write theirs to spool files.
    options.progress = jobs <= 1 && options.progress.value_or(IsTerminal(err));
    if (jobs <= 1) {
        bool allOk = true;
        for (const std::string& file : options.files) {
            allOk = RunFile(file, options, out, err, decimal) && allOk;
            std::fflush(out);
        }
        return allOk ? 0 : 1;
    }
    return RunParallel(options, jobs, out, err, decimal) ? 0 : 1;
}

}  // namespace zarn
