#include "exportrows.h"

#include "analysisrun.h"
#include "exportwriter.h"
#include "gdalmessages.h"
#include "numbertext.h"

#include <cpl_string.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>

namespace zarn::gis {

double AsWritten(double value)
{
    const std::string text = NumberText(value);
    double parsed = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    return parsed;
}

#ifdef ZARN_HAVE_GEODESIC
double AsWrittenWgs84(double value)
{
    // Six decimals, as the table has them.
    std::string text;
    AppendFixed(text, value, 6);
    double parsed = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    return parsed;
}
#endif

std::string Utf8(std::string_view name, bool& recoded)
{
    std::string text(name);
    if (CPLIsUTF8(text.c_str(), static_cast<int>(text.size())) != 0) {
        return text;
    }
    recoded = true;
    char* converted = CPLRecode(text.c_str(), "CP1252", CPL_ENC_UTF8);
    text = converted;
    CPLFree(converted);
    return text;
}

std::size_t HugeTurn(ExportFormat format)
{
    switch (format) {
    case ExportFormat::GeoJson:
    case ExportFormat::Kml:
        return 0;
    case ExportFormat::GeoPackage:
        return 1;
    case ExportFormat::Shapefile:
        return 2;
    case ExportFormat::FlatGeobuf:
        break;
    }
    return 3;
}

OGRLayer* LayerFor(Target& target, LayerKind kind, bool geodesic, Coordinates coordinates, const OutputNames& names,
                   const std::string& inputPath, GdalMessages& messages)
{
    if (target.created[kind]) {
        return target.layers[kind];
    }
    if (target.info.oneFile) {
        File& file = *target.files[0];
        CommitTransaction(file, messages);
        CreateLayer(target, kind, geodesic, coordinates, messages);
        StartTransaction(file, messages);
    } else {
        CreateFile(target, kind, Layers[kind].fileSuffix, names, inputPath, messages);
        CreateLayer(target, kind, geodesic, coordinates, messages);
    }
    return target.layers[kind];
}

void Put(Target& target, LayerKind kind, const Row& row, OGRGeometry* geometry, bool geodesic,
         Coordinates coordinates, const OutputNames& names, const std::string& inputPath, GdalMessages& messages)
{
    OGRLayer* layer = LayerFor(target, kind, geodesic, coordinates, names, inputPath, messages);
    File& file = target.FileOf(kind);
    OGRFeatureUniquePtr feature(OGRFeature::CreateFeature(layer->GetLayerDefn()));
    EachField(kind, row, geodesic, FeatureFields{*feature, target.fieldIndex[kind]});
    OGRErr added = OGRERR_FAILURE;
    // SetGeometryDirectly deletes a geometry it cannot take.
    if (geometry == nullptr || feature->GetGeomFieldCount() > 0) {
        struct Lent {
            OGRFeature& feature;
            ~Lent()
            {
                const OGRGeometry* back = feature.StealGeometry();
                static_cast<void>(back);
            }
        };
        feature->SetGeometryDirectly(geometry);
        const Lent lent{*feature};
        added = layer->CreateFeature(feature.get());
    }
    if (added != OGRERR_NONE || !messages.Failure().empty()) {
        messages.Fail(file.finalPath, std::string("cannot add a row to ") + Layers[kind].name);
    }
    if (file.transaction && ++file.pending >= RowsPerTransaction) {
        CommitTransaction(file, messages);
        StartTransaction(file, messages);
    }
}

void MakeMultiPolygon(const RegionShape& shape, OGRMultiPolygon& out)
{
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        auto polygon = std::make_unique<OGRPolygon>();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            const std::size_t begin = shape.RingBegin(r);
            auto ring = std::make_unique<OGRLinearRing>();
            ring->setPoints(static_cast<int>(shape.ringEnd[r] - begin), shape.x.data() + begin, shape.y.data() + begin);
            polygon->addRingDirectly(ring.release());
        }
        out.addGeometryDirectly(polygon.release());
    }
}

void MakeMultiLineString(const RegionShape& shape, OGRMultiLineString& out)
{
    for (std::size_t r = 0; r < shape.ringEnd.size(); ++r) {
        const std::size_t begin = shape.RingBegin(r);
        auto line = std::make_unique<OGRLineString>();
        line->setPoints(static_cast<int>(shape.ringEnd[r] - begin), shape.x.data() + begin, shape.y.data() + begin);
        out.addGeometryDirectly(line.release());
    }
}

}  // namespace zarn::gis

