#include "geodesic.h"

#include "workspace.h"

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

namespace zarn {

namespace {

// Why not PolygonArea per record: an exact inverse geodesic costs about
// 1.7 µs per edge, ten times the whole classic pass. Instead every ring is
// measured on the authalic sphere (the sphere of the ellipsoid's area, onto
// which latitude maps by an equal-area map), where an edge's image is close
// to a great circle. For an edge of length L at latitude phi and azimuth
// alpha, the area between the geodesic's image and the great circle is
// f L^3 sin(2 phi) sin(alpha) / (12 R) to first order; that term is added
// per edge. What remains is below 1.3e-8 L^2 per edge up to L = 100 km
// (measured over all latitudes and azimuths against Geodesic::GenInverse);
// edges longer than LongEdgeKm get the exact figure from GenInverse instead.
// bna-ellipsoid-bench measures the whole against PolygonArea: without the
// first-order term areas stray by up to 7e-6, with it by 2e-8; a threshold of
// 20, 50, 100 or 200 km leaves 6e-9, 2e-8, 4e-8 or 9e-8, and the perimeter
// 2e-8 at 50 km, 7e-8 at 100 km, 2.3e-7 at 200 km. 100 km keeps both well
// inside 1e-5 while sparing files of long edges (chart outlines, coarse
// boundaries) most of GenInverse's cost: on the benchmark's file of 200 MB,
// whose largest rings zig-zag over edges of tens to hundreds of kilometres,
// the ellipsoid figures cost 1.4 x the classic pass at 50 km and 1.15 x at
// 100 km.

constexpr double Flattening = 1.0 / 298.257223563;
constexpr double E2 = Flattening * (2.0 - Flattening);
constexpr double Pi = 3.14159265358979323846;
constexpr double Degree = Pi / 180.0;
constexpr double Wgs84A = 6378137.0;
constexpr double LongEdgeKm = 100.0;

// Per vertex, three functions of x = sin²(latitude), each a power series
// whose terms fall by e² x <= 0.0067: eight terms leave less than 3e-18.
// Polynomials rather than atanh, sqrt and division, because the vertex loop
// waits on whatever chain of operations it holds.
constexpr int SeriesTerms = 8;
constexpr int WorkTerms = 40;  // for deriving the series' coefficients
using Series = std::array<double, SeriesTerms>;

// sin(authalic latitude) / s: q(s) = (1 - e²) (s / (1 - e² s²) + atanh(e s) / e)
// = (1 - e²) sum (2k + 2) / (2k + 1) e^2k s^(2k+1), over q(1).
constexpr std::array<double, WorkTerms> MakeSineSeries()
{
    std::array<double, WorkTerms> c{};
    double qp = 0.0;
    double e2k = 1.0;
    for (int k = 0; k < WorkTerms; ++k) {
        c[static_cast<std::size_t>(k)] = (2.0 * k + 2.0) / (2.0 * k + 1.0) * e2k;
        qp += c[static_cast<std::size_t>(k)];
        e2k *= E2;
    }
    for (double& v : c) {
        v /= qp;
    }
    return c;
}

// cos(authalic latitude) / cos(latitude) = sqrt(G(x)), G = (1 - x S(x)²) / (1 - x)
// with S the sine series; G's coefficients are the tails of 1 - x S², which
// vanishes at x = 1. Its square root by the usual recurrence (G(0) = 1).
constexpr Series MakeCosineSeries()
{
    constexpr std::array<double, WorkTerms> sine = MakeSineSeries();
    std::array<double, WorkTerms> square{};
    for (int i = 0; i < WorkTerms; ++i) {
        for (int j = 0; i + j < WorkTerms; ++j) {
            square[static_cast<std::size_t>(i + j)] += sine[static_cast<std::size_t>(i)] * sine[static_cast<std::size_t>(j)];
        }
    }
    std::array<double, WorkTerms> g{};
    for (int k = 0; k < WorkTerms; ++k) {
        for (int j = k; j < WorkTerms - 1; ++j) {
            g[static_cast<std::size_t>(k)] += square[static_cast<std::size_t>(j)];
        }
    }
    Series h{};
    h[0] = 1.0;
    for (int k = 1; k < SeriesTerms; ++k) {
        double rest = g[static_cast<std::size_t>(k)];
        for (int i = 1; i < k; ++i) {
            rest -= h[static_cast<std::size_t>(i)] * h[static_cast<std::size_t>(k - i)];
        }
        h[static_cast<std::size_t>(k)] = rest / 2.0;
    }
    return h;
}

// 1 / sqrt(1 - e² x) = sum C(2k, k) / 4^k e^2k x^k: the prime vertical radius over a.
constexpr Series MakeRadiusSeries()
{
    Series c{};
    double term = 1.0;
    for (int k = 0; k < SeriesTerms; ++k) {
        c[static_cast<std::size_t>(k)] = term;
        term *= (2.0 * k + 1.0) / (2.0 * k + 2.0) * E2;
    }
    return c;
}

constexpr Series SineSeries = [] {
    constexpr std::array<double, WorkTerms> all = MakeSineSeries();
    Series c{};
    for (int k = 0; k < SeriesTerms; ++k) {
        c[static_cast<std::size_t>(k)] = all[static_cast<std::size_t>(k)];
    }
    return c;
}();
constexpr Series CosineSeries = MakeCosineSeries();
constexpr Series RadiusSeries = MakeRadiusSeries();

// Estrin's scheme: three levels deep instead of seven.
double Evaluate(const Series& c, double x)
{
    const double x2 = x * x;
    const double x4 = x2 * x2;
    return (c[0] + c[1] * x) + x2 * (c[2] + c[3] * x) + x4 * ((c[4] + c[5] * x) + x2 * (c[6] + c[7] * x));
}

const GeographicLib::Geodesic& Wgs84() { return GeographicLib::Geodesic::WGS84(); }

// Radius of the authalic sphere in metres (GeographicLib 2.1's Ellipsoid has
// no such member; the ellipsoid's area gives it), and its square.
const double AuthalicRadius = std::sqrt(Wgs84().EllipsoidArea() / (4.0 * Pi));
const double AuthalicRadius2 = AuthalicRadius * AuthalicRadius;
// The arc over a chord c of a circle of radius R is c (1 + c² / (24 R²) + ...);
// for chords in units of a on the authalic sphere's radius, this factor.
const double ArcFromChord = Wgs84A * Wgs84A / (24.0 * AuthalicRadius2);
// Chord squared on the unit sphere beyond which an edge is measured exactly.
const double LongEdgeChord2 = (LongEdgeKm * 1000.0 / AuthalicRadius) * (LongEdgeKm * 1000.0 / AuthalicRadius);

// Sine and cosine of angles in degrees given one after another. Consecutive
// vertices lie close together, so most steps turn the previous pair by the
// small difference (a few multiplications, where a sine and cosine cost
// tens of nanoseconds); a long step, and every 64th step so that rounding
// cannot build up, starts afresh from Math::sincosd, which reduces any angle
// exactly.
class AngleTurner {
public:
    void Start(double deg)
    {
        GeographicLib::Math::sincosd(deg, sin_, cos_);
        deg_ = deg;
        steps_ = 0;
    }

