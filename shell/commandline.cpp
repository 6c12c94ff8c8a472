#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace zarn {

namespace {

void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Computes the area and centroid of every polygon of a BNA file, writes them beside it "
                       "and draws a map; zarn-batch does the same without a window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.bna"),
                                 QStringLiteral("The file to analyse at once, as if chosen with \"Select input bna\"."),
                                 QStringLiteral("[FILE.bna]"));
}

}  // namespace

void AnswerHelpAndVersion(int argc, char* argv[])
{
    // The parser's help text needs an application object; this one needs no
    // display and is gone before the window's is made.
    const QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        return;  // FileArgument reports it, once the window system's options are taken out
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
}

std::optional<std::string> FileArgument(const QStringList& arguments)
{
    QCommandLineParser parser;
    Describe(parser);
    parser.process(arguments);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "%s: one FILE.bna at most\n", qPrintable(QCoreApplication::applicationName()));
        std::exit(1);
    }
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(QFileInfo(files.front()).absoluteFilePath()).toStdString();
}

}  // namespace zarn
