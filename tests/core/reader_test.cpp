#include "bnainput.h"
#include "bnanumber.h"
#include "bnareader.h"
#include "coordinatescan.h"
#include "ellipsoidstage.h"
#include "pointstore.h"
#include "recordstream.h"
#include "runerror.h"
#include "testfiles.h"
#include "workspace.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <charconv>
#include <atomic>
#include <cstdlib>
#include <clocale>
#include <locale>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <tuple>
#include <utility>


namespace zarn {
namespace {

using namespace std::string_view_literals;
using test::PrintTo;
using test::TempFolder;

std::string Shortest(float v)
{
    char buf[32];
    return {buf, std::to_chars(buf, buf + sizeof buf, v).ptr};
}

// Reads `text` with the record loop and lists each record as
// "first|second|count: x,y x,y" on a line; a failure appends "error".
std::string ReadRecords(std::string_view text)
{
    const TempFolder dir;
    auto ws = std::make_unique<Workspace>();
    std::string out;
    std::string first;
    std::string second;
    try {
        BnaInput in(dir.Write("in.bna", text));
        while (!in.AtEnd()) {
            ws->ResetPolygon();
            ReadBnaHeader(in, first, second, *ws);
            const int n = ws->curPoly.nPoints;
            out += first + "|" + second + "|" + std::to_string(n) + ":";
            if (n > MaxPoints) {
                SkipBnaPoints(in, *ws);
            } else {
                ReadBnaPoints(in, *ws);
                for (int k = 0; k < n; ++k) {
                    out.append(" ").append(Shortest(ws->pointX[k])).append(",").append(Shortest(ws->pointY[k]));
                }
            }
            out += "\n";
        }
    } catch (const RunError&) {
        out += "error";
    }
    return out;
}

struct FieldCase {
    const char* name;
    std::string_view input;
    std::string_view records;
};

class FieldRules : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldRules, ReadAsListed)
{
    EXPECT_EQ(ReadRecords(GetParam().input), GetParam().records);
}

constexpr std::string_view TwoPairs = "A|B|2: 1,2 3,4\n";

INSTANTIATE_TEST_SUITE_P(
    Reader, FieldRules,
    testing::Values(
        FieldCase{"conventional_layout", "\"A\",\"B\",2\r\n1,2\r\n3,4\r\n", TwoPairs},
        FieldCase{"utf8_byte_order_mark_is_no_part_of_the_first_name", "\xEF\xBB\xBF\"A\",\"B\",2\r\n1,2\r\n3,4\r\n", TwoPairs},
        FieldCase{"whole_record_on_one_line", "\"A\",\"B\",2,1,2,3,4", TwoPairs},
        FieldCase{"one_field_per_line", "\"A\"\r\n\"B\"\r\n2\r\n1\r\n2\r\n3\r\n4\r\n", TwoPairs},
        FieldCase{"lone_CR_and_lone_LF_end_lines", "A\r\"B\"\n2\r1,2\n3,4\r", TwoPairs},
        FieldCase{"blank_lines_anywhere_are_passed_over", "\r\n\n\"A\",\"B\",2\r\n\r\n1,2\r\n\r\n3,4\r\n\r\n\r\n",
                  TwoPairs},
        FieldCase{"blanks_before_fields_are_skipped", " \t\"A\", \t\"B\",\t 2\r\n \t1, \t2\r\n  3,  4", TwoPairs},
        FieldCase{"blanks_after_a_number_belong_to_its_separator", "\"A\",\"B\",2   \r\n1  ,  2  \r\n3\t,4\t\r\n",
                  TwoPairs},
        FieldCase{"pairs_on_one_line_separated_by_spaces", "\"T\",\"x\",2\n-73.04, 41.12 -73.09, 41.15\n",
                  "T|x|2: -73.04,41.12 -73.09,41.15\n"},
        FieldCase{"quoted_names_keep_commas_blanks_and_line_breaks", "\" A, b \",\"c\r\nd\",0", " A, b |c\r\nd|0:\n"},
        FieldCase{"unquoted_names_run_to_the_separator_less_trailing_blanks", "A b \t,B\t ,0\r\n", "A b|B|0:\n"},
        FieldCase{"text_after_a_closing_quote_is_ignored", "\"PID3\"\"a\",\"SID3\" x,0", "PID3|SID3|0:\n"},
        FieldCase{"a_third_and_fourth_quoted_name_are_ignored",
                  "\"A\",\"B\",\"C\",\"D\",1\r\n5,6\r\n\"E\",\"F\",\"G\",1\r\n7,8", "A|B|1: 5,6\nE|F|1: 7,8\n"},
        FieldCase{"count_zero_is_followed_by_the_next_header", "\"A\",\"B\",0\r\n\"C\",\"D\",1\r\n5,6",
                  "A|B|0:\nC|D|1: 5,6\n"},
        FieldCase{"negative_count_reads_past_its_pairs", "\"L\",\"B\",-2\r\n1,2\r\n3,4\r\n\"C\",\"D\",1\r\n5,6",
                  "L|B|-2:\nC|D|1: 5,6\n"},
        FieldCase{"fractional_count_rounds_half_to_even", "\"A\",\"B\",1.5\r\n1,2\r\n3,4\r\n\"A\",\"B\",2.5,1,2,3,4",
                  "A|B|2: 1,2 3,4\nA|B|2: 1,2 3,4\n"},
        FieldCase{"number_grammar", "\"A\",\"B\",3\r\n+1.5,-.5\r\n5.,1e3\r\n1.E-2,-0\r\n",
                  "A|B|3: 1.5,-0.5 5,1000 0.01,-0\n"},
        FieldCase{"anything_else_in_a_number_field_reads_as_zero",
                  "\"A\",\"B\",4\r\nabc,nan\r\ninf,0x10\r\n1e,--1\r\n,7", "A|B|4: 0,0 0,0 0,0 0,7\n"},
        FieldCase{"names_are_bytes", "\"Z\xFCrich\",\"\xC3\xA9t\xC3\xA9\",0", "Z\xFCrich|\xC3\xA9t\xC3\xA9|0:\n"},
        FieldCase{"nul_bytes_and_junk_are_ordinary_bytes", "\"A\0B\",\x01\xFF,1\r\n1,2"sv, "A\0B|\x01\xFF|1: 1,2\n"sv},
        FieldCase{"empty_file_has_no_records", "", ""},
        FieldCase{"file_of_blanks_has_no_records", " \r\n\t\r\n", ""},
        FieldCase{"ending_inside_a_header_fails", "\"A\",\"B\",1\r\n1,2\r\n\"C\",\"D\",\r\n", "A|B|1: 1,2\nerror"},
        FieldCase{"ending_inside_the_pairs_fails", "\"A\",\"B\",2\r\n1,2\r\n3", "A|B|2:error"},
        FieldCase{"ending_while_reading_past_a_negative_count_fails", "\"A\",\"B\",-2\r\n1,2\r\n", "A|B|-2:error"},
        FieldCase{"ending_while_skipping_an_oversized_record_fails", "\"A\",\"B\",20001\r\n1,2\r\n", "A|B|20001:error"},
        FieldCase{"ending_inside_a_quoted_name_fails", "\"A\",\"B", "error"},
        FieldCase{"count_beyond_32_bits_fails", "\"A\",\"B\",2147483648\r\n", "error"},
        FieldCase{"coordinate_too_large_for_a_float_fails", "\"A\",\"B\",1\r\n1e39,0\r\n", "A|B|1:error"}),
    [](const auto& info) { return std::string(info.param.name); });

// A number field of any length reads as its value (or as no number, or as
// too large), whether it fits the reader's look-ahead of 4096 bytes, just
// passes it, or runs across the end of what one read brought in (1 MiB) or
// across several reads.
TEST(Reader, NumberOfAnyLengthReadsAsItsValueWhereverItLies)
{
    const auto zeros = [](std::size_t n) { return std::string(n, '0'); };
    const std::string halfway = "1.000000059604644775390625";  // midway between 1 and the next float
    const std::pair<std::string, std::string> cases[] = {
        {zeros(4093) + "1.5", "1.5"},  // 4096 bytes, the look-ahead
        {zeros(4094) + "1.5", "1.5"},
        {zeros(1500000) + "7", "7"},
        {"-" + zeros(5000) + "12.5", "-12.5"},
        {"0." + zeros(5000) + "1e5003", "100"},
        {"1" + zeros(5000) + "e-5000", "1"},
        {halfway + zeros(5000), "1"},
        {halfway + zeros(5000) + "1", "1.0000001"},
        {"1" + zeros(9999) + "e-999999999999999", "0"},
        {std::string(5000, '1') + "x", "0"},
        {"1" + zeros(9999), "error"},
    };
    const std::string header = "\"A\",\"B\",1\n";
    const std::string acrossTheRead((std::size_t{1} << 20) - 3000 - header.size(), '\n');
    for (const auto& [number, read] : cases) {
        for (const std::string& before : {std::string(), acrossTheRead}) {
            const std::string want = read == "error" ? "A|B|1:error" : "A|B|1: " + read + ",2\n";
            EXPECT_EQ(ReadRecords(before + header + number + ",2\n"), want)
                << number.substr(0, 30) << "... of " << number.size() << " bytes after " << before.size();
        }
    }
    EXPECT_EQ(ReadRecords("\"A\",\"B\"," + zeros(5000) + "2\n1,2\n3,4\n"), "A|B|2: 1,2 3,4\n");
}

TEST(Reader, PointStaysTheDecimalSeparatorUnderACommaLocale)
{
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // where it is installed
    const std::string read = ReadRecords("\"A\",\"B\",1\r\n1.5,-2.25\r\n");
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(saved);
    EXPECT_EQ(read, "A|B|1: 1.5,-2.25\n");
}

struct NumberCase {
    const char* token;
    NumberStatus status;
    double value;  // unchecked for TooLarge
};

TEST(Numbers, CoordinatesAreCorrectlyRoundedFloats)
{
    constexpr auto Ok = NumberStatus::Ok;
    constexpr auto NaN = NumberStatus::NotANumber;
    const NumberCase cases[] = {
        {"0.1", Ok, 0.1F},   {"+2", Ok, 2},   {"-.25", Ok, -0.25}, {"7.", Ok, 7},   {"2.5E-1", Ok, 0.25},
        {"3.4028235e38", Ok, FLT_MAX},        {"1e-50", Ok, 0},    {"1e39", NumberStatus::TooLarge, 0},
        {"-1e39", NumberStatus::TooLarge, 0}, {"", NaN, 0},        {"abc", NaN, 0}, {"nan", NaN, 0},
        {"inf", NaN, 0},     {"0x10", NaN, 0}, {"1e", NaN, 0},     {".", NaN, 0},   {"1.2.3", NaN, 0},
        {"5abc", NaN, 0},
    };
    for (const NumberCase& c : cases) {
        float value = -1.0F;
        EXPECT_EQ(ParseCoordinate(c.token, value), c.status) << c.token;
        if (c.status != NumberStatus::TooLarge) {
            EXPECT_EQ(value, static_cast<float>(c.value)) << c.token;
        }
    }
}

// Plain decimals take a shortcut through a double; the float must still be
// the correctly rounded one, halfway cases between two floats included.
TEST(Numbers, PlainDecimalsRoundAsFromCharsDoes)
{
    const auto check = [](const std::string& token) {
        float expected = 0.0F;
        std::from_chars(token.data() + (token[0] == '+' ? 1 : 0), token.data() + token.size(), expected);
        float value = 0.0F;
        ASSERT_EQ(ParseCoordinate(token, value), NumberStatus::Ok) << token;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(expected)) << token;
    };
    for (const char* tie : {"16777217", "16777219", "-16777217.0", "0.500000029802322387695312", "-0", "0.000"}) {
        check(tie);
    }
    std::mt19937_64 random(5);
    for (int i = 0; i < 300000; ++i) {
        const int intDigits = static_cast<int>(random() % 10);
        const int decimals = static_cast<int>(random() % 12);
        std::string token = random() % 2 == 0 ? "-" : "";
        for (int d = 0; d < intDigits; ++d) {
            token += static_cast<char>('0' + random() % 10);
        }
        if (decimals > 0 || intDigits == 0) {
            token += '.';
            for (int d = 0; d <= decimals; ++d) {
                token += static_cast<char>('0' + random() % 10);
            }
        }
        check(token);
    }
}

