#include "regionshape.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zarn {

namespace {

// The border of the plane [-180, 180] x [-90, 90], walked counter-clockwise
// from its south-west corner: bottom 0 .. 360, right 360 .. 540, top 540 ..
// 900, left 900 .. 1080.
constexpr double BorderLength = 1080.0;

double BorderPosition(double x, double y)
{
    double t = 0.0;
    if (x >= 180.0) {
        t = 360.0 + (y + 90.0);
    } else if (x <= -180.0) {
        t = 900.0 + (90.0 - y);
    } else if (y <= -90.0) {
        t = x + 180.0;
    } else {
        t = 540.0 + (180.0 - x);
    }
    return t >= BorderLength ? t - BorderLength : t;
}

constexpr std::array<std::array<double, 3>, 4> Corners{{
    {0.0, -180.0, -90.0},
    {360.0, 180.0, -90.0},
    {540.0, 180.0, 90.0},
    {900.0, -180.0, 90.0},
}};

// On the 180th meridian (or one a whole number of turns from it).
bool OnCut(double lon)
{
    return WrapLongitude(lon) == -180.0;
}

// Twice the signed area of a closed ring [begin, end) (its last point repeating its first).
double TwiceArea(const std::vector<double>& x, const std::vector<double>& y, std::size_t begin, std::size_t end)
{
    double twice = 0.0;
    const double x0 = x[begin];
    const double y0 = y[begin];
    for (std::size_t k = begin + 1; k + 1 < end; ++k) {
        twice += (x[k] - x0) * (y[k + 1] - y0) - (x[k + 1] - x0) * (y[k] - y0);
    }
    return twice;
}

}  // namespace

void RegionShape::Clear()
{
    x.clear();
    y.clear();
    ringEnd.clear();
    polygonEnd.clear();
    cut = false;
}

// The ring as it stands, turned so that the record's region lies to its
// left, as one closed piece: plane coordinates, or degrees that need no cut.
void RegionShaper::Orient(const double* lon, const double* lat, const Ring& r, bool forward, std::int32_t source)
{
    const std::size_t begin = px_.size();
    for (std::size_t k = 0; k <= r.size; ++k) {
        const std::size_t i = k == r.size ? r.first : forward ? r.first + k : r.first + (k == 0 ? 0 : r.size - k);
        px_.push_back(lon[i]);
        py_.push_back(lat[i]);
    }
    pieces_.push_back({begin, px_.size(), source, false});
}

