#pragma once

#include "safefile.h"
#include "workspace.h"

#include <cstdio>
#include <memory>
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

// A result file written as SafeFile writes every file of a run: under a
// temporary name of its own (none at all on Linux until complete), synced
// to the disk and renamed over the file of an earlier run only when
// complete, so that a crash, a kill or a power cut while a run writes
// leaves the earlier file byte for byte. Messages name the file's own path.
class ResultFile {
public:
    ResultFile() = default;
    // Removes what was begun and not yet put in place (Discard).
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Starts writing `path` through a large buffer. Throws RunError when
    // `path` is the input file itself (a link to it), a folder, an existing
    // file that may not be written, or when the temporary file cannot be made.
    void Open(const std::string& path, const std::string& inputPath);
    // Writes to `stream` instead (a stream in memory, for the fuzz target);
    // takes it over: Commit and Keep close it, nothing is renamed.
    void Attach(std::FILE* stream, const std::string& name);
    // The stream being written; null unless open.
    std::FILE* Stream() const { return file_; }
    // Writes `bytes` to the stream, collected with the rows before it and
    // handed over 64 KiB at a time; throws RunError naming the file when it
    // cannot. Every few megabytes
    // the file's pages already handed to the system are sent on their way
    // to the disk, so that the sync on Commit waits for little more than
    // the last of them. A write that fails marks the file Failed.
    void Write(std::string_view bytes);
    // Hands what is collected and what the buffer holds to the system;
    // throws RunError as Write.
    void Flush();
    // Flushes, syncs and puts the file over `path`. Throws RunError when a
    // write failed or the last writes cannot be completed: the new file is
    // then gone and the earlier one stays.
    void Commit();
    // Puts what was written in place as it is when every write succeeded
    // (the records of a run whose input failed stay readable under the
    // file's own name); otherwise Discard.
    void Keep() noexcept;
    // Removes the new file; the earlier file stays as it was.
    void Discard() noexcept;
    // A write to it failed: what it holds is torn.
    bool Failed() const { return failed_; }

private:
    std::string shown_;  // the name as given, for messages
    // The stream's buffer, given to it: glibc takes a size only with a
    // buffer and otherwise writes a page at a time. Declared before safe_,
    // which closes the stream, so that it outlives it.
    std::unique_ptr<char[]> buffer_;
    SafeFile safe_;
    std::FILE* file_ = nullptr;
    bool attached_ = false;
    bool failed_ = false;
    std::size_t unsent_ = 0;  // bytes written since the pages were last sent on
    std::string collected_;   // rows not yet handed to the stream

    // Hands the collected rows to the stream; throws RunError as Write.
    void Send();
};

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
    // Opens the centroid file, then the area file (see ResultFile::Open),
    // once what killed runs left in the folder is gone (RemoveLeftovers).
    // Refuses (RunError) a result path, the map's included, that is the input
    // file itself (a link to it).
    ResultFiles(const OutputNames& names, const std::string& inputPath);
    // Writes to the two streams given instead (see ResultFile::Attach).
    ResultFiles(std::FILE* centroid, std::FILE* area);
    // A run that ends through its failure path keeps the records written so
    // far under the files' own names (ResultFile::Keep), unless a write to
    // either failed: then both earlier files stay, so that no torn record
    // and no mix of two runs is left.
    ~ResultFiles();
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;

    // |area| rounded to three decimals.
    void WriteAreaRecord(std::string_view firstName, std::string_view secondName, const PolygonRecord& poly);
    // A point record: the first name with " Centroid", the second name, count 1.
    void WriteCentroidRecord(std::string_view firstName, std::string_view secondName,
                             const PolygonRecord& poly);

    // Completes the centroid file, then the area file, each renamed over the
    // earlier one; throws RunError when the last writes fail (the earlier
    // files then stay).
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
