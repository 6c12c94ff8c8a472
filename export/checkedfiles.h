#pragma once

#include <cpl_vsi.h>

#include <cstddef>
#include <string>

namespace zarn {

// A path under which GDAL writes the file `path` through a layer that checks
// every write and close: a short write or a failed close (a full disk, a
// file size limit) is raised as a GDAL failure (CE_Failure) on the writing
// thread, where the drivers that do not check their own writes (GeoJSON,
// KML, FlatGeobuf) would carry on and leave a truncated file. Reading,
// seeking and the folder operations go straight to the file.
std::string CheckedPath(const std::string& path);

// Sends a file's pages on to the disk while it is written, every few
// megabytes, so that they are on their way when it is closed and renamed: a
// rename over an earlier file would otherwise start all of them then, in
// one go (ext4), while the run waits. A writer of a VSILFILE calls Wrote
// after each write; one of a handle counts its bytes with Due and, when that
// says so, flushes its buffer and calls Start.
class WriteBehind {
public:
    static constexpr std::size_t Bytes = std::size_t{4} << 20;

    bool Due(std::size_t bytes)
    {
        unsent_ += bytes;
        if (unsent_ < Bytes) {
            return false;
        }
        unsent_ = 0;
        return true;
    }
    void Wrote(VSILFILE* file, std::size_t bytes)
    {
        if (Due(bytes) && VSIFFlushL(file) == 0) {
            Start(VSIFGetNativeFileDescriptorL(file));
        }
    }
    // Starts the writing back of what the file (VSIFGetNativeFileDescriptorL;
    // null for none) holds so far and returns at once; a failure shows in
    // the file's own writes and close.
    static void Start(void* nativeDescriptor);

private:
    std::size_t unsent_ = 0;
};

}  // namespace zarn
