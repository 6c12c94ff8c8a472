// bna-generate: writes a synthetic BNA file of a given size for the
// benchmarks. The same size and seed always give the same bytes, on any
// machine: every draw comes from one SplitMix64 stream and every number is
// formatted by hand (no std distributions, no locale, no printf).
//
// Content, per record:
//   "First name","Second name",N     N closed ring points, one "x,y" per line
// - most rings have 5..60 points, about 1 in 300 has 1000..5000 points and
//   about 1 in 5000 has 20001..30000 points (more than the analysis accepts);
// - names hold spaces, and often commas, inside their quotes;
// - coordinates are longitude, latitude in degrees with six decimals, rings
//   are star-shaped around a centre (so never self-intersecting), run either
//   way round, and end on their first point;
// - every line ends with CR LF.
// The file ends after the first record that reaches the requested size
// (1 MB = 1,000,000 bytes), or with --records after that many records.
// With --points N every ring has N points (the files of many small polygons
// that census blocks and parcels make).

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace zarn::bench {

namespace {

constexpr double TwoPi = 6.283185307179586;

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31U);
    }

    // Uniform in [0, 1), 53 bits.
    double Unit() { return static_cast<double>(Next() >> 11U) * 0x1.0p-53; }

    // Uniform in [lo, hi], both ends included.
    std::int64_t Between(std::int64_t lo, std::int64_t hi)
    {
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1U;
        return lo + static_cast<std::int64_t>(Next() % span);
    }

    double Between(double lo, double hi) { return lo + (hi - lo) * Unit(); }

    template <typename T, std::size_t N>
    const T& Pick(const std::array<T, N>& items)
    {
        return items[static_cast<std::size_t>(Next() % N)];
    }

private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 16> Places = {
    "North Ridge", "Saint Mary", "Old Harbour", "Lake View", "East Field", "Kings Cross",
    "Red Hill",    "Willow Bend", "Port Alder", "Stone Gate", "Mill Creek", "Upper Vale",
    "Green Bay",   "West Moor",  "High Cliff", "Fox Hollow",
};

constexpr std::array<std::string_view, 8> Kinds = {
    "Parcel", "Ward", "District", "Island", "Lot", "Tract", "Zone", "Block",
};

constexpr std::array<std::string_view, 6> Regions = {
    "County", "Province", "Department", "Shire", "Canton", "Prefecture",
};

// Output through a large buffer, written when full.
class Output {
public:
    explicit Output(std::FILE* file) : file_(file) { buf_.reserve(Capacity + 1024); }

    void Put(std::string_view s) { buf_.append(s); }
    void Put(char c) { buf_.push_back(c); }

    void PutInt(std::int64_t v)
    {
        char tmp[24];
        const auto res = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, res.ptr);
    }

    // A value in millionths as "-12.345678".
    void PutMicro(std::int64_t micro)
    {
        if (micro < 0) {
            buf_.push_back('-');
            micro = -micro;
        }
        PutInt(micro / 1000000);
        char frac[7];
        std::int64_t f = micro % 1000000;
        for (int i = 5; i >= 0; --i) {
            frac[i] = static_cast<char>('0' + f % 10);
            f /= 10;
        }
        frac[6] = '\0';
        buf_.push_back('.');
        buf_.append(frac, 6);
    }

    // Writes the buffer out when it has filled up.
    bool Drain(bool all)
    {
        if (buf_.size() < Capacity && !all) {
            return true;
        }
        const bool ok = std::fwrite(buf_.data(), 1, buf_.size(), file_) == buf_.size();
        written_ += buf_.size();
        buf_.clear();
        return ok;
    }

    std::uint64_t Size() const { return written_ + buf_.size(); }

private:
    static constexpr std::size_t Capacity = std::size_t{1} << 20;

    std::FILE* file_;
    std::string buf_;
    std::uint64_t written_ = 0;
};

struct Totals {
    std::uint64_t records = 0;
    std::uint64_t points = 0;
    std::uint64_t medium = 0;  // 1000..5000 points
    std::uint64_t huge = 0;    // over 20000 points
};

void PutNames(Output& out, SplitMix64& rng, std::uint64_t index)
{
    out.Put('"');
    switch (rng.Next() % 4) {
    case 0:  // "Parcel 1234"
        out.Put(rng.Pick(Kinds));
        out.Put(' ');
        out.PutInt(static_cast<std::int64_t>(index));
        break;
    case 1:  // "North Ridge, Lot 17"
        out.Put(rng.Pick(Places));
        out.Put(", ");
        out.Put(rng.Pick(Kinds));
        out.Put(' ');
        out.PutInt(rng.Between(std::int64_t{1}, std::int64_t{999}));
        break;
    default:  // "Ward 12, Saint Mary, part 3"
        out.Put(rng.Pick(Kinds));
        out.Put(' ');
        out.PutInt(rng.Between(std::int64_t{1}, std::int64_t{99}));
        out.Put(", ");
        out.Put(rng.Pick(Places));
        out.Put(", part ");
        out.PutInt(static_cast<std::int64_t>(index % 97));
        break;
    }
    out.Put("\",\"");
    out.Put(rng.Pick(Regions));
    out.Put(' ');
    out.PutInt(rng.Between(std::int64_t{1}, std::int64_t{250}));
    if (rng.Next() % 2 == 0) {
        out.Put(", ");
        out.Put(rng.Pick(Places));
    }
    out.Put("\",");
}

