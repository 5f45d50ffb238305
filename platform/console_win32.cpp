#include <windows.h>

#include <string>

#include "platform/console.h"
#include "platform/text.h"

namespace plat {

namespace {

void (*g_interruptHandler)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && g_interruptHandler != nullptr) {
        g_interruptHandler();
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void WriteLine(Stream stream, std::wstring_view text) {
    const HANDLE handle =
        GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD done = 0;
    if (GetConsoleMode(handle, &mode)) {
        // A console shows the wide text whatever its code page.
        std::wstring line(text);
        line += L"\r\n";
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    bytes.push_back('\n');
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

void OnInterrupt(void (*handler)()) {
    g_interruptHandler = handler;
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

}  // namespace plat