TEST(Numbers, CountsRoundHalfToEvenWithin32Bits)
{
    constexpr auto Ok = NumberStatus::Ok;
    constexpr auto TooLarge = NumberStatus::TooLarge;
    const NumberCase cases[] = {
        {"20000", Ok, 20000},     {"2.5", Ok, 2},         {"3.5", Ok, 4},
        {"-2.5", Ok, -2},         {"2.4999", Ok, 2},      {"1e3", Ok, 1000},
        {"2147483647", Ok, 2147483647},                   {"-2147483648", Ok, -2147483648.0},
        {"2147483648", TooLarge, 0},                      {"-2147483649", TooLarge, 0},
        {"2147483647.5", TooLarge, 0},                    {"1e10", TooLarge, 0},
        {"abc", NumberStatus::NotANumber, 0},
    };
    for (const NumberCase& c : cases) {
        std::int32_t value = -1;
        EXPECT_EQ(ParseCount(c.token, value), c.status) << c.token;
        if (c.status != TooLarge) {
            EXPECT_EQ(value, static_cast<std::int32_t>(c.value)) << c.token;
        }
    }
}

TEST(Workspace, ResetPolygonEmptiesTheRecordAndKeepsTheMidPoint)
{
    auto ws = std::make_unique<Workspace>();
    ws->curPoly = PolygonRecord{3, 1.0, 2.0, 3.0, 4.0F, 5.0F, 6.0F, 7.0F, 8.0F, 9.0F, 0.5F};
    ws->tooManyPoints = true;
    const TempFolder dir;
    BnaInput in(dir.Write("in.bna", "\"A\",\"B\",3\r\n1,2\r\n3,4\r\n5"));  // ends after two and a half pairs
    std::string first;
    std::string second;
    ReadBnaHeader(in, first, second, *ws);
    EXPECT_THROW(ReadBnaPoints(in, *ws), RunError);

    ws->ResetPolygon();

    const PolygonRecord& p = ws->curPoly;
    EXPECT_EQ(std::tie(p.nPoints, p.area, p.centroidX, p.centroidY), std::make_tuple(-999, -999.0, -999.0, -999.0));
    EXPECT_EQ(std::tie(p.minX, p.maxX, p.minY, p.maxY), std::make_tuple(99999.0F, -99999.0F, 99999.0F, -99999.0F));
    EXPECT_EQ(std::tie(p.midX, p.midY, p.cosMidLat), std::make_tuple(8.0F, 9.0F, 0.5F)) << "kept until recomputed";
    EXPECT_TRUE(ws->tooManyPoints);
    EXPECT_EQ(ws->pointX[0], 1.0F) << "slot 0 is left for the next record to write";
    EXPECT_EQ(ws->pointY[1], 0.0F);
    EXPECT_EQ(ws->pointX[2], 0.0F) << "a slot written by a record that ended early is cleared too";
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// Records of k points at (k, r) for record r: enough to fill many blocks of
// the read-ahead, with names of every length from 0 to 40 bytes.
std::string ManyRecords(int count)
{
    std::string bna;
    for (int r = 0; r < count; ++r) {
        const int n = r % 700 - 20;  // negative, zero and plain counts, some over a block's share
        bna += "\"" + std::string(static_cast<std::size_t>(r % 41), 'a') + "\",\"" + std::to_string(r) + "\"," +
               std::to_string(n) + "\n";
        for (int k = 0; k < std::abs(n); ++k) {
            bna += std::to_string(k) + "," + std::to_string(r) + "\n";
        }
    }
    return bna;
}

// The same records, then one that the file ends inside.
std::string ManyRecordsThenCut(int count) { return ManyRecords(count) + "\"cut\",\"x\",5\n1,2\n3,"; }

TEST(RecordStream, DeliversEveryRecordInOrderThenTheFailure)
{
    const test::TempFolder folder;
    constexpr int Count = 400;
    const std::string path = folder.Write("many.bna", ManyRecordsThenCut(Count));
    BnaInput in(path);
    RecordStream stream(in);
    Workspace ws;
    for (int r = 0; r < Count; ++r) {
        const StreamRecord* record = stream.Next();
        ASSERT_NE(record, nullptr) << r;
        ASSERT_EQ(record->firstName, std::string(static_cast<std::size_t>(r % 41), 'a'));
        ASSERT_EQ(record->secondName, std::to_string(r));
        ASSERT_EQ(record->nPoints, r % 700 - 20);
        ASSERT_TRUE(record->complete);
        ws.ResetPolygon();
        RecordStream::Load(*record, ws);
        for (int k = 0; k < record->nPoints; ++k) {
            ASSERT_EQ(ws.pointX[static_cast<std::size_t>(k)], static_cast<float>(k)) << r;
            ASSERT_EQ(ws.pointY[static_cast<std::size_t>(k)], static_cast<float>(r)) << r;
        }
    }
    const StreamRecord* cut = stream.Next();
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->firstName, "cut");
    EXPECT_FALSE(cut->complete);
    EXPECT_THROW(stream.Next(), RunError);
}

