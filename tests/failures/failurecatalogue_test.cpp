// The failure catalogue: hostile inputs and file-system faults, each run
// through the whole analysis and map drawing. Every case states its outcome
// (complete results or the failure message), the progress lines up to the
// fault, which result files exist with which bytes, and checks that the input
// file is unchanged, that nothing besides the three result files appeared and
// that the run left no file open.

#include "recordingrun.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zarn;
using namespace zarn::probe;
using namespace std::string_literals;

namespace {

const std::string Title = "in.bna";
const std::string CentroidName = "inCentroid.bna";
const std::string AreaName = "inArea.csv";
const std::string MapName = "inMap.bmp";
const std::string TooMany = "There was at least one polygon with too many points (>20000).";

const std::string Square = "\"First\",\"Second\",5\r\n0,0\r\n1,0\r\n1,1\r\n0,1\r\n0,0\r\n";
const std::string Box = "\"Box\",\"B\",5\r\n10,50\r\n12,50\r\n12,51\r\n10,51\r\n10,50\r\n";
const std::vector<std::string> SquareLines = {"Read polygon First with 5 points.", "Area (sq km): 12363.829",
                                              "Center of Gravity: (0.5, 0.5)"};
const std::vector<std::string> BoxLines = {"Read polygon Box with 5 points.", "Area (sq km): 15729.324",
                                           "Center of Gravity: (11, 50.5)"};
const std::string SquareArea = "\"First\", \"Second\", 12363.829\r\n";
const std::string SquareCentroid = "\"First Centroid\", \"Second\", 1\r\n0.5, 0.5\r\n";
const std::string BoxArea = "\"Box\", \"B\", 15729.324\r\n";
const std::string BoxCentroid = "\"Box Centroid\", \"B\", 1\r\n11, 50.5\r\n";

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<std::string> SkipLines(const std::string& name, const std::string& count)
{
    return {"Read polygon " + name + " with " + count + " points.",
            "",
            "The polygon " + name + " consists of " + count + " points.",
            "ZARN can treat only polygons with up to 20000 points.",
            "Therefore this polygon is skipped.",
            ""};
}

// The unit square with its first point repeated: n points in all, the same
// area and centroid, since an edge between equal points adds nothing.
std::string PaddedSquare(const std::string& name, int n)
{
    std::string s = "\"" + name + "\",\"p\"," + std::to_string(n) + "\r\n";
    for (int k = 0; k < n - 4; ++k) {
        s += "0,0\r\n";
    }
    return s + "1,0\r\n1,1\r\n0,1\r\n0,0\r\n";
}

// The folder a case runs in, and what the case put there besides the input.
struct Scene {
    std::string dir;
    std::set<std::string> extras;

