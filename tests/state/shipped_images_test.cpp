// The shipped Windows programs and setup program as files, read without
// running them (whatever build the Windows suites run): 32-bit images of the
// right subsystem, asking for administrator rights in their manifests, the
// programs needing only system DLLs, resolved from System32 only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/state/pe_image.h"
#include "tests/support/process.h"
#include "tests/support/testlan.h"

namespace {

namespace fs = std::filesystem;

struct ShippedImage {
    const char* name;
    const char* path;  // in the source tree
    int subsystem;     // 2: windows, 3: console
    bool systemImportsOnly;
    std::vector<std::string> manifest;  // what the manifest holds
};

class ShippedImages : public ::testing::TestWithParam<ShippedImage> {};

bool IsSystemDll(std::string dll) {
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::vector<std::string> system{
        "kernel32.dll", "msvcrt.dll", "user32.dll",   "advapi32.dll", "shlwapi.dll", "version.dll",
        "shell32.dll",  "ntdll.dll",  "comctl32.dll", "gdi32.dll",    "ws2_32.dll",  "iphlpapi.dll",
        "wininet.dll",  "bcrypt.dll", "ole32.dll",    "oleaut32.dll"};
    return std::find(system.begin(), system.end(), dll) != system.end() ||
           dll.rfind("api-ms-win-", 0) == 0;
}

TEST_P(ShippedImages, ThirtyTwoBitForAdministrators) {
    const ShippedImage& c = GetParam();
    const fs::path exe = fs::path(testsupport::Env("SL_SOURCE_DIR").value_or(".")) / c.path;
    SL_REQUIRE_WORLD(fs::exists(exe), "missing " << exe, "not built: " << exe);
    const auto image = petest::ReadPeImage(testsupport::ReadFile(exe));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->machine, 0x14c);
    EXPECT_EQ(image->magic, 0x10b);
    EXPECT_EQ(image->subsystem, c.subsystem);
    EXPECT_FALSE(image->imports.empty());
    if (c.systemImportsOnly) {
        for (const std::string& dll : image->imports) {
            EXPECT_TRUE(IsSystemDll(dll)) << dll;
        }
        // LOAD_LIBRARY_SEARCH_SYSTEM32: never a DLL from the program's folder.
        EXPECT_EQ(image->dependentLoadFlags, std::optional<std::uint16_t>(0x800));
    }
    ASSERT_TRUE(image->manifest.has_value());
    for (const std::string& entry : c.manifest) {
        EXPECT_NE(image->manifest->find(entry), std::string::npos) << entry;
    }
    const bool forX86 =
        image->manifest->find("processorArchitecture=\"x86\"") != std::string::npos ||
        image->manifest->find("processorArchitecture=\"*\"") != std::string::npos;
    EXPECT_TRUE(forX86) << *image->manifest;
}

const char kWindows10[] = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}";

INSTANTIATE_TEST_SUITE_P(
    Shipped, ShippedImages,
    ::testing::Values(
        ShippedImage{"Finder",
                     "dist/windows/ソルベリオ Windows Tool.exe",
                     2,
                     true,
                     {"level=\"requireAdministrator\"", "PerMonitorV2", kWindows10}},
        ShippedImage{"Updater",
                     "dist/windows/Updater.exe",
                     2,
                     true,
                     {"level=\"requireAdministrator\"", "PerMonitorV2", kWindows10}},
        ShippedImage{
            "Quenlow", "dist/windows/Quenlow.exe", 3, true, {"level=\"requireAdministrator\""}},
        ShippedImage{"SetupProgram",
                     "build/windows/bin/slwintool_set_up.exe",
                     2,
                     false,
                     {"requireAdministrator", "true</dpiAware>", kWindows10}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