// The ring unwrapped and cut where it crosses the 180th meridian, turned so
// that the record's region lies to its left: one closed piece when it does
// not cross, else chains from one cut to the next, each shifted into
// [-180, 180].
void RegionShaper::Cut(const double* lon, const double* lat, const Ring& r, bool forward, std::int32_t source)
{
    const std::size_t s = r.size;
    const auto at = [&](std::size_t k) {
        k %= s;
        return forward ? r.first + k : r.first + (k == 0 ? 0 : s - k);
    };
    // Nothing to cut: every longitude within (-180, 180), every step short.
    bool inside = true;
    for (std::size_t k = r.first; k < r.first + s && inside; ++k) {
        inside = std::fabs(lon[k]) < 180.0 && std::fabs(lon[k] - lon[k + 1 < r.first + s ? k + 1 : r.first]) <= 180.0;
    }
    if (inside) {
        Orient(lon, lat, r, forward, source);
        return;
    }
    // The walk starts on a vertex off the meridian, and off the pole lines
    // where it can; a ring on the meridian throughout has no area.
    const auto offPole = [&](std::size_t k) { return std::fabs(lat[at(k)]) != 90.0; };
    std::size_t start = 0;
    while (start < s && (OnCut(lon[at(start)]) || !offPole(start))) {
        ++start;
    }
    if (start == s) {
        start = 0;
        while (start < s && OnCut(lon[at(start)])) {
            ++start;
        }
    }
    if (start == s) {
        return;
    }
    const auto emit = [&](double x, double y) {
        px_.push_back(x);
        py_.push_back(y);
    };
    const auto endChain = [&](std::size_t begin) {
        Piece piece{begin, px_.size(), source, true};
        piece.startT = BorderPosition(px_[begin], py_[begin]);
        piece.endT = BorderPosition(px_.back(), py_.back());
        pieces_.push_back(piece);
    };

    std::size_t previous = at(start);
    std::int64_t turn = 0;
    std::int64_t window = LongitudeTurns(lon[previous]);  // the window [-180, 180] + 360 window the walk is in
    double lastX = WrapLongitude(lon[previous]);  // the last vertex off the meridian, in its window
    double lastY = lat[previous];
    const std::size_t ringBegin = px_.size();
    std::size_t chainBegin = ringBegin;
    bool cut = false;
    double firstEndT = 0.0;
    firstX_.clear();
    firstY_.clear();
    emit(lastX, lastY);
    // A run of vertices on a meridian of the cut, waiting for the walk to
    // show whether it crosses there or only touches.
    std::size_t runFrom = 0;
    std::size_t runTo = 0;
    std::int64_t runLine = 0;  // the walk's x there is 180 + 360 runLine
    bool run = false;
    // Ends the chain at (outX, yOut) and starts the next at (inX, yIn).
    const auto splitAt = [&](double outX, double yOut, double inX, double yIn, bool nudge) {
        emit(outX, yOut);
        if (!cut) {
            // The first chain waits to be joined to the last.
            firstX_.assign(px_.begin() + static_cast<std::ptrdiff_t>(ringBegin), px_.end());
            firstY_.assign(py_.begin() + static_cast<std::ptrdiff_t>(ringBegin), py_.end());
            firstEndT = BorderPosition(px_.back(), py_.back());
            if (nudge) {
                firstEndT = std::nextafter(firstEndT, BorderLength);
            }
            px_.resize(ringBegin);
            py_.resize(ringBegin);
        } else {
            endChain(chainBegin);
            if (nudge) {
                pieces_.back().endT = std::nextafter(pieces_.back().endT, BorderLength);
            }
        }
        cut = true;
        chainBegin = px_.size();
        emit(inX, yIn);
    };
    // A run of vertices on a pole line, between two off it in one window:
    // where the region lies outside its turn (the region goes on along the
    // pole line there), the ring is split at the run as at a run along the
    // meridian, so that the border along the pole joins the pieces as rings
    // that meet the pole line rather than one that runs along itself.
    bool poleRun = false;
    std::size_t poleFrom = 0;  // the walk's index of its first vertex
    std::size_t poleTo = 0;
    std::size_t poleAt = 0;  // where its first vertex lies in px_
    std::int64_t poleWindow = 0;
    double beforeX = 0.0;  // the vertex before it
    double beforeY = 0.0;
    double poleX1 = 0.0;
    double poleX2 = 0.0;
    std::size_t lastOff = 0;  // the walk's index of the last vertex off the meridian
    for (std::size_t j = 1; j <= s; ++j) {
        const std::size_t i = at(start + j);
        turn = StepTurn(lon[previous], lat[previous], lon[i], lat[i], turn);
        previous = i;
        if (OnCut(lon[i])) {
            touches_ = true;
            if (!run) {
                run = true;
                runFrom = j;
                runLine = turn + std::llround((lon[i] - 180.0) / 360.0);
            }
            runTo = j;
            continue;
        }
        const std::int64_t w = turn + LongitudeTurns(lon[i]);
        const double x = WrapLongitude(lon[i]);
        const double y = lat[i];
        const std::int64_t windowBefore = window;
        if (poleRun && std::fabs(y) != 90.0) {
            poleRun = false;
            if (!run && lastOff == poleTo && w == window && window == poleWindow) {
                const double poleY = lat[at(start + poleFrom)];
                const double t = poleX1 != poleX2 ? ((poleX2 < poleX1) == (poleY > 0.0) ? 1.0 : -1.0)
                                                  : (poleX1 - beforeX) * (y - poleY) - (poleY - beforeY) * (x - poleX1);
                if (t < 0.0) {
                    px_.resize(poleAt + 1);
                    py_.resize(poleAt + 1);
                    splitAt(poleX1, poleY, poleX2, poleY, true);
                }
            }
        }
        // Where the walk leaves this window and enters the next (or comes
        // back into this one): the cut's two points, on the border.
        double outX = 0.0;
        double yOut = 0.0;
        double inX = 0.0;
        double yIn = 0.0;
        bool nudge = false;  // the chain's end lies just past its point on the border
        bool split = false;
        if (w == window) {
            if (run) {
                // Touches the meridian and turns back. Where the region lies
                // inside the turn, the run stays, on the side it touched. Where
                // it lies outside (the region goes on across the meridian
                // there), the region runs on along the border on both sides
                // of the touch: the ring is split there, so that the border
                // joins the pieces as rings that meet the meridian rather
                // than one that runs along itself. The end is placed just
                // past the start on the border, so that the border arriving
                // from below takes the start and the end goes on along the
                // border. A run along the meridian has the region on its
                // left: inside where it goes north on 180 or south on -180.
                // A touch at one latitude is told by the turn the ring makes
                // there.
                const double side = runLine == window ? 180.0 : -180.0;
                const double y1 = lat[at(start + runFrom)];
                const double y2 = lat[at(start + runTo)];
                const double turn = y1 != y2 ? ((y2 > y1) == (side > 0.0) ? 1.0 : -1.0)
                                             : (side - lastX) * (y - y2) - (y1 - lastY) * (x - side);
                if (turn < 0.0) {
                    split = true;
                    nudge = true;
                    outX = inX = side;
                    yOut = y1;
                    yIn = y2;
                } else {
                    for (std::size_t k = runFrom; k <= runTo; ++k) {
                        emit(side, lat[at(start + k)]);
                    }
                }
            }
        } else {
            split = true;
            const bool east = w > window;
            outX = east ? 180.0 : -180.0;
            inX = -outX;
            if (run) {
                // Crosses on the run: out at its first vertex, in at its last;
                // what lies between runs along the meridian, which the border
                // joins again.
                yOut = lat[at(start + runFrom)];
                yIn = lat[at(start + runTo)];
            } else {
                const double xHere = east ? x + 360.0 : x - 360.0;  // in the window of the last vertex
                yOut = lastY + (outX - lastX) * (y - lastY) / (xHere - lastX);
                yOut = std::clamp(yOut, std::min(lastY, y), std::max(lastY, y));
                yIn = yOut;
            }
            window = w;
        }
        if (split) {
            splitAt(outX, yOut, inX, yIn, nudge);
        }
        if (std::fabs(y) == 90.0 && j < s) {
            if (!poleRun || run || lastOff + 1 != j) {
                poleRun = !run && lastOff + 1 == j;
                poleFrom = j;
                poleAt = px_.size();
                poleWindow = window;
                beforeX = lastX + 360.0 * static_cast<double>(windowBefore - window);  // in this window
                beforeY = lastY;
                poleX1 = x;
            }
            poleTo = j;
            poleX2 = x;
            if (window != poleWindow) {
                poleRun = false;
            }
        }
        run = false;
        if (j < s) {
            emit(x, y);
        }
        lastX = x;
        lastY = y;
        lastOff = j;
    }
    if (!cut) {
        const double x = px_[ringBegin];
        const double y = py_[ringBegin];
        emit(x, y);
        pieces_.push_back({ringBegin, px_.size(), source, false});
        return;
    }
    // The last chain runs on into the first, which starts at the walk's first vertex.
    px_.insert(px_.end(), firstX_.begin(), firstX_.end());
    py_.insert(py_.end(), firstY_.begin(), firstY_.end());
    Piece piece{chainBegin, px_.size(), source, true};
    piece.startT = BorderPosition(px_[chainBegin], py_[chainBegin]);
    piece.endT = firstEndT;
    pieces_.push_back(piece);
}