// One record: header and a closed ring of n points (n - 1 distinct ones and
// the first again).
void PutRecord(Output& out, SplitMix64& rng, std::uint64_t index, std::int64_t points, Totals& totals)
{
    std::int64_t n = 0;
    double radius = 0.0;
    const double kind = rng.Unit();
    if (points > 0) {
        n = points;
        radius = rng.Between(0.0005, 0.05);
    } else if (kind < 0.0002) {
        n = rng.Between(std::int64_t{20001}, std::int64_t{30000});
        radius = rng.Between(0.5, 3.0);
        ++totals.huge;
    } else if (kind < 0.0035) {
        n = rng.Between(std::int64_t{1000}, std::int64_t{5000});
        radius = rng.Between(0.05, 1.0);
        ++totals.medium;
    } else {
        n = rng.Between(std::int64_t{5}, std::int64_t{60});
        radius = rng.Between(0.0005, 0.05);
    }
    const double cx = rng.Between(-175.0, 175.0);
    const double cy = rng.Between(-80.0, 80.0);
    const double stretch = 1.0 / std::cos(cy * TwoPi / 360.0);
    const bool clockwise = rng.Next() % 2 == 0;

    PutNames(out, rng, index);
    out.PutInt(n);
    out.Put("\r\n");

    const std::int64_t distinct = n - 1;
    const double step = TwoPi / static_cast<double>(distinct);
    std::int64_t firstX = 0;
    std::int64_t firstY = 0;
    for (std::int64_t k = 0; k < distinct; ++k) {
        const double a = (static_cast<double>(k) + 0.8 * rng.Unit()) * step;
        const double angle = clockwise ? -a : a;
        const double r = radius * rng.Between(0.6, 1.0);
        const auto x = static_cast<std::int64_t>(std::llround((cx + r * stretch * std::cos(angle)) * 1e6));
        const auto y = static_cast<std::int64_t>(std::llround((cy + r * std::sin(angle)) * 1e6));
        if (k == 0) {
            firstX = x;
            firstY = y;
        }
        out.PutMicro(x);
        out.Put(',');
        out.PutMicro(y);
        out.Put("\r\n");
    }
    out.PutMicro(firstX);
    out.Put(',');
    out.PutMicro(firstY);
    out.Put("\r\n");
    ++totals.records;
    totals.points += static_cast<std::uint64_t>(n);
}

int Usage()
{
    std::fputs("Usage: bna-generate (--size-mb N | --records N) [--points N] --seed S OUT.bna\n"
               "Writes a deterministic BNA file of at least N MB (10^6 bytes), or of N records;\n"
               "with --points, every ring has that many points (at least 4).\n",
               stderr);
    return 2;
}

template <typename T>
bool ParseWhole(std::string_view text, T& value)
{
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

int Main(int argc, char* argv[])
{
    double sizeMb = 0.0;
    std::uint64_t records = 0;
    std::int64_t points = 0;
    std::uint64_t seed = 0;
    bool haveSize = false;
    bool haveSeed = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--size-mb" && i + 1 < argc) {
            haveSize = ParseWhole(argv[++i], sizeMb) && sizeMb > 0.0;
            if (!haveSize) {
                return Usage();
            }
        } else if (a == "--records" && i + 1 < argc) {
            haveSize = ParseWhole(argv[++i], records) && records > 0;
            if (!haveSize) {
                return Usage();
            }
        } else if (a == "--points" && i + 1 < argc) {
            if (!ParseWhole(argv[++i], points) || points < 4 || points > 30000) {
                return Usage();
            }
        } else if (a == "--seed" && i + 1 < argc) {
            haveSeed = ParseWhole(argv[++i], seed);
            if (!haveSeed) {
                return Usage();
            }
        } else if (path.empty() && !a.empty() && a[0] != '-') {
            path = a;
        } else {
            return Usage();
        }
    }
    if (!haveSize || !haveSeed || path.empty()) {
        return Usage();
    }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "bna-generate: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    const auto target = static_cast<std::uint64_t>(sizeMb * 1e6);
    SplitMix64 rng(seed);
    Output out(file);
    Totals totals;
    bool ok = true;
    while (ok && (records > 0 ? totals.records < records : out.Size() < target)) {
        PutRecord(out, rng, totals.records + 1, points, totals);
        ok = out.Drain(false);
    }
    ok = ok && out.Drain(true);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "bna-generate: cannot write %s\n", path.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "bna-generate: %s: %llu bytes, %llu records (%llu of 1000..5000 points, %llu over 20000), "
                 "%llu points\n",
                 path.c_str(), static_cast<unsigned long long>(out.Size()),
                 static_cast<unsigned long long>(totals.records), static_cast<unsigned long long>(totals.medium),
                 static_cast<unsigned long long>(totals.huge), static_cast<unsigned long long>(totals.points));
    return 0;
}

}  // namespace

}  // namespace zarn::bench

int main(int argc, char* argv[])
{
    return zarn::bench::Main(argc, argv);
}