    void Next(double deg)
    {
        const double t = (deg - deg_) * Degree;
        // Up to 0.5 degrees the series below are exact to well under 1e-20.
        if (++steps_ == 64 || !(std::fabs(t) <= 0.5 * Degree)) {
            Start(deg);
            return;
        }
        const double t2 = t * t;
        const double st = t * (1.0 - t2 * (1.0 / 6.0) * (1.0 - t2 * (1.0 / 20.0) * (1.0 - t2 * (1.0 / 42.0))));
        const double ct = 1.0 - t2 * 0.5 * (1.0 - t2 * (1.0 / 12.0) * (1.0 - t2 * (1.0 / 30.0)));
        const double s = sin_ * ct + cos_ * st;
        cos_ = cos_ * ct - sin_ * st;
        sin_ = s;
        deg_ = deg;
    }

    double Sin() const { return sin_; }
    double Cos() const { return cos_; }

private:
    double sin_ = 0.0;
    double cos_ = 1.0;
    double deg_ = 0.0;
    int steps_ = 0;
};

struct Vec {
    double x;
    double y;
    double z;
};

Vec operator+(const Vec& a, const Vec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double k, const Vec& a) { return {k * a.x, k * a.y, k * a.z}; }

// What one ring adds up to.
struct RingSums {
    double area = 0.0;       // steradians, region to the left, modulo 4 pi
    double perimeter = 0.0;  // metres
    Vec c{0.0, 0.0, 0.0};    // surface integral of the position over the region to the left
    // The sum of sin(authalic latitude) d(longitude) over the edges read
    // straight in longitude and latitude (StraightSouthIntegral).
    double south = 0.0;
    bool crosses = false;
    bool poleEdge = false;  // an edge along a pole line
};

// atan(x) for |x| < 0.01, exact to double precision.
double SmallAtan(double x)
{
    const double x2 = x * x;
    return x * (1.0 + x2 * (-1.0 / 3.0 + x2 * (1.0 / 5.0 + x2 * (-1.0 / 7.0 + x2 * (1.0 / 9.0)))));
}

// A ring is measured in blocks of vertices held as arrays, so that the
// compiler can run the per-vertex and per-edge arithmetic two at a time;
// only the angle turning and the sums go one by one. A block fits the
// level-1 cache.
constexpr std::size_t BlockEdges = 96;

struct Block {
    // Vertices; slot 0 holds the last vertex of the block before.
    std::size_t index[BlockEdges + 1];  // in the record
    double sinLat[BlockEdges + 1];
    double cosLat[BlockEdges + 1];
    double sinLon[BlockEdges + 1];
    double cosLon[BlockEdges + 1];
    double sinBeta[BlockEdges + 1];  // authalic latitude
    double cosBeta[BlockEdges + 1];
    // Unit vector on the authalic sphere less that of the ring's first
    // vertex: small for a small ring, so no digits cancel in the differences.
    double dx[BlockEdges + 1];
    double dy[BlockEdges + 1];
    double dz[BlockEdges + 1];
    double d2[BlockEdges + 1];
    // Position on the ellipsoid in units of a.
    double qx[BlockEdges + 1];
    double qy[BlockEdges + 1];
    double qz[BlockEdges + 1];
    // Edges from slot k to k + 1.
    double area[BlockEdges];  // steradians
    double length[BlockEdges];  // metres
    double crossX[BlockEdges];  // d_k x d_k+1
    double crossY[BlockEdges];
    double crossZ[BlockEdges];
    double bendX[BlockEdges];  // (theta / sin(theta) - 1) p_k x p_k+1
    double bendY[BlockEdges];
    double bendZ[BlockEdges];
    double check[BlockEdges];  // 1 or more, or NaN: the edge needs the general formulas
    double step[BlockEdges];   // the edge's longitude step as the ring rule unwraps it, radians
    double south[BlockEdges];  // its StraightSouthIntegral on the authalic sphere
    signed char parallel[BlockEdges];  // +1, -1: a full-width edge east or west along its parallel
};

// The sines and cosines of slot k are given; the rest of the vertex follows.
inline void PlaceVertex(Block& b, std::size_t k, const Vec& a)
{
    const double s = b.sinLat[k];
    const double x = s * s;
    const double sinBeta = s * Evaluate(SineSeries, x);
    const double cosBeta = b.cosLat[k] * Evaluate(CosineSeries, x);
    const double nu = Evaluate(RadiusSeries, x);
    b.sinBeta[k] = sinBeta;
    b.cosBeta[k] = cosBeta;
    const double dx = cosBeta * b.cosLon[k] - a.x;
    const double dy = cosBeta * b.sinLon[k] - a.y;
    const double dz = sinBeta - a.z;
    b.dx[k] = dx;
    b.dy[k] = dy;
    b.dz[k] = dz;
    b.d2[k] = dx * dx + dy * dy + dz * dz;
    const double nc = nu * b.cosLat[k];
    b.qx[k] = nc * b.cosLon[k];
    b.qy[k] = nc * b.sinLon[k];
    b.qz[k] = nu * (1.0 - E2) * s;
}

// Edge k of a block by the formulas for short edges and small fan triangles.
inline void ShortEdge(Block& b, std::size_t k, const Vec& a)
{
    const std::size_t j = k + 1;
    const double ex = b.dx[j] - b.dx[k];
    const double ey = b.dy[j] - b.dy[k];
    const double ez = b.dz[j] - b.dz[k];
    const double chord2 = ex * ex + ey * ey + ez * ez;
    const double xx = b.dy[k] * b.dz[j] - b.dz[k] * b.dy[j];
    const double xy = b.dz[k] * b.dx[j] - b.dx[k] * b.dz[j];
    const double xz = b.dx[k] * b.dy[j] - b.dy[k] * b.dx[j];
    // The fan triangle (first vertex, k, j): tan(E/2) = det / (1 + a.b +
    // b.c + c.a) (Van Oosterom and Strackee), the dot products written
    // through the small differences d.
    const double det = a.x * xx + a.y * xy + a.z * xz;
    const double den = 4.0 - 0.5 * (b.d2[k] + b.d2[j] + chord2);
    const double t = det / den;
    // p_k x p_j = a x (d_j - d_k) + d_k x d_j; over a closed ring the first
    // part sums to nothing, so the plain sum keeps only the small cross
    // products and the weights theta / sin(theta) - 1 carry the rest.
    const double uz = a.x * ey - a.y * ex + xz;
    const double weight = chord2 * (1.0 / 6.0 + chord2 * (1.0 / 30.0 + chord2 * (1.0 / 140.0)));
    b.crossX[k] = xx;
    b.crossY[k] = xy;
    b.crossZ[k] = xz;
    b.bendX[k] = weight * (a.y * ez - a.z * ey + xx);
    b.bendY[k] = weight * (a.z * ex - a.x * ez + xy);
    b.bendZ[k] = weight * uz;
    b.area[k] = 2.0 * SmallAtan(t) -
                Flattening / 6.0 * (b.sinBeta[k] + b.sinBeta[j]) * 0.5 * chord2 * uz;
    // Arc from chord on a sphere of the mean curvature; the curvature's
    // spread of 1 % changes a 100 km edge by 1e-7 of its length.
    const double fx = b.qx[j] - b.qx[k];
    const double fy = b.qy[j] - b.qy[k];
    const double fz = b.qz[j] - b.qz[k];
    const double c2 = fx * fx + fy * fy + fz * fz;
    b.length[k] = Wgs84A * std::sqrt(c2) * (1.0 + c2 * ArcFromChord);
    // Straight: the edges are short, sin(beta) by the trapezoid rule.
    b.south[k] = b.step[k] * 0.5 * (b.sinBeta[k] + b.sinBeta[j]);
    // Without branches, so that the loop runs two edges at a time: 1 or more
    // (or NaN) when |t| >= 0.01, den <= 0 or the edge is long.
    b.check[k] = std::fabs(t) * 100.0 + chord2 * (1.0 / LongEdgeChord2) + (1.0 - std::copysign(1.0, den));
}

// Edge k of a block where ShortEdge does not hold: a large fan triangle, or
// an edge longer than LongEdgeKm. A long edge gets the exact geodesic: its
// length, and the area between it and the great circle of the fan in place
// of the first-order term.
void GeneralEdge(Block& b, std::size_t k, const Vec& a, const double* lon, const double* lat)
{
    const std::size_t j = k + 1;
    const double ex = b.dx[j] - b.dx[k];
    const double ey = b.dy[j] - b.dy[k];
    const double ez = b.dz[j] - b.dz[k];
    const double chord2 = ex * ex + ey * ey + ez * ez;
    const double det = a.x * b.crossX[k] + a.y * b.crossY[k] + a.z * b.crossZ[k];
    const double den = 4.0 - 0.5 * (b.d2[k] + b.d2[j] + chord2);
    b.south[k] = StraightSouthIntegral(0.0, std::atan2(b.sinBeta[k], b.cosBeta[k]), b.step[k],
                                       std::atan2(b.sinBeta[j], b.cosBeta[j]));
    if (chord2 < LongEdgeChord2) {
        const double uz = a.x * ey - a.y * ex + b.crossZ[k];
        b.area[k] = 2.0 * std::atan2(det, den) - Flattening / 6.0 * (b.sinBeta[k] + b.sinBeta[j]) * 0.5 * chord2 * uz;
        return;
    }
    const Vec u{b.dx[k] + a.x, b.dy[k] + a.y, b.dz[k] + a.z};
    const Vec v{b.dx[j] + a.x, b.dy[j] + a.y, b.dz[j] + a.z};
    const Vec uv{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    const double sine = std::sqrt(uv.x * uv.x + uv.y * uv.y + uv.z * uv.z);
    const double theta = std::atan2(sine, u.x * v.x + u.y * v.y + u.z * v.z);
    const double weight = sine > 0.0 ? theta / sine - 1.0 : 0.0;
    b.bendX[k] = weight * uv.x;
    b.bendY[k] = weight * uv.y;
    b.bendZ[k] = weight * uv.z;
    const std::size_t ik = b.index[k];
    const std::size_t ij = b.index[j];
    double s12 = 0.0;
    double S12 = 0.0;
    double unused = 0.0;
    Wgs84().GenInverse(lat[ik], lon[ik], lat[ij], lon[ij], GeographicLib::Geodesic::DISTANCE | GeographicLib::Geodesic::AREA,
                       s12, unused, unused, unused, unused, unused, S12);
    b.length[k] = s12;
    // The same quadrilateral (edge, meridians, equator) under the great
    // circle: tan(E/2) = tan(dlon/2) (t1 + t2) / (1 + t1 t2), t = tan(beta/2).
    double sinL = 0.0;
    double cosL = 0.0;
    GeographicLib::Math::sincosd(GeographicLib::Math::AngDiff(lon[ik], lon[ij]), sinL, cosL);
    const double t1 = b.sinBeta[k] / (1.0 + b.cosBeta[k]);
    const double t2 = b.sinBeta[j] / (1.0 + b.cosBeta[j]);
    const double sphere = 2.0 * std::atan2(sinL * (t1 + t2), (1.0 + cosL) * (1.0 + t1 * t2));
    // S12 counts clockwise quadrilaterals positive; the ring sums the region to its left.
    b.area[k] = 2.0 * std::atan2(det, den) - (S12 / AuthalicRadius2 - sphere);
}

class RingMeter {
public:
    RingMeter(const double* lon, const double* lat) : lon_(lon), lat_(lat) {}

    RingSums Measure(const Ring& ring)
    {
        RingSums sums;
        Vec cross{0.0, 0.0, 0.0};
        Vec bend{0.0, 0.0, 0.0};
        // The first vertex, which the fan's triangles share.
        latTurner_.Start(lat_[ring.first]);
        lonTurner_.Start(lon_[ring.first]);
        SetTurned(0, ring.first);
        const Vec origin{0.0, 0.0, 0.0};
        PlaceVertex(b_, 0, origin);
        const Vec a{b_.dx[0], b_.dy[0], b_.dz[0]};
        const double firstTurned[4] = {b_.sinLat[0], b_.cosLat[0], b_.sinLon[0], b_.cosLon[0]};
        PlaceVertex(b_, 0, a);
        // Vertices 1 .. size - 1, then the first again for the closing edge.
        std::size_t next = 1;
        while (next <= ring.size) {
            const std::size_t count = std::min(BlockEdges, ring.size + 1 - next);
            for (std::size_t k = 1; k <= count; ++k, ++next) {
                const std::size_t i = next < ring.size ? ring.first + next : ring.first;
                const std::size_t before = b_.index[k - 1];
                double step = lon_[i] - lon_[before];
                b_.parallel[k - 1] = 0;
                if (!(std::fabs(step) <= 180.0)) {
                    sums.crosses = true;
                    if (FullWidthStep(lon_[before], lat_[before], lon_[i], lat_[i])) {
                        b_.parallel[k - 1] = step > 0.0 ? 1 : -1;
                    } else {
                        step = std::remainder(step, 360.0);
                    }
                }
                b_.step[k - 1] = step * Degree;
                if (std::fabs(lat_[i]) == 90.0 && lat_[before] == lat_[i] && step != 0.0) {
                    sums.poleEdge = true;
                }
                if (next < ring.size) {
                    latTurner_.Next(lat_[i]);
                    lonTurner_.Next(lon_[i]);
                    SetTurned(k, i);
                } else {
                    b_.index[k] = i;
                    b_.sinLat[k] = firstTurned[0];
                    b_.cosLat[k] = firstTurned[1];
                    b_.sinLon[k] = firstTurned[2];
                    b_.cosLon[k] = firstTurned[3];
                }
            }
            for (std::size_t k = 1; k <= count; ++k) {
                PlaceVertex(b_, k, a);
            }
            for (std::size_t k = 0; k < count; ++k) {
                ShortEdge(b_, k, a);
            }
            for (std::size_t k = 0; k < count; ++k) {
                if (!(b_.check[k] < 1.0)) {
                    GeneralEdge(b_, k, a, lon_, lat_);
                }
                if (b_.parallel[k] != 0) {
                    AddParallel(k, sums);
                }
                sums.area += b_.area[k];
                sums.south += b_.south[k];
                sums.perimeter += b_.length[k];
                cross.x += b_.crossX[k];
                cross.y += b_.crossY[k];
                cross.z += b_.crossZ[k];
                bend.x += b_.bendX[k];
                bend.y += b_.bendY[k];
                bend.z += b_.bendZ[k];
            }
            CarryLast(count);
        }
        // The parallels' caps were added to c as the edges went.
        sums.c = sums.c + 0.5 * (cross + bend);
        return sums;
    }

private:
    // A full-width edge is its parallel, not the geodesic from a point to
    // itself: the cap north of it joins the region to the left (eastward)
    // or leaves it (westward). On the authalic sphere the cap north of
    // authalic latitude beta has the area 2 pi (1 - sin beta) and the
    // position integral pi cos^2 beta towards the north pole, both the
    // ellipsoid's exactly; the parallel's length is 2 pi N cos(phi).
    void AddParallel(std::size_t k, RingSums& sums) const
    {
        const double sign = b_.parallel[k];
        const double sinBeta = b_.sinBeta[k];
        const double cosBeta = b_.cosBeta[k];
        sums.area += sign * 2.0 * Pi * (1.0 - sinBeta);
        sums.c.z += sign * Pi * cosBeta * cosBeta;
        const double s = b_.sinLat[k];
        sums.perimeter += 2.0 * Pi * Wgs84A * b_.cosLat[k] / std::sqrt(1.0 - E2 * s * s);
    }

    void SetTurned(std::size_t k, std::size_t i)
    {
        b_.index[k] = i;
        b_.sinLat[k] = latTurner_.Sin();
        b_.cosLat[k] = latTurner_.Cos();
        b_.sinLon[k] = lonTurner_.Sin();
        b_.cosLon[k] = lonTurner_.Cos();
    }

    // The block's last vertex becomes slot 0 of the next.
    void CarryLast(std::size_t k)
    {
        b_.index[0] = b_.index[k];
        b_.sinLat[0] = b_.sinLat[k];
        b_.cosLat[0] = b_.cosLat[k];
        b_.sinLon[0] = b_.sinLon[k];
        b_.cosLon[0] = b_.cosLon[k];
        b_.sinBeta[0] = b_.sinBeta[k];
        b_.cosBeta[0] = b_.cosBeta[k];
        b_.dx[0] = b_.dx[k];
        b_.dy[0] = b_.dy[k];
        b_.dz[0] = b_.dz[k];
        b_.d2[0] = b_.d2[k];
        b_.qx[0] = b_.qx[k];
        b_.qy[0] = b_.qy[k];
        b_.qz[0] = b_.qz[k];
    }

    const double* lon_;
    const double* lat_;
    AngleTurner latTurner_;
    AngleTurner lonTurner_;
    Block b_;
};

// How far the areas with geodesic and with straight edges may part before a
// record is flagged long-edges.
constexpr double LongEdgesShare = 0.01;

// The area of a ring's region on the unit authalic sphere with its edges
// straight in longitude and latitude, from the sum of its edges'
// StraightSouthIntegral: J = 2 pi turns + south is the signed area between
// the ring and the south pole; the region to the left has -J, modulo 4 pi
// for a ring round the globe, and an interior to the right J.
double StraightArea(const Ring& ring, double south)
{
    const double j = 2.0 * Pi * static_cast<double>(ring.turns) + south;
    if (ring.turns == 0) {
        return ring.regionLeft ? -j : j;
    }
    double left = std::remainder(-j, 4.0 * Pi);
    if (left < 0.0) {
        left += 4.0 * Pi;
    }
    return ring.regionLeft ? left : 4.0 * Pi - left;
}

bool PlausibleDegrees(const double* lon, const double* lat, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k) {
        if (!(std::fabs(lat[k]) <= 90.0) || !(std::fabs(lon[k]) <= LongitudeLimit)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void EllipsoidMeter::Measure(std::int32_t count, const double* lon, const double* lat, std::size_t n,
                             GeodesicFigures& out, Coordinates coordinates)
{
    out = GeodesicFigures{};
    if (count > MaxPoints) {
        out.flags |= OverPointLimit;
    }
    rings_.clear();
    const bool degrees = coordinates == Coordinates::Degrees && PlausibleDegrees(lon, lat, n);
    if (!degrees) {
        // No figures; what the record holds is still told.
        out.hasFigures = false;
        out.flags |= NotDegrees;
        if (count >= 0 && n >= 3) {
            SplitRings(lon, lat, n, Coordinates::Plane, rings_);
        }
        if (rings_.empty()) {
            out.flags |= NoRing;
        }
        if (rings_.size() > 1) {
            out.flags |= MultiRing;
        }
        for (const Ring& ring : rings_) {
            if (ring.closedHere) {
                out.flags |= ClosedHere;
            }
        }
        return;
    }
    if (count < 0 || n < 3) {
        out.flags |= NoRing;
        return;
    }
    SplitRings(lon, lat, n, Coordinates::Degrees, rings_);
    if (rings_.empty()) {
        out.flags |= NoRing;
        return;
    }
    if (rings_.size() > 1) {
        out.flags |= MultiRing;
    }
    RingMeter meter(lon, lat);
    Vec c{0.0, 0.0, 0.0};
    double area = 0.0;
    // What is left of each ring once its holes are taken away.
    netAreas_.assign(rings_.size(), 0.0);
    for (const Ring& ring : rings_) {
        RingSums sums = meter.Measure(ring);
        // The ring's region is the one SplitRings chose by the ring rule,
        // so that the figures and the exported polygons describe the same
        // region. The region to the left has the reduced sum, modulo 4 pi;
        // the one to the right the rest, and its integral is -c (over the
        // whole sphere the position integrates to nothing). Of the areas
        // modulo 4 pi the one nearest the region's area with straight edges
        // is taken: 4 pi for the whole world, 0 and not 4 pi for a ring
        // without extent.
        const double left = std::remainder(sums.area, 4.0 * Pi);
        const double straight = StraightArea(ring, sums.south);
        double a = ring.regionLeft ? left : -left;
        if (!ring.regionLeft) {
            sums.c = -1.0 * sums.c;
        }
        a = std::fmax(a + 4.0 * Pi * std::nearbyint((straight - a) / (4.0 * Pi)), 0.0);
        if (std::fabs(a - straight) > LongEdgesShare * std::fmax(straight, 1e-12)) {
            out.flags |= LongEdges;
        }
        const double sign = ring.outer < 0 ? 1.0 : -1.0;
        area += sign * a;
        netAreas_[ring.outer < 0 ? static_cast<std::size_t>(&ring - rings_.data())
                                 : static_cast<std::size_t>(ring.outer)] += sign * a;
        c = c + sign * sums.c;
        out.perimeterKm += sums.perimeter / 1000.0;
        if (sums.crosses) {
            out.flags |= CrossesAntimeridian;
        }
        if (ring.turns != 0 || sums.poleEdge) {
            out.flags |= EnclosesPole;
        }
        if (ring.closedHere) {
            out.flags |= ClosedHere;
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (std::fabs(lon[k]) > 180.0) {
            out.flags |= CrossesAntimeridian;
            break;
        }
    }
    // Rings are nested in the plane of degrees; where longitudes wrap the
    // globe many times a hole there can be larger on the ellipsoid than the
    // ring it lies in. It takes that ring's area at most, never more.
    if (std::any_of(netAreas_.begin(), netAreas_.end(), [](double net) { return net < 0.0; })) {
        area = 0.0;
        for (const double net : netAreas_) {
            area += std::fmax(net, 0.0);
        }
    }
    out.areaKm2 = area * AuthalicRadius2 / 1e6;
    const double horizontal = std::sqrt(c.x * c.x + c.y * c.y);
    const double norm = std::sqrt(horizontal * horizontal + c.z * c.z);
    if (norm > 0.0) {
        out.hasCentroid = true;
        // On the axis (a cap or a band round it) the longitude is rounding
        // noise: the meridian of Greenwich, as at the poles themselves.
        out.centroidLon = horizontal > 1e-12 * norm ? WrapLongitude(std::atan2(c.y, c.x) / Degree) : 0.0;
        out.centroidLat =
            GeographicLib::Ellipsoid::WGS84().InverseAuthalicLatitude(std::atan2(c.z, horizontal) / Degree);
    }
}

void AppendFlagWords(std::string& out, std::uint32_t flags)
{
    static constexpr std::array<std::pair<std::uint32_t, const char*>, 10> Words = {{
        {CrossesAntimeridian, "crosses-antimeridian"},
        {EnclosesPole, "encloses-pole"},
        {ClosedHere, "closed-here"},
        {MultiRing, "multi-ring"},
        {OverPointLimit, "over-point-limit"},
        {NotDegrees, "not-degrees"},
        {NoRing, "no-ring"},
        {ClassicDiffers, "classic-differs"},
        {LongEdges, "long-edges"},
        {PolygonRebuilt, "polygon-rebuilt"},
    }};
    bool first = true;
    for (const auto& [bit, word] : Words) {
        if ((flags & bit) != 0) {
            if (!first) {
                out += ';';
            }
            out += word;
            first = false;
        }
    }
}

}  // namespace zarn
