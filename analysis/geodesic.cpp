#include "geodesic.h"

#include "workspace.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>

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

constexpr double Flattening = 1.0 / 298.257223563;
constexpr double E2 = Flattening * (2.0 - Flattening);
constexpr double Pi = 3.14159265358979323846;
constexpr double Degree = Pi / 180.0;
constexpr double Wgs84A = 6378137.0;
constexpr double LongEdgeKm = 50.0;

// sin(authalic latitude) = s * sum AuthalicSeries[k] s^2k, s = sin(latitude):
// q(s) = (1 - e²) (s / (1 - e² s²) + atanh(e s) / e) expanded in e² s², over
// q(1). Terms fall by e² s² <= 0.0067 each: eleven reach beyond double precision.
constexpr int AuthalicTerms = 11;
constexpr std::array<double, AuthalicTerms> MakeAuthalicSeries()
{
    std::array<double, AuthalicTerms> c{};
    double qp = 0.0;
    double e2k = 1.0;
    for (int k = 0; k < 40; ++k) {
        const double term = (2.0 * k + 2.0) / (2.0 * k + 1.0) * e2k;
        if (k < AuthalicTerms) {
            c[static_cast<std::size_t>(k)] = term;
        }
        qp += term;
        e2k *= E2;
    }
    for (double& v : c) {
        v /= qp;
    }
    return c;
}
constexpr std::array<double, AuthalicTerms> AuthalicSeries = MakeAuthalicSeries();

double AuthalicPolynomial(double s2)
{
    double p = AuthalicSeries[AuthalicTerms - 1];
    for (int k = AuthalicTerms - 2; k >= 0; --k) {
        p = p * s2 + AuthalicSeries[static_cast<std::size_t>(k)];
    }
    return p;
}

// Its derivative with respect to s2.
double AuthalicSlope(double s2)
{
    double p = (AuthalicTerms - 1) * AuthalicSeries[AuthalicTerms - 1];
    for (int k = AuthalicTerms - 2; k >= 1; --k) {
        p = p * s2 + k * AuthalicSeries[static_cast<std::size_t>(k)];
    }
    return p;
}

// Geodetic latitude in degrees from the sine of an authalic latitude, by
// Newton's method on s = sin(latitude).
double GeodeticFromAuthalic(double sinBeta)
{
    double s = sinBeta;
    for (int i = 0; i < 4; ++i) {
        const double s2 = s * s;
        const double f = s * AuthalicPolynomial(s2) - sinBeta;
        s -= f / (AuthalicPolynomial(s2) + 2.0 * s2 * AuthalicSlope(s2));
        s = std::fmin(1.0, std::fmax(-1.0, s));
    }
    return std::atan2(s, std::sqrt((1.0 - s) * (1.0 + s))) / Degree;
}

const GeographicLib::Geodesic& Wgs84() { return GeographicLib::Geodesic::WGS84(); }

// Radius of the authalic sphere in metres, and its square.
const double AuthalicRadius = std::sqrt(Wgs84().EllipsoidArea() / (4.0 * Pi));
const double AuthalicRadius2 = AuthalicRadius * AuthalicRadius;
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
        const double st = t * (1.0 - t2 / 6.0 * (1.0 - t2 / 20.0 * (1.0 - t2 / 42.0)));
        const double ct = 1.0 - t2 / 2.0 * (1.0 - t2 / 12.0 * (1.0 - t2 / 30.0));
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

