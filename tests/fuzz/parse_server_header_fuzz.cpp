// libFuzzer target: an answer's bytes, as a receive cycle would turn them
// into text, through the SERVER header reading.
#include <cstddef>
#include <cstdint>
#include <string>

#include "finder/discovery/discovery.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > discovery::kReceiveBufferSize) {
        return 0;  // never received: the read drops longer datagrams
    }
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bytes.resize(bytes.find('\0') == std::string::npos ? size : bytes.find('\0'));
    const std::wstring text = plat::FromAnsi(bytes);
    std::wstring name;
    std::wstring detail;
    discovery::ParseServerHeader(text, name, detail);
    // Whatever was taken came from the text.
    if (name.size() > text.size() || detail.size() > text.size()) {
        __builtin_trap();
    }
    return 0;
}
