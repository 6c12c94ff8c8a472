#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace zarn {

// File names travel through the core as UTF-8 text, on every platform: the
// window hands them over from Qt, the batch command from its arguments (on
// Windows from the wide-character command line). These turn such a name
// into the platform's own file name and back. On POSIX systems the bytes are
// the name, whatever their encoding; on Windows the name becomes UTF-16, so
// folders and files named outside the ANSI code page are reached too.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// std::fopen for a UTF-8 name (on Windows through _wfopen). `mode` is one of
// fopen's modes, ASCII only. Returns nullptr with errno set on failure.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

// Whether both names lead to the same existing file (a link, another
// spelling of the path, a hard link). False when either does not exist.
bool SameFile(const std::string& utf8A, const std::string& utf8B);

}  // namespace zarn
