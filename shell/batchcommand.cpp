#include "batchcommand.h"

#include "analysisrun.h"
#include "filepath.h"
#ifdef ZARN_HAVE_EXPORT
#include "exportloader.h"
#endif
#include "workspace.h"

#ifdef ZARN_HAVE_MAP
#include "batchmap.h"
#endif

#include <algorithm>
#include <atomic>
#include <charconv>
#include <exception>
#include <filesystem>
#include <locale>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <random>
#include <sys/stat.h>
#endif

namespace zarn {

namespace {

// Each option whose library a build lacks (Qt 6 for the map; and so on for
// any later option) is compiled out, and its lines here say so instead.
constexpr const char* Usage =
    "Usage: zarn-batch [--no-map] [--geodesic] [--export FORMAT] [--jobs N] FILE.bna [FILE.bna ...]\n"
    "\n"
    "Computes the area (km²) and centroid (degrees) of every polygon of each BNA\n"
    "file, as the ZARN window does, and writes beside each input:\n"
    "  NAMECentroid.bna  one centroid point record per polygon\n"
    "  NAMEArea.csv      \"first name\", \"second name\", area in km²\n"
#ifdef ZARN_HAVE_MAP
    "  NAMEMap.bmp       the map of all polygons (not with --no-map)\n"
#endif
    "where NAME is the input's file name less its last four characters.\n"
    "\n"
    "Options:\n"
#ifdef ZARN_HAVE_MAP
    "  --no-map     skip the second reading and the map bitmap\n"
#else
    "  --no-map     accepted; this build draws no map (it was built without Qt 6),\n"
    "               so every run is one with --no-map and writes no NAMEMap.bmp\n"
#endif
#ifdef ZARN_HAVE_GEODESIC
    "  --geodesic   also write NAMEGeodesic.csv: area, perimeter and centroid\n"
    "               of every record on the WGS84 ellipsoid, with flags\n"
#else
    "  --geodesic   not in this build (it was built without GeographicLib)\n"
#endif
#ifdef ZARN_HAVE_EXPORT
    "  --export FORMAT  also write the polygons, centroids, lines and points\n"
    "               for a GIS (WGS 84 lon/lat), FORMAT one of: gpkg (NAME.gpkg),\n"
    "               geojson, shp, fgb, kml (NAMEPolygons.EXT, NAMECentroids.EXT,\n"
    "               NAMELines.EXT, NAMEPoints.EXT); may be given several times\n"
#else
    "  --export FORMAT  not in this build (it was built without GDAL)\n"
#endif
    "  --jobs N     run up to N files at once (default: the number of cores);\n"
    "               the lines of one file stay together\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 when every file completed, 1 when any failed, 2 for a usage error.\n";

// Prints what the window would show: the progress list, the summary list and
// the message boxes as lines; the cause of a failure goes to the error stream.
class BatchHost : public RunHost {
public:
    BatchHost(const std::string& path, std::FILE* out, std::FILE* err, std::string decimal)
        : out_(out), err_(err), decimal_(std::move(decimal))
    {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), ec);
        fileName_ = ec ? path : Utf8FromPath(absolute);
        title_ = Utf8FromPath(PathFromUtf8(fileName_).filename());
    }

    std::string FileName() const override { return fileName_; }
    std::string FileTitle() const override { return title_; }
    std::string DecimalSeparator() const override { return decimal_; }
    void AppendProgress(std::string_view line) override { Put(line); }
    void AppendSummary(std::string_view line) override { Put(line); }
    void SetListsBold() override {}
    void RepaintSummary() override {}
    void ShowCritical(std::string_view message) override { Put(message); }
    void ReportCause(std::string_view cause) override
    {
        std::fprintf(err_, "zarn-batch: %.*s\n", static_cast<int>(cause.size()), cause.data());
    }

private:
    void Put(std::string_view line)
    {
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fputc('\n', out_);
    }

    std::FILE* out_;
    std::FILE* err_;
    std::string decimal_;
    std::string fileName_;
    std::string title_;
};

