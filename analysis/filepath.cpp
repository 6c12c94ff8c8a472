#include "filepath.h"

#include <system_error>

namespace zarn {

std::filesystem::path PathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode)
{
#ifdef _WIN32
    // The narrow fopen reads its name in the ANSI code page, not UTF-8.
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(PathFromUtf8(utf8Path).c_str(), wideMode.c_str());
#else
    return std::fopen(utf8Path.c_str(), mode);
#endif
}

bool SameFile(const std::string& utf8A, const std::string& utf8B)
{
    // Not a comparison of stat's st_ino: Windows leaves it 0 for every file.
    std::error_code ec;
    return std::filesystem::equivalent(PathFromUtf8(utf8A), PathFromUtf8(utf8B), ec) && !ec;
}

}  // namespace zarn
