// Fuzz target: the whole analysis run and the map arithmetic on arbitrary
// bytes. Each input becomes a BNA file in a private folder; ProcessBnaFile
// analyses it and MapDrawing draws it onto a recording canvas. Besides
// crashes, sanitizer reports, hangs and memory growth, the target stops on:
// - an outcome that disagrees with the messages shown (a failure reported as
//   success, a summary after the failure message, a missing result file);
// - a changed input file, any file in the folder besides the input and its
//   three results, or a file left open;
// - a canvas position that is not finite;
// - a drawing pass that reads other records than the analysis pass did;
// - for one input in sixteen, a second run over the same content behind
//   nearly a megabyte of blank lines, so that the records lie across the
//   reader's buffer boundary, by the same workspace and map stage (the
//   window reuses both from run to run): every line, message and result
//   byte must come out the same. A byte-order mark counts only at the very
//   start of a file (UTF-16 is refused, a UTF-8 mark is skipped), so content
//   that opens with one is not padded.
// The display settings (pen width, marker size, names shown) are taken from
// a hash of the input, so that refused pen widths and odd marker sizes are
// covered too.

#include "fuzzcheck.h"
#include "recordingrun.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

using namespace zarn;
using namespace zarn::probe;

namespace {

// The reader streams through a buffer of this size; the padded run places
// the start of the content just before its end.
constexpr std::size_t ReaderBufferBytes = std::size_t{1} << 20;

const char* const InputTitle = "in.bna";
const char* const ResultNames[] = {"inCentroid.bna", "inArea.csv", "inMap.bmp"};

class Folder {
public:
    Folder()
    {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "zarn-fuzz-XXXXXX").string();
        if (ec || mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot create a temporary folder");
        }
        path = pattern;
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string File(const char* name) const { return path + "/" + name; }

    std::string path;
};

std::uint64_t Hash(std::string_view bytes)
{
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return h ^ (h >> 29);
}

DisplaySettings SettingsFor(std::uint64_t h)
{
    static constexpr std::int32_t Widths[] = {2, 2, 2, 1, 7, 0, -3, 40000};
    static constexpr std::int16_t Sizes[] = {3, 3, 0, 1, -5, 255, 32767, -32768};
    DisplaySettings s;
    s.lineColor = Rgb(255, 0, 0);
    s.centroidFillColor = Rgb(0, 0, 255);
    s.lineWidth = Widths[(h >> 8) % 8];
    s.centroidSize = Sizes[(h >> 16) % 8];
    s.showText = ((h >> 24) & 1U) != 0 ? FlagTrue : FlagFalse;
    return s;
}

struct RunRecord {
    RunOutcome outcome = RunOutcome::Failed;
    RecordingHost host{"", ""};
    std::uint64_t digest = 0;
    std::optional<std::string> results[3];
};

std::size_t Count(const std::vector<std::string>& lines, std::string_view line, std::size_t from = 0,
                  std::size_t to = SIZE_MAX)
{
    to = std::min(to, lines.size());
    return from >= to ? 0 : static_cast<std::size_t>(std::count(lines.begin() + from, lines.begin() + to, line));
}

std::size_t CountPrefix(const std::vector<std::string>& lines, std::string_view prefix, std::size_t to)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < std::min(to, lines.size()); ++i) {
        n += lines[i].starts_with(prefix) ? 1 : 0;
    }
    return n;
}

std::size_t OpenDescriptors()
{
    std::size_t n = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}

void CheckFolder(const Folder& folder)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path, ec)) {
        const std::string name = entry.path().filename().string();
        const bool known = name == InputTitle || name == ResultNames[0] || name == ResultNames[1] ||
                           name == ResultNames[2];
        Require(known, "a run wrote a file other than its three results");
    }
    Require(!ec, "cannot list the temporary folder");
}

