#include "resultfiles.h"

#include "filepath.h"
#include "numbertext.h"
#include "runerror.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarn {

namespace {

constexpr std::size_t FileBufferBytes = std::size_t{1} << 18;
// How much a result file writes before its pages are sent to the disk.
constexpr std::size_t SendOnBytes = std::size_t{4} << 20;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

}  // namespace

std::string ResultFile::TemporaryPath(const std::string& path)
{
    return path + ".zarn-part";
}

ResultFile::~ResultFile()
{
    Discard();
}

void ResultFile::Open(const std::string& path, const std::string& inputPath)
{
    Discard();
    if (SameFile(path, inputPath)) {
        throw RunError("the result file " + path + " is the input file itself");
    }
    const auto refuse = [&](int error) { return RunError("cannot write " + path + ": " + std::strerror(error)); };
    shown_ = path;
    path_ = path;
    std::error_code ec;
    const std::filesystem::path native = PathFromUtf8(path);
    if (std::filesystem::is_symlink(native, ec)) {
        // Written where the link leads, so that the link stays a link.
        const std::filesystem::path target = std::filesystem::weakly_canonical(native, ec);
        if (ec) {
            throw refuse(ec.value());
        }
        path_ = Utf8FromPath(target);
    }
    // What an interrupted run left goes, whether or not this one can write.
    const std::string temporary = TemporaryPath(path_);
    std::filesystem::remove(PathFromUtf8(temporary), ec);
    // The checks that opening the file itself for writing made: the file is
    // replaced by renaming, which neither a folder nor a read-only file stops.
    const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(path_), ec);
    if (std::filesystem::is_directory(status)) {
        throw refuse(EISDIR);
    }
#ifndef _WIN32
    if (std::filesystem::exists(status) && access(path_.c_str(), W_OK) != 0) {
        throw refuse(errno);
    }
#endif
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device or a pipe cannot be replaced: it is written as it is.
        file_ = OpenFile(path_, "wb");
        if (file_ == nullptr) {
            throw refuse(errno);
        }
        return;
    }
    file_ = OpenFile(temporary, "wb");
    if (file_ == nullptr) {
        throw refuse(errno);
    }
    temporary_ = temporary;
    std::setvbuf(file_, nullptr, _IOFBF, FileBufferBytes);
}

void ResultFile::Attach(std::FILE* stream, const std::string& name)
{
    Discard();
    shown_ = name;
    path_ = name;
    file_ = stream;
}

void ResultFile::Commit()
{
    if (file_ != nullptr) {
        std::FILE* closing = file_;
        file_ = nullptr;
        bool failed = std::ferror(closing) != 0 || std::fflush(closing) != 0;
        int error = errno;
        // On the disk before the rename: else a power cut could leave the new
        // name on a file whose bytes never arrived.
        if (!failed && !temporary_.empty()) {
#ifdef _WIN32
            failed = _commit(_fileno(closing)) != 0;
#else
            failed = fsync(fileno(closing)) != 0;
#endif
        }
        if (failed) {
            error = errno;
        }
        if (std::fclose(closing) != 0 && !failed) {
            failed = true;
            error = errno;
        }
        if (failed) {
            throw RunError("cannot write " + shown_ + ": " + std::strerror(error));
        }
    }
    if (temporary_.empty()) {
        return;
    }
    std::error_code ec;
    std::filesystem::rename(PathFromUtf8(temporary_), PathFromUtf8(path_), ec);
    if (ec) {
        throw RunError("cannot write " + shown_ + ": " + ec.message());
    }
    temporary_.clear();
}

void ResultFile::Write(std::string_view bytes)
{
    WriteResultBytes(file_, shown_, bytes);
    unsent_ += bytes.size();
    if (unsent_ < SendOnBytes || temporary_.empty()) {
        return;
    }
    unsent_ = 0;
#ifdef __linux__
    // Starts the writing back of what the stream has handed over and returns
    // at once; a failure here shows again in the flush to the disk on Commit.
    if (std::fflush(file_) == 0) {
        sync_file_range(fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
#endif
}

void ResultFile::Keep() noexcept
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::rename(PathFromUtf8(temporary_), PathFromUtf8(path_), ec);
        if (ec) {
            std::filesystem::remove(PathFromUtf8(temporary_), ec);
        }
        temporary_.clear();
    }
}