// What the map keeps of a run's records reads back as the stream gave it,
// whether it stays in memory, goes to the temporary file from the start, or
// splits between the two.
TEST(PointStore, GivesBackEveryRecordAsKeptInMemoryOrSpooled)
{
    const test::TempFolder folder;
    constexpr int Count = 400;
    const std::string path = folder.Write("many.bna", ManyRecordsThenCut(Count));
    for (const std::size_t bound : {std::size_t{0}, std::size_t{100000}, PointStore::DefaultMemoryBound}) {
        PointStore store(bound);
        std::vector<std::tuple<std::string, std::int32_t, std::vector<float>, std::uint64_t, bool>> given;
        {
            BnaInput in(path);
            RecordStream stream(in);
            try {
                while (const StreamRecord* record = stream.Next()) {
                    const std::size_t n = record->x != nullptr ? static_cast<std::size_t>(record->nPoints) : 0;
                    std::vector<float> points(record->x, record->x + n);
                    points.insert(points.end(), record->y, record->y + n);
                    given.emplace_back(std::string(record->firstName), record->nPoints, points, record->bytesRead,
                                       record->complete);
                    PolygonRecord poly;
                    poly.centroidX = record->nPoints + 0.25;
                    poly.centroidY = -0.5;
                    store.Add(*record, record->complete ? &poly : nullptr);
                }
            } catch (const RunError&) {
            }
        }
        ASSERT_EQ(given.size(), std::size_t{Count + 1});
        EXPECT_EQ(store.Spooled(), bound < PointStore::DefaultMemoryBound) << bound;
        for (int pass = 0; pass < 2; ++pass) {
            store.Rewind();
            for (const auto& [name, nPoints, points, bytesRead, complete] : given) {
                const PointStore::Record* kept = store.Next();
                ASSERT_NE(kept, nullptr) << bound << " " << name;
                ASSERT_EQ(kept->firstName, name);
                ASSERT_EQ(kept->nPoints, nPoints);
                ASSERT_EQ(kept->bytesRead, bytesRead);
                ASSERT_EQ(kept->complete, complete);
                ASSERT_EQ(kept->accepted, complete);
                if (complete) {
                    ASSERT_EQ(kept->centroidX, nPoints + 0.25);
                    ASSERT_EQ(kept->centroidY, -0.5);
                }
                const std::size_t n = points.size() / 2;
                ASSERT_EQ(kept->x != nullptr, n != 0);
                for (std::size_t k = 0; k < n; ++k) {
                    ASSERT_EQ(kept->x[k], points[k]);
                    ASSERT_EQ(kept->y[k], points[n + k]);
                }
            }
            EXPECT_EQ(store.Next(), nullptr);
            EXPECT_TRUE(store.Usable());
        }
    }
}

