#include "analysisrun.h"
#include "gisexport.h"
#include "recordingrun.h"
#include "testfiles.h"
#include "workspace.h"

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <charconv>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::PrintTo;
using test::ReadBytes;
using test::TempFolder;

// A feature as read back: its fields as text by lower-case name, its geometry.
struct Row {
    std::map<std::string, std::string> fields;
    std::unique_ptr<OGRGeometry> shape;

    std::string Field(const std::string& name) const
    {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    }
};

// Every row of a layer (or of the file's only layer when `layer` is empty);
// nothing when the file or layer is missing.
std::optional<std::vector<Row>> ReadLayer(const std::string& path, const std::string& layer)
{
    GDALAllRegister();
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) {
        return std::nullopt;
    }
    OGRLayer* l = layer.empty() ? ds->GetLayer(0) : ds->GetLayerByName(layer.c_str());
    if (l == nullptr) {
        return std::nullopt;
    }
    std::vector<Row> rows;
    for (const auto& feature : *l) {
        Row row;
        for (int i = 0; i < feature->GetFieldCount(); ++i) {
            if (feature->IsFieldSetAndNotNull(i)) {
                std::string name = feature->GetFieldDefnRef(i)->GetNameRef();
                std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
                row.fields[name] = feature->GetFieldAsString(i);
            }
        }
        if (const OGRGeometry* g = feature->GetGeometryRef()) {
            row.shape.reset(g->clone());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

double Number(const std::string& text)
{
    double value = std::nan("");
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The area of each line of an area file: the number after its last ", ".
std::vector<double> AreasOf(const std::string& areaFile)
{
    std::vector<double> areas;
    for (std::size_t start = 0, end = 0; (end = areaFile.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = areaFile.substr(start, end - start);
        areas.push_back(Number(line.substr(line.rfind(", ") + 2)));
    }
    return areas;
}

struct ExportRun {
    probe::RecordingHost host;
    RunOutcome outcome;
};

// Runs the analysis (no map) on <base>.bna in `dir` with the exports to
// `formats`, as the window and zarn-batch make them.
ExportRun RunExportOn(const TempFolder& dir, std::string_view base, std::vector<ExportFormat> formats,
                      bool geodesic = false)
{
    const std::string title = std::string(base) + ".bna";
    const std::string path = dir.File(title);
    const std::vector<std::unique_ptr<GisExport>> exports = MakeGisExports(formats, geodesic);
    RunOptions options;
    options.geodesic = geodesic;
    for (const auto& e : exports) {
        options.outputs.push_back(e.get());
    }
    ExportRun run{probe::RecordingHost(path, title), RunOutcome::Failed};
    auto ws = std::make_unique<Workspace>();
    run.outcome = ProcessBnaFile(*ws, nullptr, run.host, options);
    return run;
}

// The same on `bytes`, written as <base>.bna first.
ExportRun RunExport(const TempFolder& dir, std::string_view base, std::string_view bytes, std::vector<ExportFormat> formats,
                    bool geodesic = false)
{
    dir.Write(std::string(base) + ".bna", bytes);
    return RunExportOn(dir, base, std::move(formats), geodesic);
}

struct FormatCase {
    std::string name;
    ExportFormat format;
    // Degrees a vertex may move: KML's writer keeps 15 significant digits.
    double tolerance = 0.0;
    // Where the layer of that name is: the file (after the input's base) and
    // the layer within it ("" for the file's only layer).
    std::string Path(const TempFolder& dir, std::string_view base, const std::string& layer) const
    {
        const ExportFormatInfo& info = Info(format);
        if (info.oneFile) {
            return dir.File(std::string(base) + "." + std::string(info.extension));
        }
        std::string suffix = layer == "centroids_wgs84" ? "CentroidsWgs84" : layer;
        suffix[0] = static_cast<char>(std::toupper(suffix[0]));
        return dir.File(std::string(base) + suffix + "." + std::string(info.extension));
    }
    std::optional<std::vector<Row>> Read(const TempFolder& dir, std::string_view base, const std::string& layer) const
    {
        return ReadLayer(Path(dir, base, layer), Info(format).oneFile ? layer : "");
    }
};

const FormatCase Formats[] = {
    {"GeoPackage", ExportFormat::GeoPackage},
    {"GeoJSON", ExportFormat::GeoJson},
    {"Shapefile", ExportFormat::Shapefile},
    {"FlatGeobuf", ExportFormat::FlatGeobuf},
    {"KML", ExportFormat::Kml, 1e-12},
};

using Points = std::vector<std::pair<double, double>>;

// A ring of n points round (lon, lat) with radius 1, closed on its first point.
Points Circle(int n, double lon, double lat)
{
    Points ring;
    for (int i = 0; i < n - 1; ++i) {
        const double a = 2.0 * M_PI * i / (n - 1);
        ring.emplace_back(lon + std::cos(a), lat + std::sin(a));
    }
    ring.push_back(ring.front());
    return ring;
}

std::string Record(std::string_view header, const Points& points)
{
    std::string text(header);
    char buf[64];
    for (const auto& [x, y] : points) {
        std::snprintf(buf, sizeof buf, "%.17g,%.17g\r\n", x, y);
        text += buf;
    }
    return text;
}

const Points Coast = Circle(25000, 30, -40);

// Names with commas, quotes, UTF-8 and Windows-1252 bytes; a ring with a
// hole, an open ring, a point, a two-point segment, a line record and a ring
// of 25,000 points (more than the classic pass takes).
const std::string Mixed = "\"Square, with lake\",\"Z\xC3\xBCrich\",11\r\n"
                          "0,0\r\n0,10\r\n10,10\r\n10,0\r\n0,0\r\n2,2\r\n2,8\r\n8,8\r\n8,2\r\n2,2\r\n0,0\r\n"
                          "O'Brien \"The Rock\",Caf\xE9 \x80,4\r\n"
                          "20.125,20.5\r\n21.0000000001,20.5\r\n21.0000000001,21.75\r\n20.125,21.75\r\n"
                          "\"Buoy\",\"\",1\r\n5.5,6.5\r\n"
                          "\"Bridge\",\"3\",2\r\n1,1\r\n2,2\r\n"
                          "\"Road\",\"\",-3\r\n0,0\r\n1,1\r\n2,0.333333333333333314829616256247\r\n" +
                          Record("\"Coast\",\"big\",25000\r\n", Coast);

// The polygons of a Polygon or MultiPolygon (RFC 7946 GeoJSON writes a
// multipolygon of one part as a polygon).
std::vector<const OGRPolygon*> Parts(const OGRGeometry& g)
{
    if (wkbFlatten(g.getGeometryType()) == wkbPolygon) {
        return {g.toPolygon()};
    }
    std::vector<const OGRPolygon*> parts;
    for (const OGRPolygon* p : *g.toMultiPolygon()) {
        parts.push_back(p);
    }
    return parts;
}

const OGRLinearRing* Exterior(const OGRGeometry& g)
{
    return Parts(g).at(0)->getExteriorRing();
}

// True when the ring has the input's vertices first, in the middle and
// last, read forwards or backwards (formats orient rings their own way).
bool SameEnds(const OGRLinearRing& ring, const Points& in, double tolerance)
{
    const int n = ring.getNumPoints();
    if (static_cast<std::size_t>(n) != in.size()) {
        return false;
    }
    const auto at = [&](int i, std::size_t j) {
        return std::fabs(ring.getX(i) - in[j].first) <= tolerance && std::fabs(ring.getY(i) - in[j].second) <= tolerance;
    };
    const std::size_t mid = in.size() / 2;
    return (at(0, 0) && at(n / 2, mid) && at(n - 1, in.size() - 1)) ||
           (at(n - 1, 0) && at(n - 1 - n / 2, mid) && at(0, in.size() - 1));
}

class EachFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(EachFormat, WritesEveryRecordAsTheFileAndTheClassicFilesHaveIt)
{
    const FormatCase& f = GetParam();
    TempFolder dir;
    const ExportRun run = RunExport(dir, "mixed", Mixed, {f.format});
    ASSERT_EQ(run.outcome, RunOutcome::Completed) << (run.host.causes.empty() ? "" : run.host.causes[0]);

    const auto polygons = f.Read(dir, "mixed", "polygons");
    const auto centroids = f.Read(dir, "mixed", "centroids");
    const auto points = f.Read(dir, "mixed", "points");
    const auto lines = f.Read(dir, "mixed", "lines");
    ASSERT_TRUE(polygons && centroids && points && lines);
    ASSERT_EQ(polygons->size(), 3U);
    ASSERT_EQ(points->size(), 1U);
    ASSERT_EQ(lines->size(), 2U);

    EXPECT_EQ((*polygons)[0].Field("name"), "Square, with lake");
    EXPECT_EQ((*polygons)[0].Field("second"), "Z\xC3\xBCrich");
    EXPECT_EQ((*polygons)[1].Field("name"), "O'Brien \"The Rock\"");
    EXPECT_EQ((*polygons)[1].Field("second"), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ((*polygons)[2].Field("points"), "25000");
    EXPECT_EQ((*polygons)[2].Field("area_km2"), "");  // over the classic pass's limit
    EXPECT_EQ((*points)[0].Field("name"), "Buoy");
    EXPECT_EQ((*lines)[0].Field("name"), "Bridge");
    EXPECT_EQ((*lines)[1].Field("points"), "-3");

    // The centroids and areas are those of the classic files, row for row.
    const std::vector<double> areas = AreasOf(ReadBytes(dir.File("mixedArea.csv")));
    ASSERT_EQ(centroids->size(), areas.size());
    for (std::size_t i = 0; i < areas.size(); ++i) {
        EXPECT_EQ(Number((*centroids)[i].Field("area_km2")), areas[i]) << i;
    }
    EXPECT_EQ(Number((*polygons)[0].Field("area_km2")), areas[0]);
    EXPECT_EQ((*centroids)[0].shape->toPoint()->getX(), 5);
    EXPECT_EQ((*centroids)[0].shape->toPoint()->getY(), 5);

    // Rings as written, closed where the file left them open; the hole apart.
    ASSERT_TRUE((*polygons)[0].shape && (*polygons)[1].shape && (*polygons)[2].shape);
    EXPECT_TRUE(SameEnds(*Exterior(*(*polygons)[0].shape), {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, f.tolerance));
    EXPECT_TRUE(SameEnds(*Exterior(*(*polygons)[1].shape),
                         {{20.125, 20.5}, {21.0000000001, 20.5}, {21.0000000001, 21.75}, {20.125, 21.75}, {20.125, 20.5}}, f.tolerance));
    EXPECT_TRUE(SameEnds(*Exterior(*(*polygons)[2].shape), Coast, f.tolerance));
    const OGRGeometry* road = (*lines)[1].shape.get();
    ASSERT_TRUE(road != nullptr && road->getGeometryType() == wkbLineString);
    EXPECT_NEAR(road->toLineString()->getY(2), 0.333333333333333314829616256247, f.tolerance);
    EXPECT_EQ((*points)[0].shape->toPoint()->getX(), 5.5);

    // The names read as Windows-1252 are told once.
    EXPECT_NE(std::find(run.host.progress.begin(), run.host.progress.end(),
                        "Export: names that are not UTF-8 read as Windows-1252 in record 2 \"O'Brien \"The Rock\"\"."),
              run.host.progress.end());
}

INSTANTIATE_TEST_SUITE_P(Formats, EachFormat, testing::ValuesIn(Formats),
                         [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// The folder's files, by name.
std::vector<std::string> FilesIn(const TempFolder& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Wkt(const OGRGeometry& g)
{
    OGRWktOptions options;
    options.round = false;
    return g.exportToWkt(options);
}

TEST(GeoJsonExport, CutsRingsAtTheMeridianAndTurnsOuterRingsCounterClockwise)
{
    TempFolder dir;
    const Points across{{179, -1}, {179, 1}, {181, 1}, {181, -1}, {179, -1}};
    RunExport(dir, "d", Record("\"Across\",\"\",5\r\n", across) + Mixed.substr(0, Mixed.find("O'Brien")),
              {ExportFormat::GeoJson, ExportFormat::GeoPackage});
    const auto json = ReadLayer(dir.File("dPolygons.geojson"), "");
    const auto gpkg = ReadLayer(dir.File("d.gpkg"), "polygons");
    ASSERT_TRUE(json && json->size() == 2 && gpkg && gpkg->size() == 2);

    ASSERT_EQ(Parts(*(*json)[0].shape).size(), 2U);
    OGREnvelope extent;
    (*json)[0].shape->getEnvelope(&extent);
    EXPECT_EQ(extent.MinX, -180);
    EXPECT_EQ(extent.MaxX, 180);
    EXPECT_EQ(Wkt(*(*gpkg)[0].shape), "MULTIPOLYGON (((179 -1,179 1,181 1,181 -1,179 -1)))");  // as written

    for (const Row& row : *json) {
        for (const OGRPolygon* polygon : Parts(*row.shape)) {
            EXPECT_FALSE(polygon->getExteriorRing()->isClockwise());
            for (int i = 0; i < polygon->getNumInteriorRings(); ++i) {
                EXPECT_TRUE(polygon->getInteriorRing(i)->isClockwise());
            }
        }
    }
    EXPECT_EQ(Parts(*(*json)[1].shape).at(0)->getNumInteriorRings(), 1);
}

// What the former GDAL reader made of GDAL's own test file, as single-part
// multipolygons; its line, its segment and its points in their layers.
TEST(GeoPackageExport, GivesGdalsTestFileItsKnownShapes)
{
    TempFolder dir;
    const std::string sample = std::string(ZARN_SAMPLES_DIR) + "/gdalx__test.bna";
    if (!fs::exists(sample)) {
        GTEST_SKIP() << "no samples beside the project";
    }
    RunExport(dir, "test", ReadBytes(sample), {ExportFormat::GeoPackage});
    std::map<std::string, std::string> shapes;
    for (const char* layer : {"polygons", "lines", "points"}) {
        const auto rows = ReadLayer(dir.File("test.gpkg"), layer);
        ASSERT_TRUE(rows) << layer;
        for (const Row& row : *rows) {
            shapes[row.Field("name")] = Wkt(*row.shape);
        }
    }
    EXPECT_EQ(shapes["PID8"], "MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0),(2 2,2 8,8 8,8 2,2 2)))");
    EXPECT_EQ(shapes["PID9"], "MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0)))");
    EXPECT_EQ(shapes["PID10"], "MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0)))");
    EXPECT_EQ(shapes["PID7"], "MULTIPOLYGON (((0 0,1 0,1 1,0 1,0 0)))");
    EXPECT_EQ(shapes["PID3"], "LINESTRING (224.598 307.425,333.043 341.461,396.629 304.952)");
    EXPECT_EQ(shapes["PID6"], "LINESTRING (200 300,100 0)");
    EXPECT_EQ(shapes["PID4"], "POINT (532.991 429.121)");
    EXPECT_EQ(shapes["PID5"], "POINT (573.736 476.563)");
    EXPECT_EQ(shapes.size(), 10U);
}

TEST(GeoPackageExport, GivesValidPolygonsForEverySample)
{
    if (!fs::is_directory(ZARN_SAMPLES_DIR)) {
        GTEST_SKIP() << "no samples beside the project";
    }
    for (const auto& entry : fs::directory_iterator(ZARN_SAMPLES_DIR)) {
        if (entry.path().extension() != ".bna") {
            continue;
        }
        TempFolder dir;
        const ExportRun run = RunExport(dir, "s", ReadBytes(entry.path()), {ExportFormat::GeoPackage});
        const auto polygons = ReadLayer(dir.File("s.gpkg"), "polygons");
        if (run.outcome == RunOutcome::Failed) {
            EXPECT_FALSE(polygons) << entry.path();  // the file is malformed; no export is left
            continue;
        }
        ASSERT_TRUE(polygons) << entry.path();
        for (const Row& row : *polygons) {
            EXPECT_TRUE(row.shape && row.shape->IsValid()) << entry.path().filename() << " " << row.Field("name");
        }
    }
}

TEST(Export, OfAnEmptyFileIsAGeoPackageWithEmptyLayersAndNoOtherFile)
{
    TempFolder dir;
    const ExportRun run = RunExport(dir, "empty", "", {ExportFormat::GeoPackage, ExportFormat::GeoJson, ExportFormat::Shapefile});
    EXPECT_EQ(run.outcome, RunOutcome::Completed);
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"empty.bna", "empty.gpkg", "emptyArea.csv", "emptyCentroid.bna"}));
    for (const char* layer : {"polygons", "centroids"}) {
        const auto rows = ReadLayer(dir.File("empty.gpkg"), layer);
        ASSERT_TRUE(rows) << layer;
        EXPECT_TRUE(rows->empty());
    }
    EXPECT_FALSE(ReadLayer(dir.File("empty.gpkg"), "lines"));
    EXPECT_NE(std::find(run.host.summary.begin(), run.host.summary.end(), "\tGeoPackage: \tempty.gpkg"),
              run.host.summary.end());
}

TEST(ShapefileExport, SaysWhichFieldNamesAndNamesItCut)
{
    TempFolder dir;
    const std::string longName(300, 'x');
    const ExportRun run = RunExport(dir, "cut", "\"" + longName + "\",\"\",4\r\n0,0\r\n1,0\r\n1,1\r\n0,0\r\n",
                                    {ExportFormat::Shapefile});
    const auto polygons = ReadLayer(dir.File("cutPolygons.shp"), "");
    ASSERT_TRUE(polygons && polygons->size() == 1);
    EXPECT_EQ((*polygons)[0].Field("name"), longName.substr(0, 254));
    EXPECT_NE(std::find(run.host.progress.begin(), run.host.progress.end(),
                        "Export: the Shapefile's names are cut to 254 bytes in record 1 \"" + longName + "\"."),
              run.host.progress.end());
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"cut.bna", "cutArea.csv", "cutCentroid.bna", "cutCentroids.cpg",
                                                      "cutCentroids.dbf", "cutCentroids.prj", "cutCentroids.shp",
                                                      "cutCentroids.shx", "cutPolygons.cpg", "cutPolygons.dbf",
                                                      "cutPolygons.prj", "cutPolygons.shp", "cutPolygons.shx"}));
}

// A set that cannot be put in place (here a folder where its .prj was)
// leaves the earlier set whole, never a mix of the two runs' members.
TEST(ShapefileExport, ThatCannotBePutInPlaceLeavesTheEarlierSetWhole)
{
    TempFolder dir;
    RunExport(dir, "set", "\"A\",\"\",4\r\n0,0\r\n1,0\r\n1,1\r\n0,0\r\n", {ExportFormat::Shapefile});
    fs::remove(dir.File("setPolygons.prj"));
    fs::create_directories(dir.path() / "setPolygons.prj" / "inside");
    std::map<std::string, std::string> earlier;
    for (const std::string& name : FilesIn(dir)) {
        earlier[name] = fs::is_directory(dir.File(name)) ? "" : ReadBytes(dir.File(name));
    }
    const ExportRun run = RunExport(dir, "set", "\"B\",\"\",4\r\n0,0\r\n2,0\r\n2,2\r\n0,0\r\n",
                                    {ExportFormat::Shapefile});
    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    ASSERT_EQ(run.host.causes.size(), 1U);
    EXPECT_NE(run.host.causes[0].find("setPolygons.prj"), std::string::npos) << run.host.causes[0];
    for (const std::string& name : FilesIn(dir)) {
        if (name.starts_with("setPolygons") && !fs::is_directory(dir.File(name))) {
            EXPECT_EQ(ReadBytes(dir.File(name)), earlier[name]) << name;
        }
    }
    for (const std::string& name : FilesIn(dir)) {
        EXPECT_TRUE(earlier.contains(name) || name.starts_with("setCentroids")) << "left: " << name;
    }
    // Once the way is clear the new set takes the earlier one's place whole.
    fs::remove_all(dir.File("setPolygons.prj"));
    EXPECT_EQ(RunExportOn(dir, "set", {ExportFormat::Shapefile}).outcome, RunOutcome::Completed);
    const auto polygons = ReadLayer(dir.File("setPolygons.shp"), "");
    ASSERT_TRUE(polygons && polygons->size() == 1);
    EXPECT_EQ((*polygons)[0].Field("name"), "B");
    EXPECT_EQ(FilesIn(dir).size(), earlier.size());
}

// A file size limit (as a full disk would) that the classic files stay
// under and every export outgrows half-way: the run fails, the classic files
// are complete, and nothing of the export is left.
class ExportFailure : public testing::TestWithParam<FormatCase> {};

TEST_P(ExportFailure, LeavesTheClassicFilesAndNoExportFile)
{
    TempFolder dir;
    TempFolder reference;
    const std::string input = Mixed + Mixed;
    RunExport(reference, "big", input, {});
    dir.Write("big.bna", input);

    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limited = before;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const ExportRun run = RunExportOn(dir, "big", {GetParam().format});
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    ASSERT_EQ(run.host.causes.size(), 1U);
    EXPECT_NE(run.host.causes[0].find("big"), std::string::npos) << run.host.causes[0];
    EXPECT_EQ(ReadBytes(dir.File("bigArea.csv")), ReadBytes(reference.File("bigArea.csv")));
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"big.bna", "bigArea.csv", "bigCentroid.bna"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportFailure, testing::ValuesIn(Formats),
                         [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// GeoJSON (RFC 7946) takes longitudes and latitudes only: a planar file
// fails there, and the other formats are written all the same.
TEST(Export, AFormatThatRefusesAValueLeavesTheOthersAndSaysTheNamesOnce)
{
    TempFolder dir;
    const ExportRun run =
        RunExport(dir, "plane", "\"Caf\xE9\",\"\",4\r\n0,0\r\n500,0\r\n500,300\r\n0,0\r\n",
                  {ExportFormat::GeoJson, ExportFormat::GeoPackage, ExportFormat::FlatGeobuf});
    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    ASSERT_EQ(run.host.causes.size(), 1U);
    EXPECT_NE(run.host.causes[0].find("partial.geojson: Geometry extent outside"), std::string::npos)
        << run.host.causes[0];
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"plane.bna", "plane.gpkg", "planeArea.csv", "planeCentroid.bna",
                                                      "planeCentroids.fgb", "planePolygons.fgb"}));
    EXPECT_EQ(std::count_if(run.host.progress.begin(), run.host.progress.end(),
                            [](const std::string& line) { return line.find("Windows-1252") != std::string::npos; }),
              1);
}

// zarn-batch as a script runs it: --export repeated, its files and lines.
TEST(BatchExport, WritesEachFormatGivenAndRefusesAnUnknownOne)
{
    TempFolder dir;
    dir.Write("in.bna", test::ExampleRings);
    const std::string folder = fs::canonical(dir.path()).string();
    const std::string out = folder + "/stdout.txt";
    const auto batch = [&](const std::string& args) {
        const std::string command = "cd '" + folder + "' && '" ZARN_BATCH_EXE "' " + args + " >'" + out + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(batch("--help"), 0);
    EXPECT_NE(ReadBytes(out).find("--export FORMAT"), std::string::npos);
    EXPECT_EQ(batch("--export svg in.bna"), 2);

    ASSERT_EQ(batch("--no-map --export gpkg --export fgb in.bna"), 0);
    EXPECT_NE(ReadBytes(out).find("\tAreas (sq km): \tinArea.csv\n\tGeoPackage: \tin.gpkg\n"
                                  "\tFlatGeobuf: \tinPolygons.fgb\n\tFlatGeobuf: \tinCentroids.fgb\n"),
              std::string::npos)
        << ReadBytes(out);
    const auto polygons = ReadLayer(dir.File("in.gpkg"), "polygons");
    const auto centroids = ReadLayer(dir.File("inCentroids.fgb"), "");
    ASSERT_TRUE(polygons && centroids);
    EXPECT_EQ(polygons->size(), 3U);
    EXPECT_EQ(centroids->size(), 3U);
    EXPECT_EQ(ReadBytes(dir.File("inArea.csv")), test::ExampleAreaFile);
}

#ifdef ZARN_HAVE_GEODESIC
// The fields of a line of <base>Geodesic.csv after its quoted names.
std::vector<std::string> GeodesicFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = line.rfind('"') + 2;
    for (std::size_t comma = 0; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
        fields.push_back(line.substr(start, comma - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

TEST(Export, WithTheEllipsoidFiguresHasThemAsGeodesicCsvHasThem)
{
    TempFolder dir;
    const ExportRun run = RunExport(dir, "g", test::ExampleRings, {ExportFormat::GeoPackage, ExportFormat::Shapefile}, true);
    ASSERT_EQ(run.outcome, RunOutcome::Completed);
    const auto polygons = ReadLayer(dir.File("g.gpkg"), "polygons");
    const auto wgs84 = ReadLayer(dir.File("g.gpkg"), "centroids_wgs84");
    ASSERT_TRUE(polygons && wgs84 && ReadLayer(dir.File("gCentroidsWgs84.shp"), ""));
    const std::string csv = ReadBytes(dir.File("gGeodesic.csv"));
    std::size_t at = csv.find("\r\n") + 2;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t end = csv.find("\r\n", at);
        const std::vector<std::string> f = GeodesicFields(csv.substr(at, end - at));
        at = end + 2;
        ASSERT_EQ(f.size(), 6U);  // points, area, perimeter, lon, lat, flags
        EXPECT_EQ(Number((*polygons)[i].Field("area_wgs84_km2")), Number(f[1]));
        EXPECT_EQ(Number((*polygons)[i].Field("perimeter_km")), Number(f[2]));
        EXPECT_EQ((*polygons)[i].Field("flags"), f[5]);
        EXPECT_NEAR((*wgs84)[i].shape->toPoint()->getX(), Number(f[3]), 5e-8);
        EXPECT_NEAR((*wgs84)[i].shape->toPoint()->getY(), Number(f[4]), 5e-8);
    }
    EXPECT_NE(std::find(run.host.progress.begin(), run.host.progress.end(),
                        "Export: the Shapefile's field names are cut to 10 characters: area_wgs84_km2 as "
                        "area_wgs84, perimeter_km as perimeter_."),
              run.host.progress.end());
}
#endif

}  // namespace
}  // namespace zarn