// Closes the chains into rings: from the end of each chain along the
// border, counter-clockwise (the region lies to the left), to the start of
// the next chain met there, passing the corners of the plane on the way.
void RegionShaper::JoinChains()
{
    std::vector<std::size_t> chains;
    for (std::size_t p = 0; p < pieces_.size(); ++p) {
        if (pieces_[p].chain) {
            chains.push_back(p);
        }
    }
    if (chains.empty()) {
        return;
    }
    std::vector<std::size_t> byStart = chains;
    std::sort(byStart.begin(), byStart.end(),
              [&](std::size_t a, std::size_t b) { return pieces_[a].startT < pieces_[b].startT; });
    std::vector<bool> used(pieces_.size(), false);
    for (const std::size_t c0 : chains) {
        if (used[c0]) {
            continue;
        }
        const std::size_t ringBegin = px_.size();
        std::size_t c = c0;
        for (;;) {
            used[c] = true;
            const Piece chain = pieces_[c];
            for (std::size_t k = chain.begin; k < chain.end; ++k) {
                const double x = px_[k];
                const double y = py_[k];
                if (px_.size() > ringBegin && px_.back() == x && py_.back() == y) {
                    continue;  // where a chain ends and the next starts at one point
                }
                px_.push_back(x);
                py_.push_back(y);
            }
            const double endT = chain.endT;
            auto pos = std::lower_bound(byStart.begin(), byStart.end(), endT,
                                        [&](std::size_t a, double t) { return pieces_[a].startT < t; });
            std::size_t next = c0;
            for (std::size_t tried = 0; tried < byStart.size(); ++tried, ++pos) {
                if (pos == byStart.end()) {
                    pos = byStart.begin();
                }
                if (*pos == c0 || !used[*pos]) {
                    next = *pos;
                    break;
                }
            }
            double span = pieces_[next].startT - endT;
            if (span < 0.0) {
                span += BorderLength;
            }
            std::array<std::pair<double, std::size_t>, 4> passed{};
            std::size_t count = 0;
            for (std::size_t k = 0; k < Corners.size(); ++k) {
                double d = Corners[k][0] - endT;
                if (d <= 0.0) {
                    d += BorderLength;
                }
                if (d < span) {
                    passed[count++] = {d, k};
                }
            }
            std::sort(passed.begin(), passed.begin() + static_cast<std::ptrdiff_t>(count));
            for (std::size_t k = 0; k < count; ++k) {
                px_.push_back(Corners[passed[k].second][1]);
                py_.push_back(Corners[passed[k].second][2]);
            }
            if (next == c0) {
                break;
            }
            c = next;
        }
        const double x = px_[ringBegin];
        const double y = py_[ringBegin];
        if (px_.back() != x || py_.back() != y || px_.size() - ringBegin == 1) {
            px_.push_back(x);
            py_.push_back(y);
        }
        pieces_.push_back({ringBegin, px_.size(), -1, false});
    }
}

