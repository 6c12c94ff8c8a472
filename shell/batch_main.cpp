#include "batchcommand.h"
#include "filepath.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#ifdef _WIN32
// The wide-character entry point: the narrow argv of Windows holds the names
// in the ANSI code page, which cannot spell every folder and file name.
int wmain(int argc, wchar_t* argv[])
{
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) {
            args.push_back(zarn::Utf8FromPath(std::filesystem::path(argv[i])));
        }
    } catch (const std::exception&) {
        // A name with a lone UTF-16 surrogate has no UTF-8 spelling.
        std::fputs("zarn-batch: an argument is not valid Unicode text\n", stderr);
        return 2;
    }
#else
int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
#endif
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    return zarn::RunBatchCommand(args, stdout, stderr);
}