TEST(RecordStream, StopsWhenTheCallerLeavesEarly)
{
    const test::TempFolder folder;
    const std::string path = folder.Write("many.bna", ManyRecords(2000));
    for (const int taken : {0, 1, 300}) {
        BnaInput in(path);
        RecordStream stream(in);
        for (int r = 0; r < taken; ++r) {
            ASSERT_NE(stream.Next(), nullptr);
        }
    }  // each stream ends here with its reader still ahead
}

TEST(RecordStream, KeepsEveryPairAsWrittenWhenAsked)
{
    const test::TempFolder folder;
    std::string bna = "\"poly\",\"p\",3\n10.123456789,50.987654321\n11.000000001,50\n10,51.5\n"
                      "\"line\",\"l\",-2\n-179.99999999,1e-9\n179.5,-0.25\n\"none\",\"n\",0\n";
    bna += "\"big\",\"b\"," + std::to_string(MaxPoints + 1) + "\n";
    for (int k = 0; k <= MaxPoints; ++k) {
        bna += std::to_string(k) + ".0000001,-" + std::to_string(k % 90) + ".5\n";
    }
    BnaInput in(folder.Write("degrees.bna", bna));
    RecordStream stream(in, {.keepDegrees = true});
    const auto expectPair = [](const StreamRecord& r, std::size_t k, double lon, double lat) {
        EXPECT_EQ(r.lon[k], lon) << r.firstName << " " << k;
        EXPECT_EQ(r.lat[k], lat) << r.firstName << " " << k;
    };
    const StreamRecord* r = stream.Next();
    ASSERT_EQ(r->pointsRead, 3U);
    expectPair(*r, 0, 10.123456789, 50.987654321);
    expectPair(*r, 1, 11.000000001, 50);
    ASSERT_NE(r->x, nullptr);
    EXPECT_EQ(r->x[0], 10.123456789F) << "the classic pass keeps its floats";
    r = stream.Next();
    ASSERT_EQ(r->pointsRead, 2U);
    EXPECT_EQ(r->x, nullptr);
    expectPair(*r, 0, -179.99999999, 1e-9);
    expectPair(*r, 1, 179.5, -0.25);
    r = stream.Next();
    EXPECT_EQ(r->pointsRead, 0U);
    EXPECT_EQ(r->lon, nullptr);
    r = stream.Next();
    ASSERT_EQ(r->pointsRead, static_cast<std::size_t>(MaxPoints + 1));
    EXPECT_EQ(r->x, nullptr) << "over the limit for the classic pass";
    expectPair(*r, MaxPoints, std::strtod((std::to_string(MaxPoints) + ".0000001").c_str(), nullptr),
               -(MaxPoints % 90) - 0.5);
    EXPECT_EQ(stream.Next(), nullptr);
}