void ResultFile::Discard() noexcept
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(PathFromUtf8(temporary_), ec);
        temporary_.clear();
    }
}

void WriteResultBytes(std::FILE* file, const std::string& path, std::string_view bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        throw RunError("cannot write " + path + ": " + std::strerror(errno));
    }
}

OutputNames DeriveOutputNames(const std::string& inputPath, const std::string& inputTitle)
{
    // Step back four characters from the end of the title.
    std::size_t cut = inputTitle.size();
    for (int chars = 0; chars < 4; ++chars) {
        if (cut == 0) {
            throw RunError("the file name \"" + inputTitle +
                           "\" is shorter than four characters, so no result name can be formed");
        }
        --cut;
        while (cut > 0 && IsContinuationByte(inputTitle[cut])) {
            --cut;
        }
    }
    if (inputTitle.size() > inputPath.size()) {
        throw RunError("the file name \"" + inputTitle + "\" is not the end of the path " + inputPath);
    }
    OutputNames names;
    names.baseName = inputTitle.substr(0, cut);
    names.outputFolder = inputPath.substr(0, inputPath.size() - inputTitle.size());
    names.centroidPath = names.outputFolder + names.baseName + "Centroid.bna";
    names.areaPath = names.outputFolder + names.baseName + "Area.csv";
    names.mapPath = names.outputFolder + names.baseName + "Map.bmp";
    return names;
}

ResultFiles::ResultFiles(const OutputNames& names, const std::string& inputPath)
    : centroidPath_(names.centroidPath), areaPath_(names.areaPath)
{
    // The map is saved only after the drawing, over whatever its name leads
    // to; a map name that leads to the input stops the run before anything
    // is written.
    if (SameFile(names.mapPath, inputPath)) {
        throw RunError("the map file " + names.mapPath + " is the input file itself");
    }
    centroid_.Open(centroidPath_, inputPath);
    try {
        area_.Open(areaPath_, inputPath);
    } catch (...) {
        // The failure path, as for any later failure: the centroid file as
        // written so far (empty) takes its place.
        centroid_.Keep();
        throw;
    }
}

ResultFiles::ResultFiles(std::FILE* centroid, std::FILE* area) : centroidPath_("centroids"), areaPath_("areas")
{
    centroid_.Attach(centroid, centroidPath_);
    area_.Attach(area, areaPath_);
}

ResultFiles::~ResultFiles()
{
    centroid_.Keep();
    area_.Keep();
}

void ResultFiles::Write(ResultFile& file)
{
    file.Write(line_);
}

void ResultFiles::WriteAreaRecord(std::string_view firstName, std::string_view secondName,
                                  const PolygonRecord& poly)
{
    line_.clear();
    line_ += '"';
    line_ += firstName;
    line_ += "\", \"";
    line_ += secondName;
    line_ += "\", ";
    AppendNumber(line_, std::fabs(poly.area));
    line_ += "\r\n";
    Write(area_);
}

void ResultFiles::WriteCentroidRecord(std::string_view firstName, std::string_view secondName,
                                      const PolygonRecord& poly)
{
    line_.clear();
    line_ += '"';
    line_ += firstName;
    line_ += " Centroid\", \"";
    line_ += secondName;
    line_ += "\", 1\r\n";
    AppendNumber(line_, poly.centroidX);
    line_ += ", ";
    AppendNumber(line_, poly.centroidY);
    line_ += "\r\n";
    Write(centroid_);
}

void ResultFiles::Close()
{
    centroid_.Commit();
    area_.Commit();
}

void ResultFiles::Discard() noexcept
{
    centroid_.Discard();
    area_.Discard();
}

}  // namespace zarn
