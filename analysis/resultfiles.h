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

// A result file written safely: under a temporary name in its own folder
// (TemporaryPath), flushed to the disk and renamed over the file of an
// earlier run only when complete, so that a crash, a kill or a power cut
// while a run writes leaves the earlier file byte for byte. A link is
// followed: the file it leads to is the one replaced. Messages name the
// file's own path, never the temporary one.
class ResultFile {
public:
    ResultFile() = default;
    // Removes what was begun and not yet renamed into place (Discard).
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // <path>.zarn-part: the name a file is written under until complete.
    static std::string TemporaryPath(const std::string& path);

    // Starts writing `path` through a large buffer, removing a temporary file
    // that an interrupted run left under the same name. Throws RunError when
    // `path` is the input file itself (a link to it), a folder, an existing
    // file that may not be written, or when the temporary file cannot be made.
    void Open(const std::string& path, const std::string& inputPath);
    // Writes to `stream` instead (a stream in memory, for the fuzz target);
    // takes it over: Commit and Keep close it, nothing is renamed.
    void Attach(std::FILE* stream, const std::string& name);
    // The stream being written; null unless open.
    std::FILE* Stream() const { return file_; }
    // Writes `bytes` to the stream (WriteResultBytes). Every few megabytes
    // the file's pages already handed to the system are sent on their way
    // to the disk, so that the flush to the disk on Commit waits for little
    // more than the last of them.
    void Write(std::string_view bytes);
    // Flushes and closes the file, then renames it over `path`. Throws
    // RunError when a write failed, the last writes cannot be completed or
    // the rename fails; the file is then left closed under its temporary
    // name for Keep or Discard to settle.
    void Commit();
    // Puts what was written in place as it is, whatever failed before: the
    // records of a failed run stay readable under the file's own name.
    void Keep() noexcept;
    // Removes the temporary file; the earlier file stays as it was.
    void Discard() noexcept;

private:
    std::string path_;  // the file's own name, a link resolved
    std::string shown_;  // the name as given, for messages
    std::string temporary_;
    std::FILE* file_ = nullptr;
    std::size_t unsent_ = 0;  // bytes written since the pages were last sent on
};

// Writes `bytes` to a result file's stream; throws RunError naming `path`
// when it cannot.
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
    // Opens the centroid file, then the area file (see ResultFile::Open).
    // Refuses (RunError) a result path, the map's included, that is the input
    // file itself (a link to it).
    ResultFiles(const OutputNames& names, const std::string& inputPath);
    // Writes to the two streams given instead (see ResultFile::Attach).
    ResultFiles(std::FILE* centroid, std::FILE* area);
    // A run that ends through its failure path keeps the records written so
    // far under the files' own names (ResultFile::Keep).
    ~ResultFiles();
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;

    // |area| rounded to three decimals.
    void WriteAreaRecord(std::string_view firstName, std::string_view secondName, const PolygonRecord& poly);
    // A point record: the first name with " Centroid", the second name, count 1.
    void WriteCentroidRecord(std::string_view firstName, std::string_view secondName,
                             const PolygonRecord& poly);

    // Completes the centroid file, then the area file, each renamed over the
    // earlier one; throws RunError when the last writes fail.
    void Close();
    // Drops both files of this run: the earlier ones stay as they were.
    void Discard() noexcept;

private:
    void Write(ResultFile& file);

    std::string centroidPath_;
    std::string areaPath_;
    ResultFile centroid_;
    ResultFile area_;
    std::string line_;
};

}  // namespace zarn
