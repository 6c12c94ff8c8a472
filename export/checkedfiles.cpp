#include "checkedfiles.h"

#include <gdal_version.h>
#include <cpl_error.h>
#include <cpl_vsi_virtual.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#ifdef __linux__
#include <fcntl.h>
#endif

namespace zarn {

namespace {

constexpr const char* Prefix = "/vsizarnchecked";

const char* Real(const char* path)
{
    return path + std::strlen(Prefix);
}

class CheckedHandle : public VSIVirtualHandle {
public:
    CheckedHandle(VSIVirtualHandle* inner, std::string path) : inner_(inner), path_(std::move(path)) {}
    ~CheckedHandle() override
    {
        if (inner_) {
            inner_->Close();
        }
    }

    int Seek(vsi_l_offset offset, int whence) override { return inner_->Seek(offset, whence); }
    vsi_l_offset Tell() override { return inner_->Tell(); }
    size_t Read(void* buffer, size_t size, size_t count) override { return inner_->Read(buffer, size, count); }
    int Eof() override { return inner_->Eof(); }
    int Truncate(vsi_l_offset size) override { return Checked(inner_->Truncate(size) == 0) ? 0 : -1; }

    size_t Write(const void* buffer, size_t size, size_t count) override
    {
        const size_t written = inner_->Write(buffer, size, count);
        if (Checked(written == count) && behind_.Due(size * count) && inner_->Flush() == 0) {
            WriteBehind::Start(inner_->GetNativeFileDescriptor());
        }
        return written;
    }
    int Flush() override { return Checked(inner_->Flush() == 0) ? 0 : -1; }
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 10, 0)
    // The error indicator that GDAL 3.10 added to every handle.
    int Error() override { return failed_ || inner_->Error() != 0 ? 1 : 0; }
    void ClearErr() override { inner_->ClearErr(); }
#endif
    int Close() override
    {
        const int result = inner_->Close();
        inner_.reset();
        return Checked(result == 0) ? 0 : -1;
    }

private:
    // Reports the first failure only: after one, every later write fails too.
    bool Checked(bool ok)
    {
        if (!ok && !failed_) {
            failed_ = true;
            CPLError(CE_Failure, CPLE_FileIO, "%s", std::strerror(errno != 0 ? errno : EIO));
        }
        return ok;
    }

    std::unique_ptr<VSIVirtualHandle> inner_;
    std::string path_;
    bool failed_ = false;
    WriteBehind behind_;
};

class CheckedFilesystem : public VSIFilesystemHandler {
public:
    VSIVirtualHandle* Open(const char* path, const char* access, bool setError, CSLConstList options) override
    {
        VSIFilesystemHandler* real = VSIFileManager::GetHandler(Real(path));
        VSIVirtualHandle* inner = real->Open(Real(path), access, setError, options);
        return inner == nullptr ? nullptr : new CheckedHandle(inner, Real(path));
    }
    int Stat(const char* path, VSIStatBufL* stat, int flags) override { return VSIStatExL(Real(path), stat, flags); }
    int Unlink(const char* path) override { return VSIUnlink(Real(path)); }
    int Rename(const char* from, const char* to) override { return VSIRename(Real(from), Real(to)); }
    int Mkdir(const char* path, long mode) override { return VSIMkdir(Real(path), mode); }
    int Rmdir(const char* path) override { return VSIRmdir(Real(path)); }
    char** ReadDirEx(const char* path, int maxFiles) override { return VSIReadDirEx(Real(path), maxFiles); }
};

}  // namespace

void WriteBehind::Start(void* nativeDescriptor)
{
#ifdef __linux__
    if (nativeDescriptor != nullptr) {
        sync_file_range(static_cast<int>(reinterpret_cast<std::intptr_t>(nativeDescriptor)), 0, 0,
                        SYNC_FILE_RANGE_WRITE);
    }
#else
    static_cast<void>(nativeDescriptor);
#endif
}

std::string CheckedPath(const std::string& path)
{
    static std::once_flag once;
    std::call_once(once, [] { VSIFileManager::InstallHandler(std::string(Prefix) + "/", new CheckedFilesystem); });
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return Prefix + (ec ? path : absolute.string());
}

}  // namespace zarn
