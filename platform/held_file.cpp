#include "platform/held_file.h"

namespace plat {

std::optional<std::string> HeldFile::ReadAll(std::size_t limit) {
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const auto got = Read(buffer, sizeof buffer);
        if (!got) {
            return std::nullopt;
        }
        if (*got == 0) {
            return bytes;
        }
        if (*got > limit - bytes.size()) {
            return std::nullopt;
        }
        bytes.append(buffer, *got);
    }
}

}  // namespace plat
