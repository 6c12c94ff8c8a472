#include "resultfiles.h"

#include "filepath.h"
#include "numbertext.h"
#include "runerror.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarn {

namespace {

constexpr std::size_t FileBufferBytes = std::size_t{1} << 18;
// How much of the rows a result file collects before it hands them to the
// stream in one call.
constexpr std::size_t CollectBytes = std::size_t{1} << 16;
// How much a result file writes before its pages are sent to the disk.
constexpr std::size_t SendOnBytes = std::size_t{4} << 20;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

}  // namespace

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
    shown_ = path;
    safe_.Open(path);
    file_ = safe_.Stream();
    if (file_ == nullptr) {
        const int error = errno;
        safe_.Discard();
        throw RunError("cannot write " + path + ": " + std::strerror(error));
    }
    if (!buffer_) {
        buffer_ = std::make_unique<char[]>(FileBufferBytes);
    }
    std::setvbuf(file_, buffer_.get(), _IOFBF, FileBufferBytes);
}

void ResultFile::Attach(std::FILE* stream, const std::string& name)
{
    Discard();
    shown_ = name;
    file_ = stream;
    attached_ = true;
}

void ResultFile::Commit()
{
    if (!failed_ && file_ != nullptr) {
        try {
            Send();
        } catch (const RunError&) {
            Discard();
            throw;
        }
    }
    if (failed_) {
        Discard();
        throw RunError("cannot write " + shown_ + ": an earlier write failed; the earlier file stays");
    }
    if (attached_) {
        std::FILE* closing = file_;
        file_ = nullptr;
        attached_ = false;
        const bool failed = std::ferror(closing) != 0 || std::fflush(closing) != 0;
        const int error = errno;
        if (std::fclose(closing) != 0 || failed) {
            throw RunError("cannot write " + shown_ + ": " + std::strerror(failed ? error : errno));
        }
        return;
    }
    file_ = nullptr;
    safe_.Commit();
}

void ResultFile::Write(std::string_view bytes)
{
    if (file_ == nullptr) {
        const int error = errno != 0 ? errno : EIO;
        failed_ = true;
        throw RunError(EarlierStays(shown_, std::strerror(error)));
    }
    collected_.append(bytes);
    if (collected_.size() >= CollectBytes) {
        Send();
    }
}

void ResultFile::Send()
{
    const std::size_t size = collected_.size();
    if (std::fwrite(collected_.data(), 1, size, file_) != size) {
        const int error = errno != 0 ? errno : EIO;
        collected_.clear();
        failed_ = true;
        throw RunError(EarlierStays(shown_, std::strerror(error)));
    }
    collected_.clear();
    unsent_ += size;
    if (unsent_ < SendOnBytes || attached_) {
        return;
    }
    unsent_ = 0;
#ifdef __linux__
    // Starts the writing back of what the stream has handed over and returns
    // at once; a failure here shows again in the sync on Commit. Not flushed
    // first: the stream hands over whole buffers at whole-buffer offsets,
    // and a write that ends inside a page the file has not reached yet has
    // the system clear the rest of that page first.
    sync_file_range(fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

void ResultFile::Flush()
{
    if (file_ == nullptr || attached_ || failed_) {
        return;
    }
    Send();
    if (std::fflush(file_) != 0) {
        const int error = errno;
        failed_ = true;
        throw RunError(EarlierStays(shown_, std::strerror(error)));
    }
}

void ResultFile::Keep() noexcept
{
    if (failed_) {
        Discard();
        return;
    }
    try {
        Commit();
    } catch (const std::exception&) {
        Discard();
    }
}

void ResultFile::Discard() noexcept
{
    if (attached_ && file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = nullptr;
    attached_ = false;
    failed_ = false;
    collected_.clear();
    safe_.Discard();
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
    RemoveLeftovers(names.outputFolder);
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
    if (centroid_.Failed() || area_.Failed()) {
        Discard();
        return;
    }
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
    // Both complete before either is put in place: a disk that fills up at
    // the last bytes leaves both earlier files.
    centroid_.Flush();
    area_.Flush();
    centroid_.Commit();
    area_.Commit();
}

void ResultFiles::Discard() noexcept
{
    centroid_.Discard();
    area_.Discard();
}

}  // namespace zarn
