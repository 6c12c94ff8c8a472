#pragma once

#include <QStringList>

#include <optional>
#include <string>

namespace zarn {

// The window's command line: `zarn [FILE.bna]`, with --help and --version.

// Answers --help and --version on standard output and ends the program;
// returns for anything else. Needs no window system, so it runs before the
// application object of the window is made.
void AnswerHelpAndVersion(int argc, char* argv[]);

// The file named on the command line (`arguments` as the application holds
// them, the window system's own options taken out), as its full path in the
// local 8-bit encoding, or nothing when none is named. A wrong option or more
// than one file is reported on standard error and ends the program.
std::optional<std::string> FileArgument(const QStringList& arguments);

}  // namespace zarn