namespace zarn {

using namespace gis;

namespace {

constexpr std::size_t RecordsQuoted = 10;

void AppendQuoted(std::string& out, std::uint64_t number, std::string_view name)
{
    out.append(std::to_string(number)).append(" \"").append(name).append("\"");
}

}  // namespace

void GisExport::Add(const RecordResult& result)
{
    const StreamRecord& record = result.record;
    ++recordNumber_;
    if (!record.complete) {
        return;  // the reading failed inside it; the run ends with that failure
    }
    std::unique_ptr<Item> item = writer_->Spare();
    Item& it = *item;
    bool recoded = false;
    Row& row = it.row;
    row.name = Utf8(record.firstName, recoded);
    row.second = Utf8(record.secondName, recoded);
    row.points = record.nPoints;
    row.hasArea = false;
    if (result.classic != nullptr) {
        row.hasArea = true;
        row.areaKm2 = AsWritten(std::fabs(result.classic->area));
    }
    it.hasFigures = result.geodesic != nullptr;
    if (it.hasFigures) {
        it.figures = *result.geodesic;
    }
    if (recoded && ++recodedCount_ <= RecordsQuoted) {
        AppendQuoted(recoded_.emplace_back(), recordNumber_, record.firstName);
    }
    if ((row.name.size() > ShapefileStringBytes || row.second.size() > ShapefileStringBytes) &&
        ++cutCount_ <= RecordsQuoted) {
        AppendQuoted(cut_.emplace_back(), recordNumber_, record.firstName);
    }

    // The file's coordinates are the same for every record: in plane
    // coordinates GeoJSON and KML, which hold longitude and latitude only,
    // are not written.
    const Coordinates coordinates = result.coordinates;
    it.coordinates = coordinates;
    if (!coordinatesKnown_) {
        coordinatesKnown_ = true;
        for (const std::unique_ptr<Target>& target : targets_) {
            if (coordinates == Coordinates::Plane && TakesDegreesOnly(target->info.format)) {
                target->skipped = true;
                skipped_.emplace_back(target->info.title);
                notes_->skipped.emplace_back(target->info.title);
            }
        }
        asText_ = std::any_of(targets_.begin(), targets_.end(), [](const std::unique_ptr<Target>& t) {
            return !t->skipped && WrittenAsText(t->info.format);
        });
        viaGdal_ = std::any_of(targets_.begin(), targets_.end(), [](const std::unique_ptr<Target>& t) {
            return !t->skipped && !WrittenAsText(t->info.format);
        });
        hugeTurn_ = 0;
        for (const std::unique_ptr<Target>& t : targets_) {
            if (!t->skipped && !asText_) {
                hugeTurn_ = std::max(hugeTurn_, HugeTurn(t->info.format));
            }
        }
    }

    // Every polygon comes from the geometry step, the same in every format.
    const double* lon = record.lon;
    const double* lat = record.lat;
    const std::size_t n = lon != nullptr && lat != nullptr ? record.pointsRead : 0;
    const bool degrees = coordinates == Coordinates::Degrees;
    it.kind = LayerCount;
    it.point.reset();
    it.region.Clear();
    it.shared.reset();
    const bool huge = n >= HugeVertices;
    if (notes_->shared && (notes_->sharedRecord != &record || notes_->sharedNumber != recordNumber_)) {
        notes_->shared.reset();  // a huge record before this one, in every export now
    }
    if (record.nPoints >= 3 || record.nPoints < 0 || record.nPoints == 2) {
        it.kind = record.nPoints >= 3 ? Polygons : Lines;
        if (huge && !notes_->shared) {
            // A shaper of its own, whose working buffers go as it does.
            auto shared = std::make_shared<HugeRecord>();
            RegionShape& shape = shared->shape;
            if (it.kind == Polygons) {
                std::vector<Ring> rings;
                SplitRings(lon, lat, n, coordinates, rings);
                RegionShaper().Make(lon, lat, rings, coordinates, shape);
                notes_->sharedRebuilt = degrees && shapeCheck_.Repair(lon, lat, rings, shape);
            } else {
                CutLine(lon, lat, n, coordinates, shape);
            }
            notes_->shared = std::move(shared);
            notes_->sharedRecord = &record;
            notes_->sharedNumber = recordNumber_;
        }
        bool rebuilt = false;
        if (huge) {
            it.shared = notes_->shared;
            rebuilt = it.kind == Polygons && notes_->sharedRebuilt;
            {
                // Its polygons may go once this is the last export to take it.
                const std::lock_guard lock(notes_->hugeWriting);
                it.weight = it.shared->shape.x.size() + 1;
                ++it.shared->left[hugeTurn_];
                if (++it.shared->taken == notes_->exports) {
                    notes_->shared.reset();  // the items hold it now; the last to write it frees it
                }
            }
            notes_->hugeWritten.notify_all();
        } else if (it.kind == Polygons) {
            SplitRings(lon, lat, n, coordinates, rings_);
            shaper_.Make(lon, lat, rings_, coordinates, it.region);
            rebuilt = degrees && shapeCheck_.Repair(lon, lat, rings_, it.region);
        } else {
            CutLine(lon, lat, n, coordinates, it.region);
        }
        if (rebuilt && it.hasFigures) {
            it.figures.flags |= PolygonRebuilt;
        }
    } else if (record.nPoints == 1) {
        it.kind = Points;
        if (n >= 1) {
            it.point = Item::Point{degrees ? WrapLongitude(lon[0]) : lon[0], lat[0]};
        }
    }

    // The vertices' digits for GeoJSON and KML here while the writing is
    // behind, otherwise there: the same digits on either thread.
    it.digitsMade = false;
    if (asText_ && !huge && (it.kind == Polygons || it.kind == Lines) && writer_->Behind()) {
        it.digits.Make(it.region);
        it.digitsMade = true;
    }

    // Points in degrees with their longitudes in [-180, 180).
    it.centroid.reset();
    if (result.classic != nullptr) {
        const double x = AsWritten(result.classic->centroidX);
        it.centroid = Item::Point{degrees ? WrapLongitude(x) : x, AsWritten(result.classic->centroidY)};
    }
    it.centroidWgs84.reset();
    if (geodesic_ && result.geodesic != nullptr && result.geodesic->hasCentroid) {
        it.centroidWgs84 = Item::Point{result.geodesic->centroidLon, result.geodesic->centroidLat};
    }
    if (!it.shared) {
        it.weight = it.region.x.size() + 1;
    }
    writer_->Push(std::move(item));
}

void GisExport::Write(Item& item)
{
    GdalMessages messages;
    Row& row = item.row;
    row.geodesic = item.hasFigures ? &item.figures : nullptr;
    const LayerKind kind = item.kind;
    const Coordinates coordinates = item.coordinates;
    if (asText_ && !item.digitsMade && (kind == Polygons || kind == Lines)) {
        if (item.shared) {
            item.digits.Window(item.Region());
        } else {
            item.digits.Make(item.Region());
        }
    }
    std::unique_ptr<OGRGeometry> shape;
    OGRGeometry* geometry = nullptr;
    std::optional<OGRPoint> centroid;
    std::optional<OGRPoint> centroidWgs84;
    // OGR's geometries only where a format written through GDAL takes them,
    // made and freed on this thread.
    if (viaGdal_) {
        // A huge record's is made once, by the first export to write it.
        std::unique_ptr<OGRGeometry>& made = item.shared ? item.shared->ogr : shape;
        if (!made) {
            if (kind == Polygons) {
                auto polygons = std::make_unique<OGRMultiPolygon>();
                MakeMultiPolygon(item.Region(), *polygons);
                made = std::move(polygons);
            } else if (kind == Lines) {
                auto lines = std::make_unique<OGRMultiLineString>();
                MakeMultiLineString(item.Region(), *lines);
                made = std::move(lines);
            } else if (kind == Points && item.point) {
                made = std::make_unique<OGRPoint>(item.point->x, item.point->y);
            }
        }
        geometry = made.get();
        if (item.shared && !asText_ && item.shared->TurnOf(1, *notes_)) {
            // A huge record's polygons go before the driver copies OGR's.
            item.shared->shape = RegionShape{};
        }
        if (item.centroid) {
            centroid.emplace(item.centroid->x, item.centroid->y);
        }
        if (item.centroidWgs84) {
            centroidWgs84.emplace(item.centroidWgs84->x, item.centroidWgs84->y);
        }
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        if (target->skipped) {
            continue;
        }
        if (WrittenAsText(target->info.format)) {
            const auto put = [&](LayerKind layer, const auto& geometry) {
                PutText(*target, layer, row, geodesic_, coordinates, names_, inputPath_, messages, geometry);
            };
            const auto point = [](Item::Point p) { return [p](TextLayerFile& text) { text.Point(p.x, p.y); }; };
            if (kind == Polygons) {
                put(kind, [&](TextLayerFile& text) { text.MultiPolygon(item.Region(), item.digits); });
            } else if (kind == Lines) {
                put(kind, [&](TextLayerFile& text) { text.MultiLineString(item.Region(), item.digits); });
            } else if (kind == Points) {
                put(kind, [&](TextLayerFile& text) {
                    if (item.point) {
                        text.Point(item.point->x, item.point->y);
                    } else {
                        text.NoGeometry();
                    }
                });
            }
            if (item.centroid) {
                put(Centroids, point(*item.centroid));
            }
            if (item.centroidWgs84) {
                put(CentroidsWgs84, point(*item.centroidWgs84));
            }
            continue;
        }
        if (kind != LayerCount) {
            Put(*target, kind, row, geometry, geodesic_, coordinates, names_, inputPath_, messages);
        }
        if (centroid) {
            Put(*target, Centroids, row, &*centroid, geodesic_, coordinates, names_, inputPath_, messages);
        }
        if (centroidWgs84) {
            Put(*target, CentroidsWgs84, row, &*centroidWgs84, geodesic_, coordinates, names_, inputPath_, messages);
        }
    }
}

}  // namespace zarn
