#pragma once

#include "workspace.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace zarn {

// Where a run puts its results: beside the input, named after the input's
// title less its last four characters (".bna" as a rule), with a suffix
// joined directly: regions.bna gives regionsCentroid.bna, regionsArea.csv and
// regionsMap.bmp.
struct OutputNames {
    std::string outputFolder;  // the input's folder with its trailing separator
    std::string baseName;
    std::string centroidPath;
    std::string areaPath;
    std::string mapPath;
};

// Derives the names from the chosen file's full path and its title (the path
// ends with the title). Throws RunError for a title of fewer than four
// characters. Characters are counted as UTF-8 code points where the title is
// UTF-8, else as bytes.
OutputNames DeriveOutputNames(const std::string& inputPath, const std::string& inputTitle);

// Creates or empties a result file for writing through a large buffer.
// Throws RunError when it cannot, or when `path` is the input file itself (a
// link to it).
std::FILE* OpenResultFile(const std::string& path, const std::string& inputPath);

// Closes a result file opened by OpenResultFile and sets `file` to null;
// throws RunError when a write failed or the last writes cannot be completed.
void CloseResultFile(std::FILE*& file, const std::string& path);

// Writes `bytes` to a result file; throws RunError when it cannot.
void WriteResultBytes(std::FILE* file, const std::string& path, std::string_view bytes);

// The centroid BNA file and the area CSV file of one run, written as 8-bit
// text with CR LF line ends and no header line. Names go back byte for byte
// as the reader returned them, between new quotes; numbers are number text
// with a point as decimal separator, whatever the user's locale, so that the
// CSV keeps its fields and the BNA file reads back.
//   area file:     "First", "Second", 12363.829
//   centroid file: "First Centroid", "Second", 1
//                  0.5, 0.5
class ResultFiles {
public:
    // Opens the centroid file, then the area file, creating or emptying each.
    // Refuses (RunError) a result path, the map's included, that is the input
    // file itself (a link to it).
    ResultFiles(const OutputNames& names, const std::string& inputPath);
    ~ResultFiles();
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;

    // |area| rounded to three decimals.
    void WriteAreaRecord(std::string_view firstName, std::string_view secondName, const PolygonRecord& poly);
    // A point record: the first name with " Centroid", the second name, count 1.
    void WriteCentroidRecord(std::string_view firstName, std::string_view secondName,
                             const PolygonRecord& poly);

    // Closes the centroid file, then the area file; throws RunError when the
    // last writes fail. The destructor closes whatever is still open.
    void Close();

private:
    void Write(std::FILE* file, const std::string& path);

    std::string centroidPath_;
    std::string areaPath_;
    std::FILE* centroid_ = nullptr;
    std::FILE* area_ = nullptr;
    std::string line_;
};

}  // namespace zarn
