#include "batchcommand.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    // The map is drawn off screen; no display is needed.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QGuiApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    return zarn::RunBatchCommand({argv + 1, argv + argc}, stdout, stderr);
}
