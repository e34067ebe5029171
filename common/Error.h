#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace velth {

// The one error type the program raises. Its message is shown as it stands by
// the general error report, so it names what failed (a file, a server reply).
class Error : public std::runtime_error
{
public:
    explicit Error(const std::string& message)
        : std::runtime_error(message)
        , m_message(std::make_shared<const std::string>(message))
    { }
    explicit Error(const char* message)
        : Error(std::string(message))
    { }

    // The whole message. what() ends at the first zero byte, and a message
    // quoting a server or a hand-edited file may hold one.
    const std::string& message() const noexcept { return *m_message; }

private:
    std::shared_ptr<const std::string> m_message;
};

// "<what> <path>: <strerror(errno)>" for a failed file system call.
[[noreturn]] void throwFileError(const std::string& what, const std::string& path, int errnum);

} // namespace velth
