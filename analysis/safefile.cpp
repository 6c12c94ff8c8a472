#include "safefile.h"

#include "filepath.h"
#include "runerror.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace zarn {

namespace {

constexpr std::string_view Mark = ".zarn-";
constexpr std::size_t HexDigits = 8;
constexpr int Attempts = 16;
// As many links in a row as Linux follows.
constexpr int MaxLinks = 40;

long ProcessId()
{
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<long>(getpid());
#endif
}

// Eight hex digits of this machine's name, so that a folder shared with
// other machines never loses a file to a process id that is only gone here.
const std::string& HostTag()
{
    static const std::string tag = [] {
        std::string name = "localhost";
#ifndef _WIN32
        char buffer[256] = {};
        if (gethostname(buffer, sizeof buffer - 1) == 0) {
            name = buffer;
        }
#endif
        char hex[HexDigits + 1];
        std::snprintf(hex, sizeof hex, "%08x",
                      static_cast<unsigned>(std::hash<std::string>{}(name) & 0xFFFFFFFFU));
        return std::string(hex);
    }();
    return tag;
}

std::string RandomHex()
{
    static thread_local std::mt19937 random{std::random_device{}()};
    char hex[HexDigits + 1];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
    return hex;
}

bool IsHex(std::string_view text)
{
    return text.size() == HexDigits && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// <folder>/<stem>.zarn-<pid>-<host>-<random>.<ext>: the extension kept, so
// that a driver that goes by it makes the same kind of file.
std::string MakeName(const std::string& path)
{
    const std::filesystem::path native = PathFromUtf8(path);
    const std::string file = Utf8FromPath(native.filename());
    const std::size_t dot = file.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : file.substr(dot);
    const std::string name = stem + std::string(Mark) + std::to_string(ProcessId()) + "-" + HostTag() + "-" +
                             RandomHex() + ext;
    return path.substr(0, path.size() - file.size()) + name;
}

int CreateExclusive(const std::string& name)
{
#ifdef _WIN32
    return _wopen(PathFromUtf8(name).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
#endif
}

bool SyncDescriptor(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return fsync(fd) == 0;
#endif
}

void CloseDescriptor(int fd)
{
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

std::string FolderOf(const std::string& path)
{
    const std::filesystem::path parent = PathFromUtf8(path).parent_path();
    return parent.empty() ? std::string(".") : Utf8FromPath(parent);
}

thread_local FileLedger* ledger = nullptr;

}  // namespace

FileLedger::FileLedger() : outer_(ledger)
{
    ledger = this;
}

FileLedger::~FileLedger()
{
    ledger = outer_;
}

void FileLedger::Note(const std::string& path, bool written)
{
    if (ledger == nullptr) {
        return;
    }
    for (Entry& entry : ledger->entries_) {
        if (entry.path == path) {
            entry.written = written;
            return;
        }
    }
    ledger->entries_.push_back({path, written});
}

std::string FileLedger::Lines() const
{
    std::string lines;
    for (const Entry& entry : entries_) {
        const std::filesystem::path native = PathFromUtf8(entry.path);
        std::error_code ec;
        lines += lines.empty() ? "" : "\n";
        lines += Utf8FromPath(native.filename());
        lines += entry.written                          ? ": written by this run"
                 : std::filesystem::exists(native, ec) ? ": not written; the earlier file stays"
                                                        : ": not written";
    }
    return lines;
}

std::string EarlierStays(const std::string& path, const std::string& reason)
{
    std::error_code ec;
    const bool earlier = std::filesystem::exists(PathFromUtf8(path), ec);
    return "cannot write " + path + ": " + reason + (earlier ? "; the earlier file stays" : "; it is not written");
}

SafeFile::~SafeFile()
{
    Discard();
}

void SafeFile::Open(const std::string& path)
{
    Discard();
    const auto refuse = [&](int error) { return RunError("cannot write " + path + ": " + std::strerror(error)); };
    shown_ = path;
    path_ = path;
    std::error_code ec;
    const std::filesystem::path native = PathFromUtf8(path);
    // Written where a link leads (a link to a link included, and to no file
    // yet), so that the link stays a link.
    std::filesystem::path target = native;
    for (int hops = 0; hops < MaxLinks && std::filesystem::is_symlink(target, ec); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
        if (ec) {
            throw refuse(ec.value());
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    path_ = Utf8FromPath(target);
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
        std::FILE* file = OpenFile(path_, "wb");
        if (file == nullptr) {
            throw refuse(errno);
        }
        stream_ = file;
        fd_ = fileno(file);
        inPlace_ = true;
        return;
    }
#ifdef O_TMPFILE
    // Named on Commit through /proc, which must be there for it.
    if (access("/proc/self/fd", X_OK) == 0) {
        fd_ = open(FolderOf(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            return;
        }
    }
    // A file system without unnamed files: a named one serves.
#endif
    int error = 0;
    for (int attempt = 0; attempt < Attempts && fd_ < 0; ++attempt) {
        const std::string name = MakeName(path_);
        fd_ = CreateExclusive(name);
        error = errno;
        if (fd_ >= 0) {
            temporary_ = name;
        } else if (error != EEXIST) {
            break;
        }
    }
    if (fd_ < 0) {
        throw refuse(error);
    }
}

std::FILE* SafeFile::Stream()
{
    if (stream_ == nullptr && fd_ >= 0) {
#ifdef _WIN32
        stream_ = _fdopen(fd_, "wb");
#else
        stream_ = fdopen(fd_, "wb");
#endif
    }
    return stream_;
}

void SafeFile::Commit()
{
    if (fd_ < 0) {
        return;
    }
    const auto fail = [&](int error) {
        Discard();
        throw RunError(EarlierStays(shown_, std::strerror(error)));
    };
    if (stream_ != nullptr && (std::ferror(stream_) != 0 || std::fflush(stream_) != 0)) {
        fail(errno != 0 ? errno : EIO);
    }
    if (inPlace_) {
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        fd_ = -1;
        if (!closed) {
            throw RunError("cannot write " + shown_ + ": " + std::strerror(errno));
        }
        FileLedger::Note(shown_, true);
        return;
    }
    // On the disk before the rename: else a power cut could leave the new
    // name on a file whose bytes never arrived.
    if (!SyncDescriptor(fd_)) {
        fail(errno);
    }
#ifdef O_TMPFILE
    if (temporary_.empty()) {
        // The unnamed file gets a temporary name of its own first: linking
        // cannot replace the earlier file, renaming can.
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < Attempts && temporary_.empty(); ++attempt) {
            const std::string name = MakeName(path_);
            if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temporary_ = name;
            } else if (errno != EEXIST) {
                fail(errno);
            }
        }
        if (temporary_.empty()) {
            fail(EEXIST);
        }
    }
#endif
    Close();
    std::error_code ec;
    std::filesystem::rename(PathFromUtf8(temporary_), PathFromUtf8(path_), ec);
    if (ec) {
        Discard();
        throw RunError(EarlierStays(shown_, ec.message()));
    }
    temporary_.clear();
    FileLedger::Note(shown_, true);
    // The rename itself on the disk; a failure here leaves the complete
    // file in place, which is all a run can do about it.
    SyncFolderOf(path_);
}

void SafeFile::Close() noexcept
{
    if (stream_ != nullptr) {
        std::fclose(stream_);
    } else if (fd_ >= 0) {
        CloseDescriptor(fd_);
    }
    stream_ = nullptr;
    fd_ = -1;
}

void SafeFile::Discard() noexcept
{
    if (fd_ >= 0 || !temporary_.empty()) {
        try {
            FileLedger::Note(shown_, false);
        } catch (const std::exception&) {
            // Out of memory: the ledger misses one line, the file is dropped all the same.
        }
    }
    Close();
    inPlace_ = false;
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(PathFromUtf8(temporary_), ec);
        temporary_.clear();
    }
}

std::string TemporaryName(const std::string& path)
{
    for (int attempt = 0;; ++attempt) {
        const std::string name = MakeName(path);
        // Made exclusively and removed again: the name was free, and its
        // random part keeps it so until the writer makes it.
        const int fd = CreateExclusive(name);
        if (fd >= 0) {
            CloseDescriptor(fd);
            std::error_code ec;
            std::filesystem::remove(PathFromUtf8(name), ec);
            return name;
        }
        if (errno != EEXIST || attempt + 1 == Attempts) {
            throw RunError("cannot write " + path + ": " + std::strerror(errno));
        }
    }
}

bool IsTemporaryName(const std::string& fileName, long* pid)
{
    for (std::size_t at = fileName.find(Mark); at != std::string::npos; at = fileName.find(Mark, at + 1)) {
        std::string_view rest = std::string_view(fileName).substr(at + Mark.size());
        const std::size_t digits = rest.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string_view::npos || digits > 10 || rest[digits] != '-') {
            continue;
        }
        const long id = std::stol(std::string(rest.substr(0, digits)));
        rest.remove_prefix(digits + 1);
        if (rest.size() < 2 * HexDigits + 1 || !IsHex(rest.substr(0, HexDigits)) || rest[HexDigits] != '-' ||
            !IsHex(rest.substr(HexDigits + 1, HexDigits))) {
            continue;
        }
        rest.remove_prefix(2 * HexDigits + 1);
        if (!rest.empty() && rest.front() != '.') {
            continue;
        }
        if (rest.substr(0, 1) == ".") {
            // An extension, perhaps with SQLite's suffix: ".gpkg-journal".
            rest.remove_prefix(1);
            if (rest.find('.') != std::string_view::npos) {
                continue;
            }
        }
        if (pid != nullptr) {
            *pid = id;
        }
        return std::string_view(fileName).substr(at + Mark.size() + digits + 1, HexDigits) == HostTag();
    }
    return false;
}

bool SyncFile(const std::string& path)
{
#ifdef _WIN32
    const int fd = _wopen(PathFromUtf8(path).c_str(), _O_RDWR | _O_BINARY);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
        return false;
    }
    const bool synced = SyncDescriptor(fd);
    const int error = errno;
    CloseDescriptor(fd);
    errno = error;
    return synced;
}

