#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zarn {

// zarn-batch: the analysis run of the window for scripts, one run per input
// file, with the same result files beside each input, the progress and
// summary lines on standard output and, on failure, the message there and
// the cause on standard error. Returns the process exit code: 0 when every
// file completed, 1 when any failed, 2 for a usage error.
int RunBatchCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace zarn
