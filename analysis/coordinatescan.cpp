#include "coordinatescan.h"

#include "bnainput.h"
#include "bnanumber.h"
#include "bnareader.h"
#include "filepath.h"
#include "runerror.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace zarn {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal with at most this many integer digits is below 1e38, so
// within a float's range: it can never be TooLarge.
constexpr std::size_t MaxSafeIntegerDigits = 38;

// Whether a number's text has an exponent mark (the grammar's only one is
// e or E), a word at a time: a byte is e or E where it is zero after setting
// the case bit and taking away 'e', and the test for a zero byte is exact
// for the word as a whole. Words may overlap; a text of 4 to 7 bytes is
// read as two overlapping halves.
bool HasExponent(std::string_view t)
{
    constexpr std::uint64_t ones = 0x0101010101010101U;
    const auto marks = [](std::uint64_t w) {
        const std::uint64_t v = (w | ones * 0x20) ^ (ones * 'e');
        return (v - ones) & ~v & (ones * 0x80);
    };
    const char* p = t.data();
    const std::size_t n = t.size();
    if (n >= 8) {
        std::uint64_t found = 0;
        std::uint64_t w = 0;
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&w, p + i, 8);
            found |= marks(w);
        }
        std::memcpy(&w, p + n - 8, 8);
        return (found | marks(w)) != 0;
    }
    if (n >= 4) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + n - 4, 4);
        return marks(low | std::uint64_t{high} << 32) != 0;
    }
    bool any = false;
    for (const char c : t) {
        any |= (c | 0x20) == 'e';
    }
    return any;
}

// Nothing, or a point and at least one digit, to the end.
bool IsPlainFraction(std::string_view t)
{
    if (t.empty()) {
        return true;
    }
    if (t[0] != '.' || t.size() == 1) {
        return false;
    }
    return std::all_of(t.begin() + 1, t.end(), IsDigit);
}

}  // namespace

LatitudeText JudgeLatitudeText(std::string_view token)
{
    std::size_t i = 0;
    const std::size_t n = token.size();
    if (i < n && (token[i] == '+' || token[i] == '-')) {
        ++i;
    }
    const std::size_t first = i;
    while (i < n && IsDigit(token[i])) {
        ++i;
    }
    const std::size_t digits = i - first;
    const std::string_view rest = token.substr(i);
    const bool exponent = HasExponent(rest);
    int whole = 0;
    if (digits == 1) {
        whole = token[first] - '0';
    } else if (digits == 2) {
        whole = (token[first] - '0') * 10 + (token[first + 1] - '0');
    }
    // Below 90 whatever follows without an exponent, which a double rounds
    // to 90 at most; a text that is no number reads as 0, within too.
    if (!exponent && digits >= 1 && digits <= 2 && whole <= 89) {
        return LatitudeText::Within;
    }
    // Beyond only for a plain decimal the exact parse reads as written; 90
    // itself is beyond only with a fraction that survives rounding.
    if (exponent || digits == 0 || digits > MaxSafeIntegerDigits || token[first] == '0' || !IsPlainFraction(rest)) {
        return LatitudeText::Unsure;
    }
    return digits >= 3 || whole >= 91 ? LatitudeText::Beyond : LatitudeText::Unsure;
}

