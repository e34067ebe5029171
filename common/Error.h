#pragma once

#include <stdexcept>
#include <string>

namespace velth {

// The one error type the program raises. Its message is shown as it stands by
// the general error report, so it names what failed (a file, a server reply).
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "<what> <path>: <strerror(errno)>" for a failed file system call.
[[noreturn]] void throwFileError(const std::string& what, const std::string& path, int errnum);

} // namespace velth
