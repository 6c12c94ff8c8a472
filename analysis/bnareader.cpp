#include "bnareader.h"

#include <cstdint>

namespace zarn {

namespace {

void SkipPairs(BnaInput& in, std::int64_t pairs, const std::atomic<bool>* stop)
{
    constexpr std::int64_t PairsBetweenLooks = 4096;
    for (std::int64_t k = 0; k < pairs; ++k) {
        if (stop != nullptr && k % PairsBetweenLooks == 0 && stop->load(std::memory_order_relaxed)) {
            return;
        }
        in.ReadCoordinate();
        in.ReadCoordinate();
    }
}

}  // namespace

std::int32_t ReadRecordHeader(BnaInput& in, std::string& firstName, std::string& secondName)
{
    ++in.record;
    in.ReadText(firstName, "the first name");
    in.ReadText(secondName, "the second name");
    for (int extra = 0; extra < 2 && in.NextIsQuoted(); ++extra) {
        in.SkipText("a further name");
    }
    return in.ReadCount();
}

void ReadBnaHeader(BnaInput& in, std::string& firstName, std::string& secondName, Workspace& ws)
{
    ws.curPoly.nPoints = ReadRecordHeader(in, firstName, secondName);
}

void ReadBnaPoints(BnaInput& in, Workspace& ws, const std::atomic<bool>* stop)
{
    const std::int32_t n = ws.curPoly.nPoints;
    if (n < 0) {
        SkipPairs(in, -static_cast<std::int64_t>(n), stop);
        return;
    }
    // Marked before reading: a record that ends early has still written
    // some of its slots, and the next ResetPolygon must clear them.
    ws.MarkFilled(n);
    float* x = ws.pointX.data();
    float* y = ws.pointY.data();
    for (std::int32_t k = 0; k < n; ++k) {
        x[k] = in.ReadCoordinate();
        y[k] = in.ReadCoordinate();
    }
}

void SkipBnaPoints(BnaInput& in, const Workspace& ws, const std::atomic<bool>* stop)
{
    SkipPairs(in, ws.curPoly.nPoints, stop);
}

}  // namespace zarn