Vec operator-(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(const Vec& a, const Vec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double k, const Vec& a) { return {k * a.x, k * a.y, k * a.z}; }
double Dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Cross(const Vec& a, const Vec& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// One vertex of a ring.
struct Vertex {
    double lon;    // degrees as written
    double lat;
    double sinBeta;  // authalic latitude
    double cosBeta;
    Vec p;         // unit vector on the authalic sphere
    Vec d;         // p less the ring's first vertex: small for a small ring, so no digits cancel
    double d2;     // |d|²
    Vec q;         // position on the ellipsoid, in units of a
};

// What one ring adds up to.
struct RingSums {
    double area = 0.0;      // steradians, region to the left, modulo 4 pi
    double perimeter = 0.0;  // metres
    Vec c{0.0, 0.0, 0.0};    // surface integral of the position over the region to the left
    double lonTurn = 0.0;   // degrees, steps taken the short way round
    bool crosses = false;
};

// atan(x) for |x| < 0.01, exact to double precision.
double SmallAtan(double x)
{
    const double x2 = x * x;
    return x * (1.0 + x2 * (-1.0 / 3.0 + x2 * (1.0 / 5.0 + x2 * (-1.0 / 7.0 + x2 / 9.0))));
}

class RingMeter {
public:
    RingMeter(const double* lon, const double* lat) : lon_(lon), lat_(lat) {}

    RingSums Measure(const Ring& ring)
    {
        sums_ = RingSums{};
        latTurner_.Start(lat_[ring.first]);
        lonTurner_.Start(lon_[ring.first]);
        Vertex first = Place(ring.first);
        a_ = first.p;
        first.d = {0.0, 0.0, 0.0};
        first.d2 = 0.0;
        Vertex prev = first;
        for (std::size_t k = ring.first + 1; k < ring.first + ring.size; ++k) {
            latTurner_.Next(lat_[k]);
            lonTurner_.Next(lon_[k]);
            const Vertex cur = Place(k);
            Edge(prev, cur);
            prev = cur;
        }
        Edge(prev, first);
        sums_.c = 0.5 * (cX_ + cW_);
        cX_ = {0.0, 0.0, 0.0};
        cW_ = {0.0, 0.0, 0.0};
        return sums_;
    }

private:
    Vertex Place(std::size_t k) const
    {
        Vertex v;
        v.lon = lon_[k];
        v.lat = lat_[k];
        const double s = latTurner_.Sin();
        const double c = latTurner_.Cos();
        const double s2 = s * s;
        v.sinBeta = s * AuthalicPolynomial(s2);
        v.cosBeta = std::sqrt((1.0 - v.sinBeta) * (1.0 + v.sinBeta));
        const double sl = lonTurner_.Sin();
        const double cl = lonTurner_.Cos();
        v.p = {v.cosBeta * cl, v.cosBeta * sl, v.sinBeta};
        v.d = v.p - a_;
        v.d2 = Dot(v.d, v.d);
        const double nu = 1.0 / std::sqrt(1.0 - E2 * s2);
        v.q = {nu * c * cl, nu * c * sl, nu * (1.0 - E2) * s};
        return v;
    }

    void Edge(const Vertex& u, const Vertex& v)
    {
        const Vec dd = v.d - u.d;
        const double chord2 = Dot(dd, dd);
        const Vec x = Cross(u.d, v.d);
        // The fan triangle (first vertex, u, v): tan(E/2) = det / (1 + a.b +
        // b.c + c.a) (Van Oosterom and Strackee), the dot products written
        // through the small differences d.
        const double det = Dot(a_, x);
        const double den = 4.0 - 0.5 * (u.d2 + v.d2 + chord2);
        const double t = det / den;
        sums_.area += den > 0.0 && std::fabs(t) < 0.01 ? 2.0 * SmallAtan(t) : 2.0 * std::atan2(det, den);
        // u x v = a x (d_v - d_u) + d_u x d_v; over a closed ring the first
        // part sums to nothing, so the plain sum keeps only the small cross
        // products and the weights theta / sin(theta) - 1 carry the rest.
        const Vec uv = Cross(a_, dd) + x;
        cX_ = cX_ + x;
        double weight = 0.0;
        if (chord2 < LongEdgeChord2) {
            // theta / sin(theta) in the chord squared.
            weight = chord2 * (1.0 / 6.0 + chord2 * (1.0 / 30.0 + chord2 / 140.0));
            sums_.area -= Flattening / 6.0 * (u.sinBeta + v.sinBeta) * 0.5 * chord2 * uv.z;
            // Arc from chord on a sphere of the mean curvature; the curvature's
            // spread of 1 % changes a 50 km edge by 3e-8 of its length.
            const Vec dq = v.q - u.q;
            const double c2 = Dot(dq, dq);
            sums_.perimeter += Wgs84A * std::sqrt(c2) * (1.0 + c2 * (Wgs84A * Wgs84A) / (24.0 * AuthalicRadius2));
        } else {
            const double sine = std::sqrt(Dot(uv, uv));
            const double theta = std::atan2(sine, Dot(u.p, v.p));
            weight = sine > 0.0 ? theta / sine - 1.0 : 0.0;
            LongEdge(u, v);
        }
        cW_ = cW_ + weight * uv;
        double step = v.lon - u.lon;
        if (!(std::fabs(step) <= 180.0)) {
            sums_.crosses = true;
            step = std::remainder(step, 360.0);
        }
        sums_.lonTurn += step;
    }

    // The exact geodesic: its length, and the area between it and the great
    // circle of the fan in place of the first-order term.
    void LongEdge(const Vertex& u, const Vertex& v)
    {
        double s12 = 0.0;
        double S12 = 0.0;
        double unused = 0.0;
        Wgs84().GenInverse(u.lat, u.lon, v.lat, v.lon, GeographicLib::Geodesic::DISTANCE | GeographicLib::Geodesic::AREA,
                           s12, unused, unused, unused, unused, unused, S12);
        sums_.perimeter += s12;
        // The same quadrilateral (edge, meridians, equator) under the great
        // circle: tan(E/2) = tan(dlon/2) (t1 + t2) / (1 + t1 t2), t = tan(beta/2).
        double sinL = 0.0;
        double cosL = 0.0;
        GeographicLib::Math::sincosd(GeographicLib::Math::AngDiff(u.lon, v.lon), sinL, cosL);
        const double t1 = u.sinBeta / (1.0 + u.cosBeta);
        const double t2 = v.sinBeta / (1.0 + v.cosBeta);
        const double sphere = 2.0 * std::atan2(sinL * (t1 + t2), (1.0 + cosL) * (1.0 + t1 * t2));
        // S12 counts clockwise quadrilaterals positive; the ring sums the region to its left.
        sums_.area -= S12 / AuthalicRadius2 - sphere;
    }

    const double* lon_;
    const double* lat_;
    AngleTurner latTurner_;
    AngleTurner lonTurner_;
    Vec a_{0.0, 0.0, 0.0};
    Vec cX_{0.0, 0.0, 0.0};
    Vec cW_{0.0, 0.0, 0.0};
    RingSums sums_;
};

bool PlausibleDegrees(const double* lon, const double* lat, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k) {
        if (!(std::fabs(lat[k]) <= 90.0) || !std::isfinite(lon[k])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void EllipsoidMeter::Measure(std::int32_t count, const double* lon, const double* lat, std::size_t n,
                             GeodesicFigures& out)
{
    out = GeodesicFigures{};
    if (count > MaxPoints) {
        out.flags |= OverPointLimit;
    }
    rings_.clear();
    if (count < 0 || n < 3 || !PlausibleDegrees(lon, lat, n)) {
        out.flags |= NoRing;
        return;
    }
    SplitRings(lon, lat, n, rings_);
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
    for (const Ring& ring : rings_) {
        RingSums sums = meter.Measure(ring);
        // The smaller of the two regions: the left one when the reduced sum
        // is positive, else the right one, whose integral is -c (over the
        // whole sphere the position integrates to nothing).
        double a = std::remainder(sums.area, 4.0 * Pi);
        if (a < 0.0) {
            a = -a;
            sums.c = -1.0 * sums.c;
        }
        const double sign = ring.outer < 0 ? 1.0 : -1.0;
        area += sign * a;
        c = c + sign * sums.c;
        out.perimeterKm += sums.perimeter / 1000.0;
        if (sums.crosses) {
            out.flags |= CrossesAntimeridian;
        }
        if (std::fabs(sums.lonTurn) > 180.0) {
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
    out.areaKm2 = area * AuthalicRadius2 / 1e6;
    const double horizontal = std::hypot(c.x, c.y);
    const double norm = std::hypot(horizontal, c.z);
    if (norm > 0.0) {
        out.hasCentroid = true;
        out.centroidLon = std::atan2(c.y, c.x) / Degree;
        if (out.centroidLon >= 180.0) {
            out.centroidLon -= 360.0;
        }
        out.centroidLat = GeodeticFromAuthalic(c.z / norm);
    }
}

void AppendFlagWords(std::string& out, std::uint32_t flags)
{
    static constexpr std::array<std::pair<std::uint32_t, const char*>, 7> Words = {{
        {CrossesAntimeridian, "crosses-antimeridian"},
        {EnclosesPole, "encloses-pole"},
        {ClosedHere, "closed-here"},
        {MultiRing, "multi-ring"},
        {OverPointLimit, "over-point-limit"},
        {NoRing, "no-ring"},
        {ClassicDiffers, "classic-differs"},
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
