#include "bnainput.h"

#include "bnanumber.h"
#include "filepath.h"
#include "runerror.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace zarn {

namespace {

constexpr std::size_t BufferBytes = std::size_t{1} << 20;

bool EndsText(char c) { return c == ',' || c == '\r' || c == '\n'; }

std::string Describe(int err) { return std::strerror(err); }

}  // namespace

BnaInput::BnaInput(const std::string& path) : path_(path), buf_(new char[BufferBytes])
{
    Open();
    // UTF-16 text reads as records of junk names without points, which a run
    // would report as complete results; a byte-order mark gives it away.
    end_ = std::fread(buf_.get(), 1, 3, file_);
    if (end_ >= 2 && ((buf_[0] == '\xFF' && buf_[1] == '\xFE') || (buf_[0] == '\xFE' && buf_[1] == '\xFF'))) {
        std::fclose(file_);
        file_ = nullptr;
        throw RunError("cannot read " + path + ": it is UTF-16 text, not 8-bit text");
    }
    // A UTF-8 byte-order mark, as Windows editors write it, is no part of the
    // first name.
    if (end_ == 3 && buf_[0] == '\xEF' && buf_[1] == '\xBB' && buf_[2] == '\xBF') {
        pos_ = 3;
    }
}

BnaInput::BnaInput(const std::string& path, std::uint64_t offset) : path_(path), buf_(new char[BufferBytes])
{
    Open();
#ifdef _WIN32
    const int sought = _fseeki64(file_, static_cast<long long>(offset), SEEK_SET);
#else
    const int sought = fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
#endif
    if (sought != 0) {
        const int err = errno;
        std::fclose(file_);
        file_ = nullptr;
        throw RunError("cannot read " + path + ": " + Describe(err));
    }
    consumedBefore_ = offset;
}

void BnaInput::Open()
{
    const std::string& path = path_;
    // A folder opens for reading on POSIX systems (its reads fail) and not
    // at all on Windows; either way it is named as what it is.
    file_ = OpenFile(path, "rb");
    const int openError = errno;
    const std::filesystem::path name = PathFromUtf8(path);
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
        throw RunError("cannot read " + path + ": it is a folder");
    }
    if (file_ == nullptr) {
        throw RunError("cannot open " + path + ": " + Describe(openError));
    }
    // Only for the progress indicator: a size that cannot be told (a pipe)
    // leaves it at 0.
    const std::uintmax_t size = std::filesystem::file_size(name, ec);
    fileSize_ = ec ? 0 : static_cast<std::uint64_t>(size);
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

