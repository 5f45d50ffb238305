// For in-process suites that carry a program's resources: what the system
// read from that program's manifest (the process's own activation context).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace testsupport {

// An application setting (windowsSettings) of the manifest; empty if none.
inline std::wstring ManifestSetting(const wchar_t* space, const wchar_t* name) {
    wchar_t value[256] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, space, name, value, 256, &written)) {
        return {};
    }
    return value;
}

// The supportedOS entries of the manifest, in their order.
inline std::vector<std::wstring> ManifestSupportedOs() {
    // ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION as current systems fill
    // it in (each element with its MaxVersionTested).
    struct Element {
        GUID id;
        DWORD type;
        ULONGLONG maxVersionTested;
    };
    struct Information {
        DWORD count;
        Element elements[16];
    } information{};
    SIZE_T written = 0;
    std::vector<std::wstring> ids;
    // No handle and no flags: the process's default context, from its manifest.
    if (!QueryActCtxW(0, nullptr, nullptr, CompatibilityInformationInActivationContext,
                      &information, sizeof(information), &written)) {
        return ids;
    }
    for (DWORD i = 0; i < information.count && i < 16; ++i) {
        if (information.elements[i].type != ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS) {
            continue;
        }
        const GUID& g = information.elements[i].id;
        wchar_t text[64] = {};
        swprintf(text, 64, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                 static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                 g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
        ids.push_back(text);
    }
    return ids;
}

// Per-monitor v2 DPI awareness with the system-aware fallback, and
// Windows 7, 8, 8.1 and 10/11 as the supported systems.
inline void ExpectDpiAwareManifestForWindows7To11() {
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        L"PerMonitorV2, System");
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true");
    const std::vector<std::wstring> windows7To11 = {
        L"{35138B9A-5D96-4FBD-8E2D-A2440225F93A}", L"{4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}",
        L"{1F676C76-80E1-4239-95BB-83D0F6D0DA78}", L"{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"};
    EXPECT_EQ(ManifestSupportedOs(), windows7To11);
}

}  // namespace testsupport