// Wherever the reading thread fails on its own (taking its first block, making
// its workspace, taking a block after handing one over, between records), the
// caller gets the records read before it, in order, and then that failure.
TEST(RecordStream, PassesOnAFailureOfTheReadingThreadWhereverItComes)
{
    const test::TempFolder folder;
    constexpr int Count = 5000;  // three blocks of records
    std::string bna;
    for (int r = 0; r < Count; ++r) {
        bna += "\"n\",\"" + std::to_string(r) + "\",1\n1,2\n";
    }
    const std::string path = folder.Write("many.bna", bna);
    // One call for the workspace, one per block and one per record.
    constexpr std::uint64_t Calls = 1 + 3 + Count;
    static std::uint64_t failAt = 0;
    RecordStream::failurePoint = [](std::uint64_t call) {
        if (call == failAt) {
            throw std::bad_alloc();
        }
    };
    for (const std::uint64_t from : {0, 2045, 4095, Count}) {
        for (failAt = from; failAt < from + 10; ++failAt) {
            BnaInput in(path);
            int delivered = 0;
            bool failed = false;
            try {
                RecordStream stream(in);
                while (const StreamRecord* record = stream.Next()) {
                    ASSERT_EQ(record->secondName, std::to_string(delivered)) << "failure at " << failAt;
                    ++delivered;
                }
            } catch (const std::bad_alloc&) {
                failed = true;
            }
            EXPECT_EQ(failed, failAt < Calls) << failAt;
            EXPECT_EQ(delivered == Count, !failed) << failAt;
        }
    }
    RecordStream::failurePoint = nullptr;
}

