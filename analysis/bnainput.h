#pragma once

#include "bnanumber.h"

#include <cstdint>
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
    bool Refill();
    bool Ensure(std::size_t bytes);
    void SkipBlanks();
    std::string_view NumberToken(const char* what);
    void EndNumberField();
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
