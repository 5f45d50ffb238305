// sl_recorder: a stand-in for a program that the finder starts (the Updater,
// the installer, the browser). Each start appends one line to the file
// "<its own path>.log": "argc=N" (arguments after the program name), the
// raw command line, then each argument, separated by tabs, in UTF-8.
#include <windows.h>

#include <string>

#include "platform/text.h"

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring line = L"argc=" + std::to_wstring(argc - 1) + L"\tcmdline=" + GetCommandLineW();
    for (int i = 1; i < argc; ++i) {
        line += L"\targ=" + std::wstring(argv[i]);
    }
    const std::string bytes = plat::ToUtf8(line) + "\n";
    const std::wstring logPath = std::wstring(self) + L".log";
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
