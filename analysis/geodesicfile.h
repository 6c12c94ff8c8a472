#pragma once

#include "runoutput.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace zarn {

// The table of the figures on the WGS84 ellipsoid, <base>Geodesic.csv beside
// the other result files: CSV as RFC 4180 writes it, CR LF line ends, a point
// as decimal separator, a header line and one row per record in file order:
//   name,second,points,wgs84_km2,perim_km,centroid_lon,centroid_lat,flags
//   "Box","10..12 E",5,15783.179...,...,11.0000000,50.5000000,
// (the field names of the GIS exports, at most 10 characters each). Names are
// the bytes read, always quoted, a quote inside doubled. Areas (km²) and
// perimeters (km) carry 6 decimals, the centroid (degrees, longitude in
// [-180, 180)) 7; a record without a ring leaves the centroid fields empty,
// and a file whose coordinates are not degrees every figure (its rows flagged
// not-degrees). No value is written as "-0". The flags are the words of
// AppendFlagWords.
// It is written as a ResultFile: a run that fails, or fails over this file,
// leaves the table of an earlier run as it was.
class GeodesicFile : public RunOutput {
public:
    GeodesicFile() = default;
    ~GeodesicFile() override;
    GeodesicFile(const GeodesicFile&) = delete;
    GeodesicFile& operator=(const GeodesicFile&) = delete;

    static constexpr std::string_view HeaderLine =
        "name,second,points,wgs84_km2,perim_km,centroid_lon,centroid_lat,flags\r\n";

    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host) override;
    void Add(const RecordResult& result) override;
    void Close(RunHost& host) override;
    void Abandon() noexcept override;
    // The file's line and, where any record's classic area is more than 1 %
    // off, how many are.
    void AppendSummary(RunHost& host) override;
    std::string Caption() const override { return "Ellipsoid areas"; }

private:
    std::string path_;
    std::string fileTitle_;
    ResultFile safe_;
    std::string line_;
    std::uint64_t classicDiffers_ = 0;
};

// Appends `value` with `decimals` fixed decimals and a point, never "-0".
void AppendFixed(std::string& out, double value, int decimals);

}  // namespace zarn
