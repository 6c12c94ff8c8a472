#include "resultfiles.h"

#include "filepath.h"
#include "numbertext.h"
#include "runerror.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace zarn {

namespace {

constexpr std::size_t FileBufferBytes = std::size_t{1} << 18;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

}  // namespace

std::FILE* OpenResultFile(const std::string& path, const std::string& inputPath)
{
    if (SameFile(path, inputPath)) {
        throw RunError("the result file " + path + " is the input file itself");
    }
    std::FILE* f = OpenFile(path, "wb");
    if (f == nullptr) {
        throw RunError("cannot write " + path + ": " + std::strerror(errno));
    }
    std::setvbuf(f, nullptr, _IOFBF, FileBufferBytes);
    return f;
}

void CloseResultFile(std::FILE*& f, const std::string& path)
{
    std::FILE* closing = f;
    f = nullptr;
    const bool failed = std::ferror(closing) != 0;
    if (std::fclose(closing) != 0 || failed) {
        throw RunError("cannot write " + path + ": " + std::strerror(errno));
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
    centroid_ = OpenResultFile(centroidPath_, inputPath);
    try {
        area_ = OpenResultFile(areaPath_, inputPath);
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        std::fclose(centroid_);
        centroid_ = nullptr;
        throw;
    }
}

ResultFiles::~ResultFiles()
{
    if (centroid_ != nullptr) {
        std::fclose(centroid_);
    }
    if (area_ != nullptr) {
        std::fclose(area_);
    }
}

void ResultFiles::Write(std::FILE* file, const std::string& path)
{
    WriteResultBytes(file, path, line_);
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
    Write(area_, areaPath_);
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
    Write(centroid_, centroidPath_);
}

void ResultFiles::Close()
{
    if (centroid_ != nullptr) {
        CloseResultFile(centroid_, centroidPath_);
    }
    if (area_ != nullptr) {
        CloseResultFile(area_, areaPath_);
    }
}

}  // namespace zarn