bool SyncFolderOf(const std::string& path)
{
#ifdef _WIN32
    static_cast<void>(path);
    return true;
#else
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
#endif
}

void RemoveLeftovers(const std::string& folder)
{
#ifdef _WIN32
    static_cast<void>(folder);
#else
    std::error_code ec;
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : PathFromUtf8(folder);
    std::filesystem::directory_iterator entries(where, ec);
    for (; !ec && entries != std::filesystem::directory_iterator(); entries.increment(ec)) {
        const std::string name = Utf8FromPath(entries->path().filename());
        long pid = 0;
        std::error_code kind;
        if (!IsTemporaryName(name, &pid) || pid == ProcessId() || pid <= 0 || entries->is_symlink(kind) ||
            !entries->is_regular_file(kind)) {
            continue;
        }
        // Gone: no process of that id, not one of another user's.
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code removed;
            std::filesystem::remove(entries->path(), removed);
        }
    }
#endif
}

std::FILE* SpoolFile()
{
#ifdef _WIN32
    // tmpfile() of the Windows C library creates its file in the root folder
    // of the current drive, which most users may not write to. "D" deletes
    // the file when it is closed.
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        return nullptr;
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path name = temp / ("zarn-spool-" + std::to_string(random()) + ".tmp");
        // Created only if no file has the name, in the same call, so that no
        // other process's file is taken over; deleted when closed.
        const int fd = _wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                              _S_IREAD | _S_IWRITE);
        if (fd == -1) {
            continue;
        }
        if (std::FILE* f = _fdopen(fd, "w+b")) {
            return f;
        }
        _close(fd);
    }
    return nullptr;
#else
    std::error_code ec;
    const std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec) {
        return nullptr;
    }
    int fd = -1;
#ifdef O_TMPFILE
    fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        std::string name = folder + "/zarn-spool-XXXXXX";
        fd = mkstemp(name.data());
        if (fd < 0) {
            return nullptr;
        }
        unlink(name.c_str());
    }
    std::FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
        close(fd);
    }
    return file;
#endif
}

}  // namespace zarn
