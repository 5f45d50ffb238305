// Code page 932 as slfind and the finder read device names, on both
// platforms.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

// Valid text reads the same through the system's converter for 932, which
// the Windows finder uses whatever the system's code page.
TEST(FromCp932, DecodesOrReplacesEachByte) {
    const struct {
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"SimNas-1", L"SimNas-1"},
        {"\x83\x5c\x83\x8b\x83\x78\x83\x8a\x83\x49\x8b\x40", L"ソルベリオ機"},
        {"\xb1\xb2", L"\uFF71\uFF72"},  // half-width katakana
        {"\x87\x40", L"\u2460"},        // a Windows extension: circled one
        {"a\\b", L"a\\b"},              // 0x5C stays a backslash
        {"\x81\x20x", L"\uFFFD x"},     // a lead byte without its trail byte
        {"A\x82", L"A\uFFFD"},          // cut off at the end
        {"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::FromCp932(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(plat::Decode(c.bytes, plat::TextEncoding::Cp932), c.text) << c.bytes;
        if (c.text.find(L'\uFFFD') == std::wstring::npos) {
            EXPECT_EQ(plat::Decode(c.bytes, plat::TextEncoding::WindowsCp932), c.text) << c.bytes;
        }
    }
    EXPECT_EQ(plat::Decode("\xe6\xa9\x9f\xff", plat::TextEncoding::Utf8), L"機\uFFFD");
}

}  // namespace