void RegionShaper::Assemble(const std::vector<Ring>& rings, Coordinates coordinates, RegionShape& out)
{
    struct Closed {
        std::size_t piece;
        bool outer;  // counter-clockwise
    };
    std::vector<Closed> closed;
    std::vector<std::int32_t> closedOfRing(rings.size(), -1);
    bool chains = false;
    for (std::size_t p = 0; p < pieces_.size(); ++p) {
        const Piece& piece = pieces_[p];
        if (piece.chain) {
            chains = true;
            continue;
        }
        const double twice = TwiceArea(px_, py_, piece.begin, piece.end);
        if (twice == 0.0 || !std::isfinite(twice)) {
            continue;  // no area: nothing a GIS could draw
        }
        if (piece.source >= 0) {
            closedOfRing[static_cast<std::size_t>(piece.source)] = static_cast<std::int32_t>(closed.size());
        }
        closed.push_back({p, twice > 0.0});
    }
    // The outer ring that holds each hole: from the nesting of the record's
    // rings where every ring came through whole, else by nesting the pieces
    // again in the plane. A hole in no outer ring lies in the whole plane.
    std::vector<std::int32_t> holder(closed.size(), -1);
    constexpr std::int32_t World = -2;
    if (!chains) {
        for (std::size_t k = 0; k < closed.size(); ++k) {
            const std::int32_t source = pieces_[closed[k].piece].source;
            if (closed[k].outer || source < 0) {
                continue;
            }
            const std::int32_t container = rings[static_cast<std::size_t>(source)].outer;
            const std::int32_t c = container >= 0 ? closedOfRing[static_cast<std::size_t>(container)] : -1;
            holder[k] = c >= 0 && closed[static_cast<std::size_t>(c)].outer ? c : World;
        }
    } else {
        std::vector<Ring> again(closed.size());
        for (std::size_t k = 0; k < closed.size(); ++k) {
            const Piece& piece = pieces_[closed[k].piece];
            again[k].first = piece.begin;
            again[k].size = piece.end - piece.begin - 1;
        }
        NestRings(px_.data(), py_.data(), Coordinates::Plane, again);
        for (std::size_t k = 0; k < closed.size(); ++k) {
            if (!closed[k].outer) {
                const std::int32_t c = again[k].outer;
                holder[k] = c >= 0 && closed[static_cast<std::size_t>(c)].outer ? c : World;
            }
        }
    }
    if (coordinates == Coordinates::Plane) {
        // No plane round the plane: a hole outside every outer ring (rings
        // that cross each other) is kept as an outer ring of its own.
        for (std::size_t k = 0; k < closed.size(); ++k) {
            if (!closed[k].outer && holder[k] == World) {
                const Piece& piece = pieces_[closed[k].piece];
                std::reverse(px_.begin() + static_cast<std::ptrdiff_t>(piece.begin), px_.begin() + static_cast<std::ptrdiff_t>(piece.end));
                std::reverse(py_.begin() + static_cast<std::ptrdiff_t>(piece.begin), py_.begin() + static_cast<std::ptrdiff_t>(piece.end));
                closed[k].outer = true;
            }
        }
    }
    if (closed.size() == 1 && closed[0].outer && pieces_[closed[0].piece].begin == 0 &&
        pieces_[closed[0].piece].end == px_.size()) {
        // One ring as it came (most rings, the huge ones above all): the
        // working copy is the result.
        out.x.swap(px_);
        out.y.swap(py_);
        out.ringEnd.push_back(out.x.size());
        out.polygonEnd.push_back(1);
        return;
    }
    const auto putRing = [&](std::size_t begin, std::size_t end) {
        out.x.insert(out.x.end(), px_.begin() + static_cast<std::ptrdiff_t>(begin), px_.begin() + static_cast<std::ptrdiff_t>(end));
        out.y.insert(out.y.end(), py_.begin() + static_cast<std::ptrdiff_t>(begin), py_.begin() + static_cast<std::ptrdiff_t>(end));
        out.ringEnd.push_back(out.x.size());
    };
    // Holes by the outer ring that holds them, in order.
    std::vector<std::size_t> holeStart(closed.size() + 2, 0);
    const auto slot = [&](std::int32_t h) { return h == World ? closed.size() : static_cast<std::size_t>(h); };
    for (std::size_t k = 0; k < closed.size(); ++k) {
        if (!closed[k].outer) {
            ++holeStart[slot(holder[k]) + 1];
        }
    }
    for (std::size_t k = 1; k < holeStart.size(); ++k) {
        holeStart[k] += holeStart[k - 1];
    }
    std::vector<std::size_t> holes(holeStart.back());
    {
        std::vector<std::size_t> fill(holeStart.begin(), holeStart.end() - 1);
        for (std::size_t k = 0; k < closed.size(); ++k) {
            if (!closed[k].outer) {
                holes[fill[slot(holder[k])]++] = k;
            }
        }
    }
    const auto putHoles = [&](std::size_t s) {
        for (std::size_t h = holeStart[s]; h < holeStart[s + 1]; ++h) {
            const Piece& piece = pieces_[closed[holes[h]].piece];
            putRing(piece.begin, piece.end);
        }
    };
    for (std::size_t k = 0; k < closed.size(); ++k) {
        if (closed[k].outer) {
            const Piece& piece = pieces_[closed[k].piece];
            putRing(piece.begin, piece.end);
            putHoles(k);
            out.polygonEnd.push_back(out.ringEnd.size());
        }
    }
    if (holeStart[closed.size() + 1] > holeStart[closed.size()]) {
        for (const std::array<double, 3>& corner : Corners) {
            out.x.push_back(corner[1]);
            out.y.push_back(corner[2]);
        }
        out.x.push_back(Corners[0][1]);
        out.y.push_back(Corners[0][2]);
        out.ringEnd.push_back(out.x.size());
        putHoles(closed.size());
        out.polygonEnd.push_back(out.ringEnd.size());
    }
}