// Lets a test wait until the reading thread has come to a point of its work
// (the calls of RecordStream::failurePoint, counted as that test describes),
// rather than sleep and hope. Made before the stream, gone after it.
class ReaderProgress {
public:
    ReaderProgress()
    {
        reached_ = 0;
        RecordStream::failurePoint = [](std::uint64_t call) {
            reached_ = call + 1;
            reached_.notify_all();
        };
    }
    ~ReaderProgress() { RecordStream::failurePoint = nullptr; }
    ReaderProgress(const ReaderProgress&) = delete;
    ReaderProgress& operator=(const ReaderProgress&) = delete;

    void WaitForCalls(std::uint64_t calls) const
    {
        for (std::uint64_t now = reached_.load(); now < calls; now = reached_.load()) {
            reached_.wait(now);
        }
    }

private:
    static inline std::atomic<std::uint64_t> reached_{0};
};

// A count of two billion pairs, read past in either sign, does not keep the
// stream's end waiting for the rest of the file. A block of empty records
// comes first, so that the caller can take it while the reader goes on into
// the long record.
TEST(RecordStream, StopsInsideAPairCountOfTwoBillion)
{
    const test::TempFolder folder;
    std::string empties;
    for (int r = 0; r < 2100; ++r) {
        empties += "\"a\",\"b\",0\n";
    }
    std::string pairs;
    for (int k = 0; k < (1 << 22); ++k) {
        pairs += "0,0\n";
    }
    for (const char* count : {"2000000000", "-2000000000"}) {
        BnaInput in(folder.Write("long.bna", empties + "\"A\",\"B\"," + count + "\n" + pairs));
        {
            const ReaderProgress progress;
            RecordStream stream(in);
            ASSERT_NE(stream.Next(), nullptr);
            // Not needed for the outcome: the end finds the reader inside the
            // long record. Its calls: the first block, the workspace, 2048
            // records, the second block, 52 records, then the long one.
            progress.WaitForCalls(2 + 2048 + 1 + 52 + 1);
        }
        EXPECT_LT(in.BytesRead(), in.FileSize() / 2) << count;
    }
}

