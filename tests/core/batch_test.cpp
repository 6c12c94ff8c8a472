#include "bnainput.h"
#include "bnareader.h"
#include "testfiles.h"
#include "workspace.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace zarn {
namespace {

using namespace std::string_view_literals;
using test::ReadBytes;
using test::TempFolder;

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

class BatchCommand : public testing::Test {
protected:
    // Runs zarn-batch in the test's folder with `args` under the locale `lcAll`.
    Outcome Batch(const std::string& args, const std::string& lcAll = "C")
    {
        const std::string out = dir.File("stdout.txt");
        const std::string err = dir.File("stderr.txt");
        const std::string command = "cd '" + folder + "' && LC_ALL=" + lcAll + " '" ZARN_BATCH_EXE "' " + args +
                                    " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(out), ReadBytes(err)};
    }

    TempFolder dir;
    const std::string folder = std::filesystem::canonical(dir.path()).string();
};

TEST_F(BatchCommand, ExampleRingsGiveTheirLinesAndFilesExactly)
{
    dir.Write("in.bna", test::ExampleRings);
    const Outcome run = Batch("in.bna");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, " Open " + folder +
                           "/in.bna\n"
                           "Read polygon First with 5 points.\n"
                           "Area (sq km): 12363.829\n"
                           "Center of Gravity: (0.5, 0.5)\n"
                           "Read polygon Box with 5 points.\n"
                           "Area (sq km): 15729.324\n"
                           "Center of Gravity: (11, 50.5)\n"
                           "Read polygon Triangle with 4 points.\n"
                           "Area (sq km): 24724.835\n"
                           "Center of Gravity: (0.667, 0.667)\n"
                           "Read polygon First with 5 points for drawing.\n"
                           "Read polygon Box with 5 points for drawing.\n"
                           "Read polygon Triangle with 4 points for drawing.\n"
                           " \n"
                           "The following files are written to your hard disk\n"
                           " at the folder " +
                           folder +
                           "/\n"
                           " based on the input from in.bna:\n"
                           "\tCentroids: \tinCentroid.bna\n"
                           "\tAreas (sq km): \tinArea.csv\n"
                           "\tMap: \t\tinMap.bmp\n");
    EXPECT_EQ(ReadBytes(dir.File("inArea.csv")), test::ExampleAreaFile);
    EXPECT_EQ(ReadBytes(dir.File("inCentroid.bna")), test::ExampleCentroidFile);
    EXPECT_EQ(ReadBytes(dir.File("in.bna")), test::ExampleRings);

    // A 24-bit BMP of the 545 x 545 pixel canvas: size, pixel offset, header
    // size, width, height, one plane, 24 bits; rows padded to 1636 bytes.
    const std::string bmp = ReadBytes(dir.File("inMap.bmp"));
    EXPECT_EQ(bmp.substr(0, 30), "BM\x1A\x9B\x0D\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x21\x02\0\0\x21\x02\0\0\x01\0\x18\0"sv);
    EXPECT_EQ(bmp.size(), 54U + 1636U * 545U);
}

TEST_F(BatchCommand, CentroidFileReadsBackAsPointRecords)
{
    dir.Write("in.bna", test::ExampleRings);
    ASSERT_EQ(Batch("--no-map in.bna").exitCode, 0);
    BnaInput in(dir.File("inCentroid.bna"));
    auto ws = std::make_unique<Workspace>();
    std::string read;
    std::string first;
    std::string second;
    while (!in.AtEnd()) {
        ws->ResetPolygon();
        ReadBnaHeader(in, first, second, *ws);
        ReadBnaPoints(in, *ws);
        read += first + "|" + second + "|" + std::to_string(ws->curPoly.nPoints) + "|" +
                std::to_string(ws->pointX[0]) + "|" + std::to_string(ws->pointY[0]) + "\n";
    }
    EXPECT_EQ(read, "First Centroid|Second|1|0.500000|0.500000\n"
                    "Box Centroid|10..12 E|1|11.000000|50.500000\n"
                    "Triangle Centroid||1|0.667000|0.667000\n");
}

TEST_F(BatchCommand, CommaLocaleShowsCommasAndWritesPoints)
{
    dir.Write("in.bna", test::ExampleRings);
    const Outcome run = Batch("--no-map in.bna", "de_DE.UTF-8");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\nArea (sq km): 12363,829\nCenter of Gravity: (0,5, 0,5)\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nCenter of Gravity: (11, 50,5)\n"), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(dir.File("inArea.csv")), test::ExampleAreaFile);
    EXPECT_EQ(ReadBytes(dir.File("inCentroid.bna")), test::ExampleCentroidFile);
}

TEST_F(BatchCommand, HelpAndVersionSucceed)
{
    const Outcome help = Batch("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: zarn-batch"), std::string::npos);
    const Outcome version = Batch("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("zarn-batch ", 0), 0U) << version.out;
}

// --quiet leaves the summary and the failures; the progress line goes to the
// error stream only when asked for (the tests' error stream is a file) and
// leaves standard output as it is.
TEST_F(BatchCommand, QuietAndProgressChangeOnlyWhatTheySay)
{
    dir.Write("in.bna", test::ExampleRings);
    dir.Write("bad.bna", "\"A\",\"B\",2\r\n1,2\r\n");
    const Outcome plain = Batch("--no-map in.bna");
    ASSERT_EQ(plain.exitCode, 0);
    const std::string summary = plain.out.substr(plain.out.find(" \nThe following files"));
    struct Case {
        const char* args;
        std::string out;
        bool progressLine;
    };
    for (const Case& c : {Case{"--no-map --quiet in.bna", summary, false},
                          Case{"--no-map -q --progress in.bna", summary, true},
                          Case{"--no-map --progress in.bna", plain.out, true},
                          Case{"--no-map --progress --no-progress in.bna", plain.out, false},
                          Case{"--no-map --quiet bad.bna", "Sorry, something went wrong.\n", false}}) {
        const Outcome run = Batch(c.args);
        EXPECT_EQ(run.out, c.out) << c.args;
        const bool drawn = run.err.find("\rin.bna: reading ") != std::string::npos &&
                           run.err.find(" MB/s") != std::string::npos;
        EXPECT_EQ(drawn, c.progressLine) << c.args << ": " << run.err;
        EXPECT_EQ(run.err.empty(), !c.progressLine && run.exitCode == 0) << c.args;
    }
    EXPECT_EQ(ReadBytes(dir.File("inArea.csv")), test::ExampleAreaFile);
}

TEST_F(BatchCommand, FailingFileIsReportedAndTheNextOneStillRuns)
{
    dir.Write("bad.bna", "\"A\",\"B\",2\r\n1,2\r\n");
    dir.Write("in.bna", test::ExampleRings);
    const Outcome run = Batch("--no-map bad.bna in.bna");
    EXPECT_EQ(run.exitCode, 1);
    const std::size_t sorry = run.out.find("\nSorry, something went wrong.\n");
    ASSERT_NE(sorry, std::string::npos) << run.out;
    EXPECT_GT(run.out.find("\n Open " + folder + "/in.bna\n"), sorry) << run.out;
    EXPECT_NE(run.err.find(folder + "/bad.bna"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("inArea.csv")), test::ExampleAreaFile);
}

}  // namespace
}  // namespace zarn
