#include "geodesicfile.h"

#include "analysisrun.h"
#include "numbertext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zarn {

namespace {

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (std::size_t quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
        out.append(text.substr(0, quote + 1)).push_back('"');
        text.remove_prefix(quote + 1);
    }
    out.append(text).push_back('"');
}

}  // namespace

void AppendFixed(std::string& out, double value, int decimals)
{
    std::uint64_t whole = 0;
    if (decimals > 0 && ScaledWhole(value, decimals, whole)) {
        // The same digits as std::to_chars, without its general machinery:
        // the whole units, and the decimals as one number padded with zeros.
        // The table's six and seven decimals divide by a constant, which
        // compiles to a multiplication.
        static constexpr std::uint32_t Units[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                                  100000000, 1000000000};
        std::uint64_t units = 0;
        std::uint32_t fraction = 0;
        const auto split = [&](std::uint32_t unit) {
            units = whole / unit;
            fraction = static_cast<std::uint32_t>(whole % unit);
        };
        switch (decimals) {
        case 6:
            split(1000000);
            break;
        case 7:
            split(10000000);
            break;
        default:
            split(Units[decimals]);
        }
        char buf[48];
        char* p = buf;
        if (std::signbit(value) && whole != 0) {
            *p++ = '-';
        }
        p = std::to_chars(p, buf + 24, units).ptr;
        *p++ = '.';
        for (int k = decimals - 1; k >= 0; --k) {
            p[k] = static_cast<char>('0' + fraction % 10U);
            fraction /= 10U;
        }
        out.append(buf, p + decimals);
        return;
    }
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string_view text(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
    // A small negative value rounds to "-0.000000": no sign for a zero.
    if (!text.empty() && text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
        text.remove_prefix(1);
    }
    out += text;
}

GeodesicFile::~GeodesicFile() = default;

void GeodesicFile::Open(const OutputNames& names, const std::string& inputPath, RunHost& /*host*/)
{
    fileTitle_ = names.baseName + "Geodesic.csv";
    path_ = names.outputFolder + fileTitle_;
    classicDiffers_ = 0;
    safe_.Open(path_, inputPath);
    safe_.Write(HeaderLine);
}

void GeodesicFile::Add(const RecordResult& result)
{
    const GeodesicFigures& g = *result.geodesic;
    line_.clear();
    AppendQuoted(line_, result.record.firstName);
    line_ += ',';
    AppendQuoted(line_, result.record.secondName);
    line_ += ',';
    char count[24];
    line_.append(count, std::to_chars(count, count + sizeof count, result.record.pointsRead).ptr);
    line_ += ',';
    if (g.hasFigures) {
        AppendFixed(line_, g.areaKm2, 6);
        line_ += ',';
        AppendFixed(line_, g.perimeterKm, 6);
    } else {
        line_ += ',';
    }
    line_ += ',';
    if (g.hasCentroid) {
        const std::size_t lonStart = line_.size();
        AppendFixed(line_, g.centroidLon, 7);
        // A longitude just short of 180 rounds up to it: that is -180.
        if (std::string_view(line_).substr(lonStart) == "180.0000000") {
            line_.replace(lonStart, std::string::npos, "-180.0000000");
        }
        line_ += ',';
        AppendFixed(line_, g.centroidLat, 7);
    } else {
        line_ += ',';
    }
    line_ += ',';
    AppendFlagWords(line_, g.flags);
    line_ += "\r\n";
    safe_.Write(line_);
    if ((g.flags & ClassicDiffers) != 0) {
        ++classicDiffers_;
    }
}

void GeodesicFile::Close(RunHost& /*host*/)
{
    safe_.Commit();
}

void GeodesicFile::Abandon() noexcept
{
    safe_.Discard();
}

void GeodesicFile::AppendSummary(RunHost& host)
{
    host.AppendSummary("\tEllipsoid areas: \t" + fileTitle_);
    if (classicDiffers_ == 1) {
        host.AppendSummary(" The classic area of 1 polygon differs by more than 1 % from its area on the WGS84 ellipsoid.");
    } else if (classicDiffers_ > 1) {
        host.AppendSummary(" The classic areas of " + std::to_string(classicDiffers_) +
                           " polygons differ by more than 1 % from their areas on the WGS84 ellipsoid.");
    }
}

}  // namespace zarn