void CheckRecord(const RunRecord& r, const std::string& inputPath)
{
    const RecordingHost& h = r.host;
    const std::vector<std::string>& p = h.progress;
    Require(!p.empty() && p[0] == " Open " + inputPath, "the first progress line is not the Open line");

    const std::size_t failed = Count(h.messages, RunFailedMessage);
    const std::size_t drawFailed = Count(h.messages, DrawFailedMessage);
    const std::size_t skipped = Count(p, "Therefore this polygon is skipped.", 0, h.drawingFrom.value_or(SIZE_MAX));
    const std::string tooMany = "There was at least one polygon with too many points (>20000).";
    switch (r.outcome) {
    case RunOutcome::Failed:
        Require(failed == 1 && h.messages.back() == RunFailedMessage, "a failed run did not end with its message");
        Require(!h.causes.empty() && !h.causes.back().empty(), "a failed run gave no cause");
        Require(Count(h.messages, tooMany) == 0, "a failed run warned about skipped polygons");
        break;
    case RunOutcome::Stopped:
        Require(false, "a run that nobody stopped reports a stop");
        break;
    case RunOutcome::DrawingFailed:
    case RunOutcome::Completed: {
        const bool drawingFailed = r.outcome == RunOutcome::DrawingFailed;
        Require(failed == 0, "a run that reports success showed the failure message");
        Require(drawFailed == (drawingFailed ? 1U : 0U), "the drawing message disagrees with the outcome");
        Require(h.causes.size() == (drawingFailed ? 1U : 0U), "a cause without a failure");
        Require(h.summary.size() == 7 && std::ranges::count(h.order, 'B') == 1 &&
                    std::ranges::count(h.order, 'R') == 1, "the summary is incomplete");
        Require(Count(h.messages, tooMany) == (skipped > 0 ? 1U : 0U), "the too-many-points warning is wrong");
        for (const auto& result : r.results) {
            Require(result.has_value(), "a completed run left a result file missing");
        }
        break;
    }
    }

    // The drawing reads the same records as the analysis, in the same order.
    if (h.drawingFrom) {
        const std::size_t from = *h.drawingFrom;
        std::vector<std::string> analysed;
        for (std::size_t i = 1; i < from; ++i) {
            if (p[i].starts_with("Read polygon ")) {
                analysed.push_back(p[i].substr(0, p[i].size() - 1) + " for drawing.");
            }
        }
        const std::size_t drawn = p.size() - from;
        Require(drawn <= analysed.size(), "the drawing read more records than the analysis");
        if (r.outcome == RunOutcome::Completed) {
            Require(drawn == analysed.size(), "the drawing read fewer records than the analysis");
        }
        for (std::size_t i = 0; i < drawn; ++i) {
            Require(p[from + i] == analysed[i], "the drawing read another record than the analysis");
        }
        Require(CountPrefix(p, "Area (sq km): ", from) == CountPrefix(p, "Center of Gravity: (", from),
                "an analysed polygon lacks its area or centroid line");
    }
}

RunRecord RunOn(const Folder& folder, std::string_view content, Workspace& ws, MarkedDrawing& map,
                RecordingCanvas& canvas)
{
    const std::string input = folder.File(InputTitle);
    for (const char* name : ResultNames) {
        std::remove(folder.File(name).c_str());
    }
    Require(WriteBytes(input, content), "cannot write the input file");
    canvas.Cls();

    RunRecord r;
    r.host = RecordingHost(input, InputTitle);
    const std::size_t descriptors = OpenDescriptors();
    r.outcome = ProcessBnaFile(ws, &map, r.host);
    Require(OpenDescriptors() == descriptors, "the run left a file open");
    r.digest = canvas.digest();
    Require(!canvas.nonFinite, "a canvas position is not finite");

    const std::optional<std::string> after = ReadBytes(input);
    Require(after.has_value() && *after == content, "the run changed its input file");
    CheckFolder(folder);
    for (int i = 0; i < 3; ++i) {
        r.results[i] = ReadBytes(folder.File(ResultNames[i]));
    }
    CheckRecord(r, input);
    return r;
}

void RequireSame(const RunRecord& a, const RunRecord& b)
{
    Require(a.outcome == b.outcome, "the padded run has another outcome");
    Require(a.host.progress == b.host.progress, "the padded run has other progress lines");
    Require(a.host.summary == b.host.summary, "the padded run has other summary lines");
    Require(a.host.messages == b.host.messages, "the padded run shows other messages");
    Require(a.host.causes == b.host.causes, "the padded run gives another cause");
    Require(a.digest == b.digest, "the padded run draws another map");
    for (int i = 0; i < 3; ++i) {
        Require(a.results[i] == b.results[i], "the padded run writes other result bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Folder folder;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::uint64_t h = Hash(content);
    const DisplaySettings settings = SettingsFor(h);
    const auto ws = std::make_unique<Workspace>();
    RecordingCanvas canvas;
    MarkedDrawing map(*ws, canvas, settings);

    const RunRecord plain = RunOn(folder, content, *ws, map, canvas);
    const bool byteOrderMark = content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF") ||
                               content.starts_with("\xEF\xBB\xBF");
    if (h % 16 == 0 && !byteOrderMark) {
        const std::size_t intoContent = (h >> 32) % (std::min<std::size_t>(size, 16384) + 1);
        std::string padded(ReaderBufferBytes - intoContent, '\n');
        padded.append(content);
        RequireSame(plain, RunOn(folder, padded, *ws, map, canvas));
    }
    return 0;
}