    std::string Path(const std::string& name) const { return dir + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const
    {
        ASSERT_TRUE(WriteBytes(Path(name), bytes)) << Path(name);
    }
    void Folder(const std::string& name)
    {
        ASSERT_EQ(mkdir(Path(name).c_str(), 0755), 0) << Path(name);
        extras.insert(name);
    }
};

struct HostileCase {
    const char* name;
    std::function<void(Scene&)> prepare;
    RunOutcome outcome;
    std::vector<std::string> progress;  // after the " Open " line, up to the drawing
    std::optional<std::string> area;      // exact bytes; nothing: the file must not exist
    std::optional<std::string> centroid;
    bool map = false;
    std::size_t summaryLines = 0;
    bool warnsTooMany = false;
    bool permissionsBind = false;  // only meaningful for a user whom permissions bind
    long memoryBoundMb = 0;        // when set: the run's peak memory growth stays below it
};

// Names the case in test listings instead of the bytes of the struct.
void PrintTo(const HostileCase& c, std::ostream* out)
{
    *out << c.name;
}

std::function<void(Scene&)> Input(std::string bytes)
{
    return [bytes = std::move(bytes)](Scene& s) { s.Write(Title, bytes); };
}

// A line of `bytes` bytes of `fill` after `head`, written in pieces so that
// the test itself stays small.
std::function<void(Scene&)> LongLine(std::string head, char fill, std::size_t bytes, std::string tail)
{
    return [=](Scene& s) {
        std::FILE* f = std::fopen(s.Path(Title).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string piece(std::size_t{1} << 20, fill);
        std::fwrite(head.data(), 1, head.size(), f);
        for (std::size_t done = 0; done < bytes; done += piece.size()) {
            std::fwrite(piece.data(), 1, std::min(piece.size(), bytes - done), f);
        }
        std::fwrite(tail.data(), 1, tail.size(), f);
        ASSERT_EQ(std::fclose(f), 0);
    };
}

std::string Utf16WithBom(const std::string& text, bool bigEndian = false)
{
    std::string out = bigEndian ? "\xfe\xff" : "\xff\xfe";
    for (const char c : text) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

constexpr std::size_t HundredMb = std::size_t{100} << 20;

const HostileCase Cases[] = {
    {"empty_file_completes_with_empty_results", Input(""), RunOutcome::Completed, {}, "", "", true, 7},
    {"only_blank_lines_complete_with_empty_results", Input("\r\n\r\n   \r\n\t\n\n"), RunOutcome::Completed, {},
     "", "", true, 7},
    {"truncated_header_keeps_the_records_before_it", Input(Square + "\"Box\",\"B\""), RunOutcome::Failed,
     SquareLines, SquareArea, SquareCentroid},
    {"truncated_point_list_fails_after_its_header", Input(Square + Box.substr(0, Box.size() - 9)),
     RunOutcome::Failed, Join({SquareLines, {"Read polygon Box with 5 points."}}), SquareArea, SquareCentroid},
    {"truncated_while_skipping_an_oversized_record",
     Input(Square + "\"Big\",\"b\",20001\r\n" + PaddedSquare("x", 100)), RunOutcome::Failed,
     Join({SquareLines, SkipLines("Big", "20001")}), SquareArea, SquareCentroid},
    {"count_2147483647_is_skipped_until_the_file_ends", Input("\"A\",\"B\",2147483647\r\n0,0\r\n" + Box),
     RunOutcome::Failed, SkipLines("A", "2147483647"), "", ""},
    {"count_minus_2147483648_reads_past_until_the_file_ends", Input("\"A\",\"B\",-2147483648\r\n0,0\r\n" + Box),
     RunOutcome::Failed, {"Read polygon A with -2147483648 points."}, "", ""},
    {"count_2147483648_is_beyond_32_bits", Input(Square + "\"A\",\"B\",2147483648\r\n0,0\r\n"),
     RunOutcome::Failed, SquareLines, SquareArea, SquareCentroid},
    {"count_1e10_is_beyond_32_bits", Input("\"A\",\"B\",1e10\r\n0,0\r\n"), RunOutcome::Failed, {}, "", ""},
    {"count_abc_reads_as_a_record_without_points", Input(Square + "\"A\",\"B\",abc\r\n" + Box),
     RunOutcome::Completed,
     Join({SquareLines, {"Read polygon A with 0 points.", "Area (sq km): 0", "Center of Gravity: (0, 0)"}, BoxLines}),
     SquareArea + "\"A\", \"B\", 0\r\n" + BoxArea,
     SquareCentroid + "\"A Centroid\", \"B\", 1\r\n0, 0\r\n" + BoxCentroid, true, 7},
    {"coordinate_1e39_is_too_large_for_a_float", Input(Square + "\"A\",\"B\",2\r\n1e39,0\r\n0,0\r\n"),
     RunOutcome::Failed, Join({SquareLines, {"Read polygon A with 2 points."}}), SquareArea, SquareCentroid},
    {"coordinate_minus_1e39_is_too_large_for_a_float", Input("\"A\",\"B\",2\r\n0,-1e39\r\n0,0\r\n" + Box),
     RunOutcome::Failed, {"Read polygon A with 2 points."}, "", ""},
    {"coordinates_nan_and_inf_read_as_0", Input(Replace(Square, "\r\n0,0\r\n1,0", "\r\nnan,inf\r\n1,-inf") + Box),
     RunOutcome::Completed, Join({SquareLines, BoxLines}), SquareArea + BoxArea, SquareCentroid + BoxCentroid, true,
     7},
    {"nul_bytes_stay_in_names_and_make_no_number",
     Input("\"A\0B\",\"S\",5\r\n0\0,0\r\n1,0\r\n1,1\r\n0,1\r\n0,0\r\n"s + Box), RunOutcome::Completed,
     Join({{"Read polygon A\0B with 5 points."s, "Area (sq km): 12363.829", "Center of Gravity: (0.5, 0.5)"},
           BoxLines}),
     "\"A\0B\", \"S\", 12363.829\r\n"s + BoxArea, "\"A\0B Centroid\", \"S\", 1\r\n0.5, 0.5\r\n"s + BoxCentroid,
     true, 7},
    {"line_of_100_mb_without_separators_is_a_name_too_long", LongLine("", 'x', HundredMb, ""),
     RunOutcome::Failed, {}, "", "", false, 0, false, false, 64},
    {"number_of_100_mb_is_too_large_for_a_float", LongLine("\"A\",\"B\",1\r\n", '7', HundredMb, ",5\r\n" + Box),
     RunOutcome::Failed, {"Read polygon A with 1 points."}, "", "", false, 0, false, false, 64},
    {"unterminated_quote_runs_to_the_end", Input(Square + "\"Never closed, B, 3\r\n0,0\r\n1,1\r\n0,0\r\n"),
     RunOutcome::Failed, SquareLines, SquareArea, SquareCentroid},
    {"utf16_text_with_a_byte_order_mark_is_refused", Input(Utf16WithBom(Square + Box)), RunOutcome::Failed, {},
     std::nullopt, std::nullopt},
    {"utf16_big_endian_text_with_a_byte_order_mark_is_refused", Input(Utf16WithBom(Square + Box, true)),
     RunOutcome::Failed, {}, std::nullopt, std::nullopt},
    {"cr_only_line_ends_read_like_cr_lf", Input(Replace(Square + Box, "\r\n", "\r")), RunOutcome::Completed,
     Join({SquareLines, BoxLines}), SquareArea + BoxArea, SquareCentroid + BoxCentroid, true, 7},
    {"lf_only_line_ends_read_like_cr_lf", Input(Replace(Square + Box, "\r\n", "\n")), RunOutcome::Completed,
     Join({SquareLines, BoxLines}), SquareArea + BoxArea, SquareCentroid + BoxCentroid, true, 7},
    {"record_of_20000_points_is_analysed", Input(PaddedSquare("Full", 20000) + Box), RunOutcome::Completed,
     Join({{"Read polygon Full with 20000 points.", "Area (sq km): 12363.829", "Center of Gravity: (0.5, 0.5)"},
           BoxLines}),
     "\"Full\", \"p\", 12363.829\r\n" + BoxArea, "\"Full Centroid\", \"p\", 1\r\n0.5, 0.5\r\n" + BoxCentroid, true,
     7},
    {"record_of_20001_points_is_skipped_and_warned_about", Input(Square + PaddedSquare("Over", 20001) + Box),
     RunOutcome::Completed, Join({SquareLines, SkipLines("Over", "20001"), BoxLines}), SquareArea + BoxArea,
     SquareCentroid + BoxCentroid, true, 7, true},
    {"record_of_0_points_between_others", Input(Square + "\"Empty\",\"e\",0\r\n" + Box), RunOutcome::Completed,
     Join({SquareLines, {"Read polygon Empty with 0 points.", "Area (sq km): 0", "Center of Gravity: (0, 0)"},
           BoxLines}),
     SquareArea + "\"Empty\", \"e\", 0\r\n" + BoxArea,
     SquareCentroid + "\"Empty Centroid\", \"e\", 1\r\n0, 0\r\n" + BoxCentroid, true, 7},
    {"read_only_folder_takes_no_result",
     [](Scene& s) {
         s.Write(Title, Square);
         ASSERT_EQ(chmod(s.dir.c_str(), 0555), 0);
     },
     RunOutcome::Failed, {}, std::nullopt, std::nullopt, false, 0, false, true},
    {"read_only_existing_result_file_is_not_replaced",
     [](Scene& s) {
         s.Write(Title, Square);
         s.Write(CentroidName, "old\r\n");
         ASSERT_EQ(chmod(s.Path(CentroidName).c_str(), 0444), 0);
     },
     RunOutcome::Failed, {}, std::nullopt, "old\r\n", false, 0, false, true},
    {"folder_in_the_centroid_file_place",
     [](Scene& s) {
         s.Write(Title, Square);
         s.Folder(CentroidName);
     },
     RunOutcome::Failed, {}, std::nullopt, std::nullopt},
    {"folder_in_the_area_file_place",
     [](Scene& s) {
         s.Write(Title, Square);
         s.Folder(AreaName);
     },
     RunOutcome::Failed, {}, std::nullopt, ""},
    {"folder_in_the_map_file_place",
     [](Scene& s) {
         s.Write(Title, Square + Box);
         s.Folder(MapName);
     },
     RunOutcome::Failed, Join({SquareLines, BoxLines}), SquareArea + BoxArea, SquareCentroid + BoxCentroid, false,
     6},
    {"result_name_hard_linked_to_the_input_leaves_the_input_alone",
     [](Scene& s) {
         s.Write(Title, Square);
         ASSERT_EQ(link(s.Path(Title).c_str(), s.Path(AreaName).c_str()), 0);
     },
     RunOutcome::Failed, {}, Square, ""},
    {"result_name_linked_symbolically_to_the_input_leaves_the_input_alone",
     [](Scene& s) {
         s.Write(Title, Square);
         ASSERT_EQ(symlink(Title.c_str(), s.Path(CentroidName).c_str()), 0);
     },
     RunOutcome::Failed, {}, std::nullopt, Square},
    {"map_name_hard_linked_to_the_input_leaves_the_input_alone",
     [](Scene& s) {
         s.Write(Title, Square);
         ASSERT_EQ(link(s.Path(Title).c_str(), s.Path(MapName).c_str()), 0);
         s.extras.insert(MapName);
     },
     RunOutcome::Failed, {}, std::nullopt, std::nullopt},
    {"map_name_linked_symbolically_to_the_input_leaves_the_input_alone",
     [](Scene& s) {
         s.Write(Title, Square);
         ASSERT_EQ(symlink(Title.c_str(), s.Path(MapName).c_str()), 0);
         s.extras.insert(MapName);
     },
     RunOutcome::Failed, {}, std::nullopt, std::nullopt},
    {"input_deleted_between_the_choice_and_the_run", [](Scene&) {}, RunOutcome::Failed, {}, std::nullopt,
     std::nullopt},
    {"input_replaced_by_a_folder", [](Scene& s) { s.Folder(Title); }, RunOutcome::Failed, {}, std::nullopt,
     std::nullopt},
};

// Size and a hash of a regular file, read in pieces.
std::optional<std::pair<std::uint64_t, std::uint64_t>> Fingerprint(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return std::nullopt;
    }
    std::uint64_t h = 14695981039346656037ULL;
    std::uint64_t size = 0;
    std::vector<unsigned char> piece(std::size_t{1} << 20);
    std::size_t got = 0;
    while ((got = std::fread(piece.data(), 1, piece.size(), f)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            h = (h ^ piece[i]) * 1099511628211ULL;
        }
        size += got;
    }
    std::fclose(f);
    return std::make_pair(size, h);
}

long PeakMemoryKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::size_t OpenDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class FailureCatalogue : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zarn-catalogue-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scene_.dir = pattern;
    }
    void TearDown() override
    {
        chmod(scene_.dir.c_str(), 0755);
        std::error_code ec;
        std::filesystem::remove_all(scene_.dir, ec);
    }

