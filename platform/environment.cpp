#include "platform/environment.h"

#include <cstdlib>

namespace plat {

std::optional<long> EnvNumber(const char* name, long low, long high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace plat
