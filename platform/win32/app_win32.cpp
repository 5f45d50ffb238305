#include "platform/paths.h"
#include "platform/win32/app.h"

namespace win {

namespace {
CApplication* g_pApp = nullptr;
}

CApplication::CApplication() { g_pApp = this; }

CApplication::~CApplication() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

CApplication* CApplication::Current() { return g_pApp; }

int CApplication::Run(HINSTANCE instance) {
    m_hInstance = instance;
    m_strAppName = FileTitleOf(plat::ModuleFilePath());
    if (!StartInstance()) {
        return m_nExitCode;
    }
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : m_nExitCode;
}

int CApplication::ShowMessageBox(const std::wstring& text, UINT type) const {
    HWND owner = (m_hMainWnd != nullptr && IsWindow(m_hMainWnd)) ? m_hMainWnd : nullptr;
    return MessageBoxW(owner, text.c_str(), m_strAppName.c_str(), type);
}

std::wstring LoadText(UINT id) {
    // With a zero length LoadStringW hands out a pointer into the resource
    // itself, so no text is ever cut.
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        return {};
    }
    return std::wstring(text, static_cast<std::size_t>(length));
}

std::wstring FileTitleOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) {
        name.resize(dot);
    }
    return name;
}

}  // namespace win
