#include <errno.h>
#include <iconv.h>

#include "platform/text.h"

namespace plat {

std::wstring FromAnsi(std::string_view bytes) { return FromUtf8(bytes); }

std::wstring FromCp932(std::string_view bytes) {
    // glibc's converter for the Windows code page; wchar_t is UTF-32 here.
    const iconv_t cd = iconv_open("WCHAR_T", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::wstring(bytes.size(), L'\uFFFD');
    }
    std::wstring out;
    std::string in(bytes);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    std::wstring chunk(64, L'\0');
    while (srcLeft > 0) {
        char* dst = reinterpret_cast<char*>(chunk.data());
        std::size_t dstLeft = chunk.size() * sizeof(wchar_t);
        const std::size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(chunk.data(), chunk.size() - dstLeft / sizeof(wchar_t));
        if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
            continue;
        }
        // An undecodable or cut-off byte: one replacement, then go on with
        // the next byte (a valid character after a bad lead byte survives).
        out.push_back(L'\uFFFD');
        ++src;
        --srcLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::wstring FromWindowsCp932(std::string_view bytes) { return FromCp932(bytes); }

}  // namespace plat