// A full-width edge (see ringrule.h) runs from one meridian of the cut to
// the next: a vertex at its middle, longitude 0 on its parallel, makes it
// two steps of 180 degrees along the same line, which the cut takes as any
// other edge.
bool RegionShaper::SplitFullWidth(const double* lon, const double* lat, const Ring& r)
{
    const std::size_t end = r.first + r.size;
    const auto next = [&](std::size_t k) { return k + 1 < end ? k + 1 : r.first; };
    std::size_t k = r.first;
    while (k < end && !FullWidthStep(lon[k], lat[k], lon[next(k)], lat[next(k)])) {
        ++k;
    }
    if (k == end) {
        return false;
    }
    wideLon_.clear();
    wideLat_.clear();
    for (k = r.first; k < end; ++k) {
        wideLon_.push_back(lon[k]);
        wideLat_.push_back(lat[k]);
        if (FullWidthStep(lon[k], lat[k], lon[next(k)], lat[next(k)])) {
            wideLon_.push_back(0.0);
            wideLat_.push_back(lat[k]);
        }
    }
    return true;
}

void RegionShaper::Make(const double* lon, const double* lat, const std::vector<Ring>& rings, Coordinates coordinates,
                        RegionShape& out)
{
    out.Clear();
    px_.clear();
    py_.clear();
    pieces_.clear();
    touches_ = false;
    // Room for every ring closed on its first vertex, at once: rings that
    // need no cut take no more.
    std::size_t vertices = 0;
    for (const Ring& r : rings) {
        vertices += r.size + 1;
    }
    px_.reserve(vertices);
    py_.reserve(vertices);
    for (std::size_t k = 0; k < rings.size(); ++k) {
        const Ring& r = rings[k];
        // The record's region to the left: an island's region, outside a hole's.
        const bool island = r.outer < 0;
        const bool forward = island == r.regionLeft;
        if (coordinates == Coordinates::Plane) {
            Orient(lon, lat, r, forward, static_cast<std::int32_t>(k));
        } else if (SplitFullWidth(lon, lat, r)) {
            Cut(wideLon_.data(), wideLat_.data(), Ring{0, wideLon_.size()}, forward, static_cast<std::int32_t>(k));
        } else {
            Cut(lon, lat, r, forward, static_cast<std::int32_t>(k));
        }
    }
    const std::size_t before = pieces_.size();
    JoinChains();
    out.cut = pieces_.size() != before || touches_;
    Assemble(rings, coordinates, out);
}