#ifdef ZARN_HAVE_GEODESIC
// Records measured on the reading thread (while the caller is behind) carry
// the same figures as those the caller measures itself.
TEST(RecordStream, SharesTheEllipsoidFiguresWithTheReadingThread)
{
    const test::TempFolder folder;
    std::string bna;
    for (int r = 0; r < 6000; ++r) {
        const std::string lat = std::to_string(r % 170 - 85);
        bna += "\"r\",\"" + std::to_string(r) + "\",4\n0," + lat + "\n0.5," + lat + "\n0.5," + lat + ".25\n0," + lat + "\n";
    }
    BnaInput in(folder.Write("rings.bna", bna));
    const ReaderProgress progress;
    GeodesicStage stage;
    RecordStream stream(in, {.keepDegrees = true, .readAhead = stage.Sharing(Coordinates::Degrees)});
    // Behind from the start: the reader has handed over two blocks of 2048
    // records that wait, and measures the records of its third itself. Its
    // calls: the first block, the workspace, 2048 records, the second block,
    // 2048 records, the third block, and its first record.
    progress.WaitForCalls(2 + 2048 + 1 + 2048 + 1 + 1);
    EllipsoidMeter meter;
    GeodesicFigures own;
    int sharedCount = 0;
    while (const StreamRecord* r = stream.Next()) {
        meter.Measure(r->nPoints, r->lon, r->lat, r->pointsRead, own);
        if (r->readAhead != nullptr) {
            ++sharedCount;
            const GeodesicFigures& shared = stage.Measure(*r, nullptr, Coordinates::Degrees);
            ASSERT_EQ(shared.areaKm2, own.areaKm2) << r->secondName;
            ASSERT_EQ(shared.perimeterKm, own.perimeterKm) << r->secondName;
            ASSERT_EQ(shared.centroidLat, own.centroidLat) << r->secondName;
            ASSERT_EQ(shared.flags, own.flags) << r->secondName;
        }
    }
    EXPECT_GT(sharedCount, 0);
}
#endif

// The verdict as the record loop's exact parse gives it: every coordinate
// read in full, the file judged up to its first failure.
Coordinates ExactVerdict(const std::string& path)
{
    try {
        BnaInput in(path);
        std::string name;
        double lon = 0.0;
        double lat = 0.0;
        while (!in.AtEnd()) {
            const std::int64_t count = std::abs(static_cast<std::int64_t>(ReadRecordHeader(in, name, name)));
            for (std::int64_t k = 0; k < count; ++k) {
                in.ReadCoordinate(lon);
                in.ReadCoordinate(lat);
                if (!(std::fabs(lat) <= 90.0) || std::fabs(lon) > 1e6) {
                    return Coordinates::Plane;
                }
            }
        }
    } catch (const std::exception&) {
    }
    return Coordinates::Degrees;
}

// The edges of judging a latitude from its text: what it tells must be what
// the exact parse gives, and what it cannot tell is left to that parse.
TEST(CoordinateScan, JudgesALatitudeFromItsTextAsTheExactParse)
{
    const struct {
        std::string_view text;
        bool told;
    } cases[] = {
        {"0", true}, {"-0", true}, {"89", true}, {"+89.9", true}, {"89.99999999999999999999", true},
        {"-89.5", true}, {"90", false}, {"90.0", false}, {"-90", false}, {"90.0000000000001", false},
        {"90.00000000000000000001", false}, {"-90.5", false}, {"91", true}, {"-91.25", true}, {"100", true},
        {"091", false}, {"9.1e1", false}, {"1e2", false}, {"8E1", false}, {"nan", false}, {"-inf", false},
        {"0x5B", true}, {"12abc", true}, {"500abc", false}, {"500.", false}, {".5", false},
        {"99999999999999999999999999999999999999", true}, {"999999999999999999999999999999999999999", false},
    };
    for (const auto& c : cases) {
        const LatitudeText judged = JudgeLatitudeText(c.text);
        EXPECT_EQ(judged != LatitudeText::Unsure, c.told) << c.text;
        float value = 0.0F;
        double lat = 0.0;
        const NumberStatus status = ParseCoordinate(c.text, value, lat);
        if (judged != LatitudeText::Unsure) {
            EXPECT_NE(status, NumberStatus::TooLarge) << c.text;
            EXPECT_EQ(judged == LatitudeText::Within, std::fabs(lat) <= 90.0) << c.text;
        }
    }
}

