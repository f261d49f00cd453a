#include "core/UserError.h"

#include <fmt/format.h>

namespace qmt {

UserErrorException::UserErrorException(int code, const std::string& message)
    : std::runtime_error(code == 99 ? message : fmt::format("{}: {}", code, message)), m_code(code), m_message(message)
{
}

} // namespace qmt
