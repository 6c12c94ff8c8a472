#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zarn::test {

// A fresh folder under the system's temporary folder, removed with all it
// holds. Runs write their results beside the input, so each test has its own.
class TempFolder {
public:
    TempFolder()
    {
        // create_directory fails on a name that is taken, so each folder is new.
        const std::filesystem::path temp = std::filesystem::temp_directory_path();
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate = temp / ("zarn-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("cannot create a temporary folder");
        }
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(std::string_view name) const { return (path_ / name).string(); }

    // Writes `bytes` unchanged to the file `name`; returns its full path.
    std::string Write(std::string_view name, std::string_view bytes) const
    {
        const std::string file = File(name);
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path path_;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A table case prints as its name in test output.
template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

// The example rings with their well-known figures, and what a run writes for them.
inline constexpr std::string_view ExampleRings =
    "\"First\",\"Second\",5\r\n0,0\r\n1,0\r\n1,1\r\n0,1\r\n0,0\r\n"
    "\"Box\",\"10..12 E\",5\r\n10,50\r\n12,50\r\n12,51\r\n10,51\r\n10,50\r\n"
    "\"Triangle\",\"\",4\r\n0,0\r\n2,0\r\n0,2\r\n0,0\r\n";
inline constexpr std::string_view ExampleAreaFile =
    "\"First\", \"Second\", 12363.829\r\n\"Box\", \"10..12 E\", 15729.324\r\n\"Triangle\", \"\", 24724.835\r\n";
inline constexpr std::string_view ExampleCentroidFile =
    "\"First Centroid\", \"Second\", 1\r\n0.5, 0.5\r\n"
    "\"Box Centroid\", \"10..12 E\", 1\r\n11, 50.5\r\n"
    "\"Triangle Centroid\", \"\", 1\r\n0.667, 0.667\r\n";

}  // namespace zarn::test