struct Options {
    bool map = true;
    RunOptions run;
#ifdef ZARN_HAVE_EXPORT
    std::vector<ExportFormat> exports;
#endif
    unsigned jobs = 0;
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
        BatchHost host(path, out, err, decimal);
        RunOptions run = options.run;
#ifdef ZARN_HAVE_EXPORT
        const std::vector<std::unique_ptr<RunOutput>> exports = MakeExports(options.exports, run.geodesic);
        for (const std::unique_ptr<RunOutput>& e : exports) {
            run.outputs.push_back(e.get());
        }
#endif
#ifdef ZARN_HAVE_MAP
        if (options.map) {
            return RunWithMap(*ws, host, run) == RunOutcome::Completed;
        }
#endif
        return ProcessBnaFile(*ws, nullptr, host, run) == RunOutcome::Completed;
    } catch (const std::exception& e) {
        std::fprintf(err, "zarn-batch: %s: %s\n", path.c_str(), e.what());
        std::fprintf(out, "%.*s\n", static_cast<int>(RunFailedMessage.size()), RunFailedMessage.data());
        return false;
    }
}

// The decimal separator of the progress lines. Without Qt the C++ library's
// view of the user's locale serves; a locale it does not know gives a point.
std::string DecimalSeparator()
{
#ifdef ZARN_HAVE_MAP
    return UserDecimalSeparator();
#else
    try {
        return std::string(1, std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point());
    } catch (const std::runtime_error&) {
        return ".";
    }
#endif
}

// A temporary file deleted when closed, for one file's lines under --jobs.
std::FILE* SpoolFile()
{
#ifdef _WIN32
    // tmpfile() of the Windows C library creates its file in the root folder
    // of the current drive, which most users may not write to. "D" deletes
    // the file when it is closed.
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        return nullptr;
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path name = temp / ("zarn-batch-" + std::to_string(random()) + ".tmp");
        // Created only if no file has the name, in the same call, so that no
        // other process's file is taken over; deleted when closed.
        const int fd = _wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                              _S_IREAD | _S_IWRITE);
        if (fd == -1) {
            continue;
        }
        if (std::FILE* f = _fdopen(fd, "w+b")) {
            return f;
        }
        _close(fd);
    }
    return nullptr;
#else
    return std::tmpfile();
#endif
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
    std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[n]);
    for (std::size_t i = 0; i < n; ++i) {
        done[i] = false;
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
            done[i] = true;
            done[i].notify_all();
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
        done[i].wait(false);
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
            std::fputs(Usage, out);
            return 0;
        } else if (a == "--version") {
            std::fprintf(out, "zarn-batch %s\n", ZARN_VERSION);
            return 0;
        } else if (a == "--no-map") {
            options.map = false;
        } else if (a == "--export") {
#ifdef ZARN_HAVE_EXPORT
            const std::optional<ExportFormat> format =
                i + 1 < args.size() ? ParseExportFormat(args[i + 1]) : std::nullopt;
            if (!format) {
                std::fprintf(err, "zarn-batch: --export needs one of gpkg, geojson, shp, fgb, kml\n");
                return 2;
            }
            if (std::find(options.exports.begin(), options.exports.end(), *format) == options.exports.end()) {
                options.exports.push_back(*format);
            }
            ++i;
#else
            std::fprintf(err, "zarn-batch: --export is not in this build (it was built without GDAL)\n");
            return 2;
#endif
        } else if (a == "--geodesic") {
#ifndef ZARN_HAVE_GEODESIC
            std::fprintf(err, "zarn-batch: --geodesic is not in this build (it was built without GeographicLib)\n");
            return 2;
#endif
            options.run.geodesic = true;
        } else if (a == "--jobs" || a == "-j") {
            if (i + 1 == args.size() || !ParseJobs(args[i + 1], options.jobs)) {
                std::fprintf(err, "zarn-batch: --jobs needs a whole number of at least 1\n");
                return 2;
            }
            ++i;
        } else {
            std::fprintf(err, "zarn-batch: unknown option %s\n%s", a.c_str(), Usage);
            return 2;
        }
    }
    if (options.files.empty()) {
        std::fputs(Usage, err);
        return 2;
    }
#ifdef ZARN_HAVE_MAP
    // A run without the map spares Qt's start-up and teardown, which load the
    // font configuration only to unload it again.
    std::optional<BatchMapSession> mapSession;
    if (options.map) {
        mapSession.emplace();
    }
#else
    options.map = false;
#endif
    const std::string decimal = DecimalSeparator();
    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1U, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, options.files.size()));
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
