#pragma once

#include <stdexcept>
#include <string>

namespace zarn {

// A fault that ends a run through its failure path: an input that cannot be
// opened or ends inside a record, a number that does not fit its type, a
// result file that cannot be written, an arithmetic overflow. The text names
// the cause for people reading a log; the window shows only its own message.
class RunError : public std::runtime_error {
public:
    explicit RunError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace zarn
