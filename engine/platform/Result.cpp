#include "platform/Result.h"

#include <cstring>

namespace lumo {

Error posixError(int errnoValue, const std::string& context) {
    std::string description = std::strerror(errnoValue);
    if (!context.empty()) description = context + ": " + description;
    return Error{kPosixErrorDomain, errnoValue, std::move(description)};
}

}  // namespace lumo
