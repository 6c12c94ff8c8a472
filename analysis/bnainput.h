#pragma once

#include "bnanumber.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace zarn {

// A BNA file opened for reading, streamed forward through a fixed buffer, one
// field at a time. Field rules:
// - spaces, tabs and line ends in front of a field are skipped, so blank lines
//   anywhere are passed over; a line ends at CR LF, a lone CR or a lone LF;
// - a text field in double quotes holds everything up to the next quote,
//   commas and line breaks included; what follows the closing quote up to the
//   next separator (comma or line end) is ignored; an unquoted text field runs
//   to the next separator and loses trailing spaces and tabs;
// - a numeric field ends at a comma, a line end, or a space or tab after its
//   number; blanks after it and then one comma or line end belong to the
//   separator, so several pairs may share a line separated by spaces.
// Memory stays bounded whatever the file holds: a name is limited to
// MaxNameBytes, and a numeric field of any length reads as its value through
// LongNumber.
// Every failure (cannot open, cannot read, UTF-16 text with its byte-order
// mark, ends inside a record, a number too large for its type) throws
// RunError naming the file or the record.
class BnaInput {
public:
    static constexpr std::size_t MaxNameBytes = 1 << 20;

    // `path`: UTF-8 (filepath.h).
    explicit BnaInput(const std::string& path);
    // The same file read from byte `offset` on, as if everything in front of
    // it had been read: no byte-order mark is looked for, and BytesRead
    // counts from the file's start.
    BnaInput(const std::string& path, std::uint64_t offset);
    ~BnaInput();
    BnaInput(const BnaInput&) = delete;
    BnaInput& operator=(const BnaInput&) = delete;

    // True when only blanks remain. The record loop tests it before a header.
    bool AtEnd();

    // True when the next field starts with a double quote.
    bool NextIsQuoted();

    void ReadText(std::string& out, const char* what);
    void SkipText(const char* what) { ReadText(scratch_, what); }
    float ReadCoordinate();
    // The same, also giving the coordinate as written in double precision.
    float ReadCoordinate(double& exact);
    std::int32_t ReadCount();

    // Hands the next coordinate field's text to `judge` and returns what it
    // returns, for a pass that needs less than the value: the same field
    // rules and failures to read as ReadCoordinate, but converting the text
    // (and telling a value too large for a float) is left to `judge`. The
    // view lasts only during the call.
    template <typename Judge>
    auto ReadCoordinateText(Judge&& judge)
    {
        const std::string_view token = NumberToken("a coordinate");
        auto result = judge(token);
        EndNumberField();
        return result;
    }

    std::uint64_t BytesRead() const { return consumedBefore_ + pos_; }
    std::uint64_t FileSize() const { return fileSize_; }

    // Number of the record being read (counted from 1), for error messages.
    std::int64_t record = 0;

private:
    // A numeric field is parsed in place when it fits this look-ahead; a
    // longer one is reduced to a short token of the same value on the way.
    static constexpr std::size_t Lookahead = 4096;

    // Character classes of the field rules, one comparison and a bit test.
    static constexpr std::uint64_t Blanks =
        (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') | (std::uint64_t{1} << '\r') | (std::uint64_t{1} << '\n');
    static constexpr std::uint64_t NumberEnds = Blanks | (std::uint64_t{1} << ',');
    static bool In(std::uint64_t set, char c)
    {
        const auto u = static_cast<unsigned char>(c);
        return u < 64 && ((set >> u) & 1U) != 0;
    }
    static bool IsBlank(char c) { return In(Blanks, c); }
    static bool EndsNumber(char c) { return In(NumberEnds, c); }

    void Open();
    bool Refill();
    bool Ensure(std::size_t bytes);
    void SkipBlanks();
    // A numeric field and its separator: the common case inline, where the
    // field lies in the buffer with more than the look-ahead behind its
    // first byte, and the general code (...Refilling) wherever the buffer's
    // end comes nearer. The inline part stops where the general code's
    // first refill would be, and what it consumed up to then (blanks) the
    // general code would have consumed the same way: both give the same
    // token and leave the same position.
    std::string_view NumberToken(const char* what)
    {
        const char* b = buf_.get();
        std::size_t i = pos_;
        while (i < end_ && IsBlank(b[i])) {
            ++i;
        }
        pos_ = i;
        if (end_ - i <= Lookahead + 8) {
            return NumberTokenRefilling(what);
        }
        const std::size_t start = i;
        // Ends before end_: a field longer than the look-ahead is left to
        // the general code.
        i = FirstNumberEnd(b, start, start + Lookahead + 1);
        if (i - start > Lookahead) {
            return NumberTokenRefilling(what);
        }
        pos_ = i;
        return {b + start, i - start};
    }
    // The first byte in [i, limit) that ends a number, or limit; reads up to
    // 7 bytes beyond limit. Eight bytes at a time where the byte order
    // allows: the ends all lie below '-', and a word's bytes below it are
    // found together (the first exactly, a later one possibly in vain after
    // a borrow, so each is checked).
    static std::size_t FirstNumberEnd(const char* b, std::size_t i, std::size_t limit)
    {
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t ones = 0x0101010101010101U;
            for (; i < limit; i += 8) {
                std::uint64_t w = 0;
                std::memcpy(&w, b + i, 8);
                for (std::uint64_t below = (w - ones * '-') & ~w & (ones * 0x80); below != 0; below &= below - 1) {
                    const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(below) / 8);
                    if (EndsNumber(b[at])) {
                        return at < limit ? at : limit;
                    }
                }
            }
            return limit;
        } else {
            while (i < limit && !EndsNumber(b[i])) {
                ++i;
            }
            return i;
        }
    }
    void EndNumberField()
    {
        const char* b = buf_.get();
        std::size_t i = pos_;
        while (i < end_ && (b[i] == ' ' || b[i] == '\t')) {
            ++i;
        }
        pos_ = i;
        // A CR's LF may lie beyond end_.
        if (end_ - i < 2) {
            EndNumberFieldRefilling();
            return;
        }
        const char c = b[i];
        if (c == ',' || c == '\n') {
            pos_ = i + 1;
        } else if (c == '\r') {
            pos_ = b[i + 1] == '\n' ? i + 2 : i + 1;
        }
    }
    std::string_view NumberTokenRefilling(const char* what);
    void EndNumberFieldRefilling();
    void EndTextField();
    [[noreturn]] void EndedInside(const char* what) const;
    [[noreturn]] void CoordinateTooLarge(std::string_view token) const;

    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    std::uint64_t consumedBefore_ = 0;
    std::uint64_t fileSize_ = 0;
    std::string scratch_;
    LongNumber longNumber_;
};

}  // namespace zarn