void CutLine(const double* lon, const double* lat, std::size_t n, Coordinates coordinates, RegionShape& out)
{
    out.Clear();
    if (n == 0) {
        return;
    }
    if (coordinates == Coordinates::Plane) {
        out.x.assign(lon, lon + n);
        out.y.assign(lat, lat + n);
        out.ringEnd.push_back(n);
        return;
    }
    // Full-width steps split at their middle, as a ring's are.
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (FullWidthStep(lon[k], lat[k], lon[k + 1], lat[k + 1])) {
            std::vector<double> wideLon(lon, lon + k + 1);
            std::vector<double> wideLat(lat, lat + k + 1);
            for (std::size_t j = k; j + 1 < n; ++j) {
                if (FullWidthStep(lon[j], lat[j], lon[j + 1], lat[j + 1])) {
                    wideLon.push_back(0.0);
                    wideLat.push_back(lat[j]);
                }
                wideLon.push_back(lon[j + 1]);
                wideLat.push_back(lat[j + 1]);
            }
            CutLine(wideLon.data(), wideLat.data(), wideLon.size(), coordinates, out);
            return;
        }
    }
    out.x.reserve(n);
    out.y.reserve(n);
    // The window [-180, 180] + 360 w of the first vertex off the meridian.
    std::int64_t turn = 0;
    std::int64_t window = 0;
    bool placed = false;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            turn = StepTurn(lon[k - 1], lat[k - 1], lon[k], lat[k], turn);
        }
        if (!OnCut(lon[k])) {
            window = turn + LongitudeTurns(lon[k]);
            placed = true;
            break;
        }
    }
    turn = 0;
    double lastX = 0.0;
    double lastY = 0.0;
    bool last = false;  // a vertex off the meridian came before
    std::size_t runFrom = 0;
    std::int64_t runLine = 0;
    bool run = false;
    const auto emit = [&](double x, double y) {
        out.x.push_back(x);
        out.y.push_back(y);
    };
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            turn = StepTurn(lon[k - 1], lat[k - 1], lon[k], lat[k], turn);
        }
        if (OnCut(lon[k])) {
            if (!placed) {
                emit(WrapLongitude(lon[k]), lat[k]);
                continue;
            }
            const std::int64_t line = turn + std::llround((lon[k] - 180.0) / 360.0);
            if (!run) {
                run = true;
                runFrom = k;
                runLine = line;
            }
            if (!last) {
                emit(line == window ? 180.0 : -180.0, lat[k]);  // before the first vertex off it
            }
            continue;
        }
        const std::int64_t w = turn + LongitudeTurns(lon[k]);
        const double x = WrapLongitude(lon[k]);
        const double y = lat[k];
        if (last && w != window) {
            const bool east = w > window;
            double yOut = 0.0;
            double yIn = 0.0;
            if (run) {
                yOut = lat[runFrom];
                yIn = lat[k - 1];
            } else {
                const double xHere = east ? x + 360.0 : x - 360.0;
                yOut = lastY + ((east ? 180.0 : -180.0) - lastX) * (y - lastY) / (xHere - lastX);
                yOut = std::clamp(yOut, std::min(lastY, y), std::max(lastY, y));
                yIn = yOut;
            }
            emit(east ? 180.0 : -180.0, yOut);
            out.ringEnd.push_back(out.x.size());
            emit(east ? -180.0 : 180.0, yIn);
            window = w;
        } else if (last && run) {
            for (std::size_t j = runFrom; j < k; ++j) {
                emit(runLine == window ? 180.0 : -180.0, lat[j]);
            }
        }
        run = false;
        emit(x, y);
        lastX = x;
        lastY = y;
        last = true;
    }
    if (last && run) {
        for (std::size_t j = runFrom; j < n; ++j) {
            emit(runLine == window ? 180.0 : -180.0, lat[j]);
        }
    }
    out.ringEnd.push_back(out.x.size());
    out.cut = out.ringEnd.size() > 1;
}

}  // namespace zarn
