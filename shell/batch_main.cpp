#include "batchcommand.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // The map is drawn off screen; no display is needed.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt wants a private runtime folder; servers and containers often lack one.
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        const std::string runtime = "/tmp/zarn-runtime-" + std::to_string(getuid());
        mkdir(runtime.c_str(), 0700);
        struct stat st {};
        if (stat(runtime.c_str(), &st) == 0 && st.st_uid == getuid() && (st.st_mode & 077) == 0) {
            qputenv("XDG_RUNTIME_DIR", runtime.c_str());
        }
    }
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    return zarn::RunBatchCommand({argv + 1, argv + argc}, stdout, stderr);
}