TEST(CoordinateScan, GivesTheVerdictOfTheExactParse)
{
    const std::string far(5000, '1');
    const struct {
        std::string bna;
        Coordinates verdict;
    } cases[] = {
        {"\"a\",\"b\",2\n1,90\n2,-90\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,90.0000000000001\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,90.00000000000000000001\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,89.99999999999999999999\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,-90.5\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,091\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,9.1e1\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,1e2\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,nan\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n500,1\n", Coordinates::Degrees},
        // A longitude too large to be degrees (beyond 1e6) makes the file plane.
        {"\"a\",\"b\",2\n1,1\n-1e30,1\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1000000,1\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n-999999.99999999999,1\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1000000.0000001,1\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n-0001000001,1\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1.5e6,1\n", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,1\n\"c\",\"d\",2\n1,1\n2,95\n", Coordinates::Plane},
        {"\"a\",\"b\",\n2\n1,1\n2,95\n", Coordinates::Plane},
        {"\"a\",\"b\",3\n1 1 2 2 3 95\n", Coordinates::Plane},
        {"\"a\",\"b\",2\n1e39,1\n1,95\n", Coordinates::Degrees},
        {"\"a\",\"b\",2\n1,1e39\n1,95\n", Coordinates::Degrees},
        {"\"a\",\"b\",2\n1,1" + std::string(39, '0') + "\n1,95\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1," + far + "\n", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,0." + far + "e3\n", Coordinates::Plane},
        {"\"a\",\"b\",3\n1,95\n", Coordinates::Plane},
        {"\"a\",\"b\",3\n1,5\n", Coordinates::Degrees},
    };
    const test::TempFolder folder;
    for (const auto& c : cases) {
        const std::string path = folder.Write("scan.bna", c.bna);
        EXPECT_EQ(ExactVerdict(path), c.verdict) << c.bna.substr(0, 80);
        EXPECT_EQ(ScanCoordinates(path), c.verdict) << c.bna.substr(0, 80);
    }
}

// The second half walked on another thread from the record start after
// `at`: events on either side of it, and splits that fall inside a header.
TEST(CoordinateScan, GivesTheSameVerdictWithTheSecondHalfOnAnotherThread)
{
    const struct {
        std::string bna;
        std::string_view at;
        Coordinates verdict;
    } cases[] = {
        {"\"a\",\"b\",1\n1,95\n\"c\",\"d\",1\n1,1\n", "\"c\"", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,1\n\"c\",\"d\",1\n1,95\n", "\"c\"", Coordinates::Plane},
        {"\"a\",\"b\",1\n1,1\n \r\n\t\n\"c\",\"d\",1\n1,95\n", "\"c\"", Coordinates::Plane},
        {"\"a\",\"b\",1\n1e39,1\n\"c\",\"d\",1\n1,95\n", "\"c\"", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,1\n\"c\",\"d\",2\n1e39,1\n1,95\n", "\"c\"", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,1\n\"c\",\"d\",3\n1,1\n", "\"c\"", Coordinates::Degrees},
        {"\"a\",\"b\",1\n1,1\n\"c\",\"d\",3\n1,95\n", "\"c\"", Coordinates::Plane},
        {"\"x\",\"a\n\",1\n1,95\n", "\",1", Coordinates::Plane},
        {"\"x\",\"a\n\",1\n1,1\n\"c\",\"d\",1\n1,95\n", "\",1", Coordinates::Plane},
        {"\"a\",\"b\"\n\"c\",1\n1,95\n", "\"c\"", Coordinates::Plane},
        {"\"a\",\"b\",4\n1,1\n\"c\",5\n1,1\n95,1\n\"e\",\"f\",1\n1,1\n", "\"c\"", Coordinates::Degrees},
    };
    const test::TempFolder folder;
    for (const auto& c : cases) {
        const std::string path = folder.Write("split.bna", c.bna);
        EXPECT_EQ(ExactVerdict(path), c.verdict) << c.bna;
        EXPECT_EQ(ScanCoordinatesSplitFrom(path, c.bna.find(c.at)), c.verdict) << c.bna;
    }
}

}  // namespace
}  // namespace zarn
