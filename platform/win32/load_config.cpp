// The program's load configuration: DependentLoadFlags
// LOAD_LIBRARY_SEARCH_SYSTEM32, so that Windows (10 1607 and later) resolves
// the DLLs the program imports from System32 only, never from the program's
// own folder, where a DLL of the same name could have been put.
//
// The linker leaves the PE's load-config directory empty: the structure sits
// in a section of its own, and tools/pe_load_config.py points the directory
// at it after the link (and checks what it points at).
#include <windows.h>

#include <cstddef>

namespace {

#ifdef _WIN64
using LoadConfig = IMAGE_LOAD_CONFIG_DIRECTORY64;
constexpr std::size_t kFlagsOffset = 0x4E;
constexpr std::size_t kSize = 112;
#else
using LoadConfig = IMAGE_LOAD_CONFIG_DIRECTORY32;
constexpr std::size_t kFlagsOffset = 0x36;
constexpr std::size_t kSize = 72;
#endif

// The field after CSDVersion, DependentLoadFlags in current headers.
static_assert(offsetof(LoadConfig, Reserved1) == kFlagsOffset);
static_assert(sizeof(LoadConfig) == kSize);

constexpr LoadConfig SearchSystem32Only() {
    LoadConfig config{};
    config.Size = sizeof(LoadConfig);
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}

}  // namespace

extern "C" {
extern const LoadConfig _load_config_used;
__attribute__((used, section(".lcfg"))) const LoadConfig _load_config_used = SearchSystem32Only();
}
