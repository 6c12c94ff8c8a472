#include "coordinatescan.h"

#include "bnainput.h"

#include <cmath>
#include <cstdint>
#include <exception>

namespace zarn {

Coordinates ScanCoordinates(const std::string& path)
{
    try {
        BnaInput in(path);
        std::string firstName;
        std::string secondName;
        double lat = 0.0;
        while (!in.AtEnd()) {
            // The record structure of ReadBnaHeader.
            ++in.record;
            in.ReadText(firstName, "the first name");
            in.ReadText(secondName, "the second name");
            for (int extra = 0; extra < 2 && in.NextIsQuoted(); ++extra) {
                in.SkipText("a further name");
            }
            const std::int32_t n = in.ReadCount();
            const std::int64_t count = n < 0 ? -static_cast<std::int64_t>(n) : n;
            for (std::int64_t k = 0; k < count; ++k) {
                in.ReadCoordinate();
                in.ReadCoordinate(lat);
                if (!(std::fabs(lat) <= 90.0)) {
                    return Coordinates::Plane;
                }
            }
        }
    } catch (const std::exception&) {
        // Judged by what was read; the run reports the failure.
    }
    return Coordinates::Degrees;
}

}  // namespace zarn