    Scene scene_;
};

TEST_P(FailureCatalogue, EndsAsStated)
{
    const HostileCase& c = GetParam();
    if (c.permissionsBind && geteuid() == 0) {
        GTEST_SKIP() << "running as root, whom file permissions do not stop from writing";
    }
    ASSERT_NO_FATAL_FAILURE(c.prepare(scene_));
    const std::string input = scene_.Path(Title);
    const auto before = Fingerprint(input);
    const bool inputIsFolder = std::filesystem::is_directory(input);

    auto ws = std::make_unique<Workspace>();
    RecordingCanvas canvas;
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    MarkedDrawing map(*ws, canvas, settings);
    RecordingHost host(input, Title);
    const std::size_t descriptorsBefore = OpenDescriptors();
    const long peakBefore = PeakMemoryKb();
    const RunOutcome outcome = ProcessBnaFile(*ws, &map, host);
    const long growthKb = PeakMemoryKb() - peakBefore;
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "the run left a file open";
    chmod(scene_.dir.c_str(), 0755);

    EXPECT_EQ(outcome, c.outcome);
    std::vector<std::string> progress = {" Open " + input};
    progress.insert(progress.end(), c.progress.begin(), c.progress.end());
    if (c.outcome != RunOutcome::Failed || c.summaryLines > 0) {
        for (const std::string& line : c.progress) {
            if (line.starts_with("Read polygon ")) {
                progress.push_back(line.substr(0, line.size() - 1) + " for drawing.");
            }
        }
    }
    EXPECT_EQ(host.progress, progress);
    std::vector<std::string> messages;
    if (c.warnsTooMany) {
        messages.push_back(TooMany);
    }
    if (c.outcome == RunOutcome::Failed) {
        messages.emplace_back(RunFailedMessage);
    }
    EXPECT_EQ(host.messages, messages);
    EXPECT_EQ(host.summary.size(), c.summaryLines);
    EXPECT_EQ(host.causes.size(), c.outcome == RunOutcome::Completed ? 0U : 1U);

    EXPECT_EQ(ReadBytes(scene_.Path(AreaName)), c.area) << "area file";
    EXPECT_EQ(ReadBytes(scene_.Path(CentroidName)), c.centroid) << "centroid file";
    if (!scene_.extras.contains(MapName)) {
        EXPECT_EQ(std::filesystem::is_regular_file(scene_.Path(MapName)), c.map) << "map file";
    }

    EXPECT_EQ(Fingerprint(input), before) << "the input file changed";
    EXPECT_EQ(std::filesystem::is_directory(input), inputIsFolder);
    std::set<std::string> expected = scene_.extras;
    if (before) {
        expected.insert(Title);
    }
    if (c.area) {
        expected.insert(AreaName);
    }
    if (c.centroid) {
        expected.insert(CentroidName);
    }
    if (c.map) {
        expected.insert(MapName);
    }
    EXPECT_EQ(Listing(scene_.dir), expected);
    if (c.memoryBoundMb > 0) {
        EXPECT_LT(growthKb, c.memoryBoundMb * 1024) << "peak memory grew by " << growthKb << " kB";
    }
}

INSTANTIATE_TEST_SUITE_P(HostileInput, FailureCatalogue, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

}  // namespace
