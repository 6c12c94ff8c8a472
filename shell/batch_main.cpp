#include "batchcommand.h"
#include "filepath.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
// The wide-character entry point: the narrow argv of Windows holds the names
// in the ANSI code page, which cannot spell every folder and file name.
int wmain(int argc, wchar_t* argv[])
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(zarn::Utf8FromPath(std::filesystem::path(argv[i])));
    }
#else
int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
#endif
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    return zarn::RunBatchCommand(args, stdout, stderr);
}