namespace {

enum class Field : std::uint8_t { Within, Beyond, TooLarge };

// The exact parse the record loop does, for the texts the fast path leaves:
// its TooLarge is where the record loop would fail.
Field ExactField(std::string_view token)
{
    float value = 0.0F;
    double lat = 0.0;
    if (ParseCoordinate(token, value, lat) == NumberStatus::TooLarge) {
        return Field::TooLarge;
    }
    return std::fabs(lat) <= 90.0 ? Field::Within : Field::Beyond;
}

// A longitude matters where the record loop would fail on it, and beyond
// LongitudeLimit, where the file is no longer in degrees. Up to six whole
// digits without an exponent lie within the limit whatever follows.
Field LongitudeField(std::string_view token)
{
    std::size_t i = !token.empty() && (token[0] == '+' || token[0] == '-') ? 1 : 0;
    const std::size_t first = i;
    while (i < token.size() && IsDigit(token[i])) {
        ++i;
    }
    if (i - first <= 6 && !HasExponent(token)) {
        return Field::Within;
    }
    float value = 0.0F;
    double lon = 0.0;
    if (ParseCoordinate(token, value, lon) == NumberStatus::TooLarge) {
        return Field::TooLarge;
    }
    return std::fabs(lon) <= LongitudeLimit ? Field::Within : Field::Beyond;
}

Field LatitudeField(std::string_view token)
{
    switch (JudgeLatitudeText(token)) {
    case LatitudeText::Within:
        return Field::Within;
    case LatitudeText::Beyond:
        return Field::Beyond;
    case LatitudeText::Unsure:
        break;
    }
    return ExactField(token);
}

enum class Walked : std::uint8_t {
    Plane,    // a latitude beyond +-90, or a longitude beyond LongitudeLimit
    Degrees,  // the end of the file, or where the record loop would fail
    Left,     // no verdict: told to stop, or left before a record
};

// How many pairs of a record are read between looks at a stop flag.
constexpr std::int64_t PairsBetweenStops = 4096;

// The records from the reader's position on, up to the first event in file
// order. `atRecord` is given the offset of each record's first byte (after
// the blanks in front of it) before its header is read; false leaves the
// walk there. `stop`, if given, is also looked at inside long records.
// Failures to read throw, as the reader's do.
template <typename AtRecord>
Walked WalkRecords(BnaInput& in, const std::atomic<bool>* stop, AtRecord&& atRecord)
{
    std::string firstName;
    std::string secondName;
    while (!in.AtEnd()) {
        if (!atRecord(in.BytesRead())) {
            return Walked::Left;
        }
        const std::int32_t n = ReadRecordHeader(in, firstName, secondName);
        const std::int64_t count = n < 0 ? -static_cast<std::int64_t>(n) : n;
        for (std::int64_t k = 0; k < count; ++k) {
            if (stop != nullptr && (k & (PairsBetweenStops - 1)) == PairsBetweenStops - 1 &&
                stop->load(std::memory_order_relaxed)) {
                return Walked::Left;
            }
            // TooLarge ends the readable part, as it ends the run.
            const Field lon = in.ReadCoordinateText(LongitudeField);
            if (lon == Field::TooLarge) {
                return Walked::Degrees;
            }
            const Field lat = in.ReadCoordinateText(LatitudeField);
            if (lat == Field::TooLarge) {
                return Walked::Degrees;
            }
            if (lat == Field::Beyond || lon == Field::Beyond) {
                return Walked::Plane;
            }
        }
    }
    return Walked::Degrees;
}

constexpr auto EveryRecord = [](std::uint64_t) { return true; };

// Files below this size are walked on one thread: a second one would not
// pay for its start.
constexpr std::uint64_t SplitFromBytes = std::uint64_t{4} << 20;

// How far from the middle a record start is looked for.
constexpr std::size_t SplitSearchBytes = std::size_t{1} << 20;

// The first offset at or after `from` (at least 1) whose byte is a double
// quote right after a line end: where a record may start. 0 for none within
// the search's reach, or when the file cannot be read there.
std::uint64_t RecordStartCandidate(const std::string& path, std::uint64_t from)
{
    from = std::max<std::uint64_t>(from, 1);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFile(path, "rb"), &std::fclose);
    if (file == nullptr) {
        return 0;
    }
#ifdef _WIN32
    const int sought = _fseeki64(file.get(), static_cast<long long>(from - 1), SEEK_SET);
#else
    const int sought = fseeko(file.get(), static_cast<off_t>(from - 1), SEEK_SET);
#endif
    if (sought != 0) {
        return 0;
    }
    std::vector<char> bytes(SplitSearchBytes + 1);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    for (std::size_t i = 1; i < got; ++i) {
        if (bytes[i] == '"' && (bytes[i - 1] == '\n' || bytes[i - 1] == '\r')) {
            return from - 1 + i;
        }
    }
    return 0;
}