BnaInput::~BnaInput()
{
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool BnaInput::Refill()
{
    return Ensure(end_ - pos_ + 1);
}

// Makes at least `bytes` unread bytes available unless the file ends first;
// returns whether any unread byte is available.
bool BnaInput::Ensure(std::size_t bytes)
{
    if (end_ - pos_ >= bytes || eof_) {
        return end_ > pos_;
    }
    if (pos_ > 0) {
        std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
        consumedBefore_ += pos_;
        end_ -= pos_;
        pos_ = 0;
    }
    while (end_ < bytes && !eof_) {
        const std::size_t got = std::fread(buf_.get() + end_, 1, BufferBytes - end_, file_);
        if (got == 0) {
            if (std::ferror(file_) != 0) {
                throw RunError("cannot read " + path_ + ": " + Describe(errno));
            }
            eof_ = true;
        }
        end_ += got;
    }
    return end_ > pos_;
}

void BnaInput::SkipBlanks()
{
    for (;;) {
        const char* b = buf_.get();
        while (pos_ < end_) {
            if (!IsBlank(b[pos_])) {
                return;
            }
            ++pos_;
        }
        if (!Refill()) {
            return;
        }
    }
}

bool BnaInput::AtEnd()
{
    SkipBlanks();
    return pos_ == end_;
}

bool BnaInput::NextIsQuoted()
{
    SkipBlanks();
    return pos_ < end_ && buf_[pos_] == '"';
}

void BnaInput::EndedInside(const char* what) const
{
    throw RunError(path_ + " ends inside record " + std::to_string(record) + " where " + what +
                   " was expected");
}

std::string_view BnaInput::NumberTokenRefilling(const char* what)
{
    SkipBlanks();
    if (!Ensure(Lookahead)) {
        EndedInside(what);
    }
    const char* b = buf_.get();
    const std::size_t start = pos_;
    std::size_t i = pos_;
    while (i < end_ && !EndsNumber(b[i])) {
        ++i;
    }
    pos_ = i;
    if ((i < end_ || eof_) && i - start <= Lookahead) {
        return {b + start, i - start};
    }
    // Longer than the look-ahead, wherever it lies: reduced piece by piece.
    longNumber_.Clear();
    longNumber_.Append({b + start, i - start});
    while (pos_ == end_ && Refill()) {
        b = buf_.get();
        const std::size_t from = pos_;
        while (pos_ < end_ && !EndsNumber(b[pos_])) {
            ++pos_;
        }
        longNumber_.Append({b + from, pos_ - from});
    }
    return longNumber_.Token();
}

void BnaInput::EndNumberFieldRefilling()
{
    for (;;) {
        while (pos_ < end_ && (buf_[pos_] == ' ' || buf_[pos_] == '\t')) {
            ++pos_;
        }
        if (pos_ < end_ || !Refill()) {
            break;
        }
    }
    if (pos_ == end_) {
        return;
    }
    const char c = buf_[pos_];
    if (c == ',' || c == '\n') {
        ++pos_;
    } else if (c == '\r') {
        ++pos_;
        if ((pos_ < end_ || Refill()) && buf_[pos_] == '\n') {
            ++pos_;
        }
    }
}

// Consumes everything up to and including the next separator.
void BnaInput::EndTextField()
{
    for (;;) {
        const char* b = buf_.get();
        while (pos_ < end_ && !EndsText(b[pos_])) {
            ++pos_;
        }
        if (pos_ < end_ || !Refill()) {
            break;
        }
    }
    if (pos_ == end_) {
        return;
    }
    const char c = buf_[pos_++];
    if (c == '\r' && (pos_ < end_ || Refill()) && buf_[pos_] == '\n') {
        ++pos_;
    }
}

void BnaInput::ReadText(std::string& out, const char* what)
{
    SkipBlanks();
    if (pos_ == end_) {
        EndedInside(what);
    }
    out.clear();
    const bool quoted = buf_[pos_] == '"';
    if (quoted) {
        ++pos_;
    }
    for (;;) {
        const char* b = buf_.get();
        const std::size_t start = pos_;
        if (quoted) {
            while (pos_ < end_ && b[pos_] != '"') {
                ++pos_;
            }
        } else {
            while (pos_ < end_ && !EndsText(b[pos_])) {
                ++pos_;
            }
        }
        out.append(b + start, pos_ - start);
        if (out.size() > MaxNameBytes) {
            throw RunError(path_ + ": record " + std::to_string(record) + " has a name longer than " +
                           std::to_string(MaxNameBytes) + " bytes");
        }
        if (pos_ < end_) {
            break;
        }
        if (!Refill()) {
            if (quoted) {
                EndedInside("the closing quote of a name");
            }
            break;
        }
    }
    if (quoted) {
        ++pos_;  // the closing quote
    } else {
        while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
            out.pop_back();
        }
    }
    EndTextField();
}

void BnaInput::CoordinateTooLarge(std::string_view token) const
{
    throw RunError(path_ + ": record " + std::to_string(record) + " has the coordinate " + std::string(token) +
                   ", too large for a 32-bit float");
}

float BnaInput::ReadCoordinate()
{
    const std::string_view token = NumberToken("a coordinate");
    float value = 0.0F;
    if (ParseCoordinate(token, value) == NumberStatus::TooLarge) {
        CoordinateTooLarge(token);
    }
    EndNumberField();
    return value;
}

float BnaInput::ReadCoordinate(double& exact)
{
    const std::string_view token = NumberToken("a coordinate");
    float value = 0.0F;
    if (ParseCoordinate(token, value, exact) == NumberStatus::TooLarge) {
        CoordinateTooLarge(token);
    }
    EndNumberField();
    return value;
}

std::int32_t BnaInput::ReadCount()
{
    const std::string_view token = NumberToken("the point count");
    std::int32_t value = 0;
    if (ParseCount(token, value) == NumberStatus::TooLarge) {
        throw RunError(path_ + ": record " + std::to_string(record) + " has the point count " +
                       std::string(token) + ", outside the 32-bit range");
    }
    EndNumberField();
    return value;
}

}  // namespace zarn
