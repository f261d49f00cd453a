#pragma once
// The exception for every error the user must see: its text is "{}: {}" (code, message),
// or the message alone for code 99.

#include <stdexcept>
#include <string>

namespace qmt {

class UserErrorException : public std::runtime_error {
public:
    UserErrorException(int code, const std::string& message);

    int code() const noexcept { return m_code; }
    const std::string& message() const noexcept { return m_message; }

private:
    int m_code;
    std::string m_message;
};

} // namespace qmt
