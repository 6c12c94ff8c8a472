#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zarn {

// How every file of a run is written (the result files, the ellipsoid
// table, the GIS exports, the map), so that a failure harms nothing:
//
// - Under a temporary name of the run's own beside the file,
//   <stem>.zarn-<pid>-<random>.<ext> (TemporaryName), created exclusively,
//   never over a file that is there. On Linux a file written through a
//   descriptor (SafeFile) has no name at all until it is complete
//   (O_TMPFILE), so that a kill leaves nothing.
// - Complete, it is synced to the disk, renamed over the earlier file and
//   the folder is synced: after a crash or a power cut the name holds either
//   the earlier file or the whole new one.
// - A write that fails discards the new file and leaves the earlier one as
//   it was; the message names the file and says so (EarlierStays).
// - A run removes only the names it made. What a killed run left (a name of
//   the pattern whose process is gone) the next run in that folder removes
//   (RemoveLeftovers), whatever it writes.
//
// A link is followed: the file it leads to is replaced and the link stays.
// A device or a pipe cannot be replaced and is written as it is.
class SafeFile {
public:
    SafeFile() = default;
    // Discards what was begun and not committed.
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Begins `path`. Throws RunError ("cannot write <path>: …") for a
    // folder, an existing file that may not be written, or a temporary file
    // that cannot be made.
    void Open(const std::string& path);
    // The open file's descriptor, and a buffered stream over it that the
    // file owns (made on first call).
    int Descriptor() const { return fd_; }
    std::FILE* Stream();
    // Flushes, syncs and puts the file in place. Throws RunError naming the
    // file; it is then discarded and the earlier one stays.
    void Commit();
    // Drops the new file; the earlier one stays as it was. Never throws.
    void Discard() noexcept;
    bool IsOpen() const { return fd_ >= 0; }

private:
    void Close() noexcept;

    std::string shown_;      // as given, for messages
    std::string path_;       // a link resolved
    std::string temporary_;  // its temporary name, when it has one yet
    int fd_ = -1;
    std::FILE* stream_ = nullptr;
    bool inPlace_ = false;  // a device or pipe, written as it is
};

// A fresh temporary name beside `path` for a writer that creates its file
// by name (GDAL): no file of that name exists, and the random part keeps
// other runs off it. Files derived from it by another extension or a
// suffix (a Shapefile's members, SQLite's journal) count as the same run's.
std::string TemporaryName(const std::string& path);
// Whether `fileName` (no folder) is a temporary name of that pattern, and
// the process id it carries.
bool IsTemporaryName(const std::string& fileName, long* pid = nullptr);

// Syncs a complete file, or the folder that holds `path`, to the disk.
// False with errno set when the system refuses.
bool SyncFile(const std::string& path);
bool SyncFolderOf(const std::string& path);

// Removes in `folder` (with its trailing separator, or empty for the current
// one) the temporary files of runs whose process is gone: on this machine,
// named by TemporaryName, by a process id that no process has. Nothing else
// is touched; nothing on Windows, where a process is not looked up.
void RemoveLeftovers(const std::string& folder);

// What became of the files a run set out to write: while a ledger lives on
// a thread, SafeFile and the exports on that thread note each file put in
// place and each one begun and dropped, so that a failed run can name every
// output as written or not.
class FileLedger {
public:
    FileLedger();
    ~FileLedger();
    FileLedger(const FileLedger&) = delete;
    FileLedger& operator=(const FileLedger&) = delete;

    // Notes `path` in the ledger of this thread, if there is one.
    static void Note(const std::string& path, bool written);
    // One line per file noted, in the order first noted, named without its
    // folder: "<name>: written by this run", "<name>: not written; the
    // earlier file stays", or "<name>: not written" where there is none.
    std::string Lines() const;

private:
    struct Entry {
        std::string path;
        bool written;
    };
    std::vector<Entry> entries_;
    FileLedger* outer_;
};

// "cannot write <path>: <reason>; the earlier file stays" (or "; it is not
// written" where there is none), the words a failure of a write gives.
std::string EarlierStays(const std::string& path, const std::string& reason);

// A temporary file of the process's own, with no name, in the folder that
// TMPDIR names (else the system's temporary folder), open for writing and
// reading back: gone on every way out, a crash included. Null when none can
// be made.
std::FILE* SpoolFile();

}  // namespace zarn