// The walk from `split` to the end on a second thread, as the one-thread
// walk goes on from there when a record starts at `split`.
class SecondHalf {
public:
    SecondHalf(const std::string& path, std::uint64_t split) : thread_([this, &path, split] { Walk(path, split); })
    {
    }
    ~SecondHalf()
    {
        Stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    SecondHalf(const SecondHalf&) = delete;
    SecondHalf& operator=(const SecondHalf&) = delete;

    // Its result is no longer needed.
    void Stop() { stop_.store(true, std::memory_order_relaxed); }

    // Waits for the walk's end: Left when it could not walk (its own failure
    // to open the file or to get memory is no event of the file's).
    Walked Outcome()
    {
        thread_.join();
        return outcome_;
    }

private:
    void Walk(const std::string& path, std::uint64_t split) noexcept
    {
        try {
            BnaInput in(path, split);
            try {
                outcome_ = WalkRecords(in, &stop_, [this](std::uint64_t) {
                    return !stop_.load(std::memory_order_relaxed);
                });
            } catch (const RunError&) {
                // The one-thread walk fails here too: judged by what was read.
                outcome_ = Walked::Degrees;
            }
        } catch (...) {
            outcome_ = Walked::Left;
        }
    }

    std::atomic<bool> stop_{false};
    Walked outcome_ = Walked::Left;
    std::thread thread_;
};

Coordinates Verdict(Walked walked) { return walked == Walked::Plane ? Coordinates::Plane : Coordinates::Degrees; }

// The walk from the start, with the part from the first record start at or
// after `from` on handed to a second thread (the first thread alone where no
// such start is found, or no thread can be started). The first thread stops
// where a record of its own starts exactly at the split, since from there the
// one-thread walk reads what the second reads: the verdict is the second's.
// One that passes the split without a record starting there (it lay inside
// a record or a quoted name) goes on to the end alone. An event in front of
// the split is the verdict either way. `from` beyond the file: one thread.
Coordinates Scan(const std::string& path, std::optional<std::uint64_t> from)
{
    try {
        BnaInput in(path);
        const std::uint64_t size = in.FileSize();
        if (!from) {
            from = size >= SplitFromBytes ? size / 2 : size;
        }
        const std::uint64_t split = *from < size ? RecordStartCandidate(path, *from) : 0;
        std::optional<SecondHalf> second;
        if (split != 0) {
            try {
                second.emplace(path, split);
            } catch (const std::system_error&) {
                // Without a second thread, as on a small file.
            }
        }
        if (!second) {
            return Verdict(WalkRecords(in, nullptr, EveryRecord));
        }
        bool passed = false;
        const Walked walked = WalkRecords(in, nullptr, [&](std::uint64_t at) {
            if (passed || at < split) {
                return true;
            }
            if (at == split) {
                return false;
            }
            second->Stop();
            passed = true;
            return true;
        });
        if (walked != Walked::Left) {
            return Verdict(walked);
        }
        const Walked theirs = second->Outcome();
        if (theirs != Walked::Left) {
            return Verdict(theirs);
        }
        return Verdict(WalkRecords(in, nullptr, EveryRecord));
    } catch (const std::exception&) {
        // Judged by what was read; the run reports the failure.
    }
    return Coordinates::Degrees;
}

}  // namespace

Coordinates ScanCoordinates(const std::string& path) { return Scan(path, std::nullopt); }

Coordinates ScanCoordinatesSplitFrom(const std::string& path, std::uint64_t from) { return Scan(path, from); }

}  // namespace zarn
