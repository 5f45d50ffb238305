// sl_uictl: drives another program's windows for the process tests.
//
//   sl_uictl wait TITLE [MS]         until a top-level window has this title
//   sl_uictl gone TITLE [MS]         until none has
//   sl_uictl count TITLE             how many top-level windows have it
//   sl_uictl rows TITLE              the device list: "name<TAB>address" lines
//   sl_uictl button TITLE ID         "caption<TAB>enabled(0|1)"
//   sl_uictl click TITLE ID          presses a button
//   sl_uictl select TITLE ROW        selects one row of the device list
//   sl_uictl close TITLE             asks the window to close (WM_CLOSE)
//   sl_uictl command TITLE ID        posts the command ID (a menu item) to the window
//   sl_uictl minimize TITLE          minimises the window
//   sl_uictl iconic TITLE            "1" while the window is minimised, else "0"
//   sl_uictl text TITLE ID           the text of a control (ID 0: of the window)
//   sl_uictl settext TITLE ID TEXT   sets a control's text
//   sl_uictl lbitems TITLE ID        a list box's items, one a line
//   sl_uictl geometry TITLE          "visible=V window=WxH client=WxH columns=A,B"
//                                    in device pixels (the device list's columns)
//   sl_uictl answer TITLE yes|no|ok  presses a message box's button
//   sl_uictl msgtext TITLE [MS]      the text of a message box
//   sl_uictl foreground              the title of the foreground window
//   sl_uictl hold TITLE MS           shows a window with this title for MS
//   sl_uictl desktop [MS]            keeps the prefix's desktop open for MS
//                                    (default 4 h); prints "holding" once it is
//   sl_uictl ping TITLE MS           sends the window WM_NULL with a time-out of
//                                    MS; prints the milliseconds it took to answer
//   sl_uictl endsession TITLE        sends WM_QUERYENDSESSION, then WM_ENDSESSION
//                                    (the session ends), as Windows does at shutdown;
//                                    prints "query=RESULT"
//
// TITLE: @finder (the finder's caption with its U+3000), @finder-bare
// (without it), @app (the message boxes' title), or literal UTF-8 text;
// a text ending in * matches every title that begins with the rest (a setup
// program's caption changes with its pages).
// Output is UTF-8. Exit code 0 on success, 1 on failure or time-out.
#include <windows.h>

// After windows.h, which it builds on.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

constexpr int kListId = 1000;

void Print(const std::wstring& line) {
    const std::string bytes = plat::ToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring Title(const std::wstring& arg) {
    if (arg == L"@finder") {
        return L"ソルベリオ Windows Tool\u3000";
    }
    if (arg == L"@finder-bare") {
        return L"ソルベリオ Windows Tool";
    }
    if (arg == L"@app") {
        return L"ソルベリオ Windows Tool";
    }
    return arg;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

struct Search {
    std::wstring title;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    const std::wstring& title = search->title;
    const bool prefix = !title.empty() && title.back() == L'*';
    const std::wstring text = TextOf(window);
    if (prefix ? text.rfind(title.substr(0, title.size() - 1), 0) != 0 : text != title) {
        return TRUE;
    }
    if (search->className != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (wcscmp(name, search->className) != 0) {
            return TRUE;
        }
    }
    search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Windows(const std::wstring& title, const wchar_t* className = nullptr) {
    Search search{title, className, {}};
    EnumWindows(&Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitWindow(const std::wstring& title, DWORD ms, const wchar_t* className = nullptr) {
    const DWORD start = GetTickCount();
    for (;;) {
        const auto found = Windows(title, className);
        if (!found.empty()) {
            return found.front();
        }
        if (GetTickCount() - start >= ms) {
            return nullptr;
        }
        Sleep(20);
    }
}

// A block of memory in the list's process, for list-view messages that
// carry pointers.
class RemoteBlock {
  public:
    RemoteBlock(HWND window, SIZE_T size) : m_size(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_process =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process != nullptr) {
            m_base = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        }
    }
    ~RemoteBlock() {
        if (m_base != nullptr) {
            VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE);
        }
        if (m_process != nullptr) {
            CloseHandle(m_process);
        }
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool Ok() const { return m_base != nullptr; }
    char* Base() const { return static_cast<char*>(m_base); }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) {
        return WriteProcessMemory(m_process, Base() + offset, data, size, nullptr) != FALSE;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) {
        return ReadProcessMemory(m_process, Base() + offset, data, size, nullptr) != FALSE;
    }

  private:
    HANDLE m_process = nullptr;
    void* m_base = nullptr;
    SIZE_T m_size;
};

std::wstring RemoteCell(HWND list, RemoteBlock& block, int row, int column) {
    constexpr int kChars = 1024;
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(block.Base() + sizeof(LVITEMW));
    item.cchTextMax = kChars;
    block.Write(0, &item, sizeof(item));
    const auto length = static_cast<int>(
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.Base())));
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        block.Read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t));
    }
    return text;
}

std::wstring Size(const RECT& rect) {
    return std::to_wstring(rect.right - rect.left) + L"x" + std::to_wstring(rect.bottom - rect.top);
}

int Usage() {
    Print(
        L"usage: sl_uictl wait|gone|count|rows|button|click|select|close|geometry|answer|msgtext|"
        L"foreground|hold|desktop ...");
    return 2;
}

LRESULT CALLBACK HoldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// Wine closes a desktop one second after its last program ends, and the next
// program that opens a window starts a new desktop process and waits at most
// 10 s for it; on a loaded machine, or while the old one is still going, that
// wait can fail and every window of that program fails with it. A hidden
// window held for the whole test run keeps one desktop from start to end, so
// no suite depends on what ran before it.
LRESULT CALLBACK DesktopHolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A close request to every window is not for this one.
    return message == WM_CLOSE ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

int HoldDesktop(DWORD limit) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &DesktopHolderProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SlUictlDesktop";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"SlUictlDesktop", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        return 1;
    }
    Print(L"holding");
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < limit; waited = GetTickCount() - start) {
        // Nothing but the time limit ends it; the run ends the prefix's server.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, limit - waited, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
    }
    DestroyWindow(window);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Usage();
    }
    // Sizes in device pixels, whatever the display's DPI.
    SetProcessDPIAware();
    const std::wstring command = argv[1];
    const std::wstring title = argc > 2 ? Title(argv[2]) : L"";
    auto number = [&](int index, long fallback) {
        return argc > index ? std::wcstol(argv[index], nullptr, 10) : fallback;
    };

    if (command == L"desktop") {
        return HoldDesktop(static_cast<DWORD>(number(2, 4L * 3600 * 1000)));
    }
    if (command == L"foreground") {
        Print(TextOf(GetForegroundWindow()));
        return 0;
    }
    if (argc < 3) {
        return Usage();
    }
    if (command == L"wait") {
        return WaitWindow(title, static_cast<DWORD>(number(3, 10000))) != nullptr ? 0 : 1;
    }
    if (command == L"gone") {
        const DWORD start = GetTickCount();
        const auto limit = static_cast<DWORD>(number(3, 10000));
        while (!Windows(title).empty()) {
            if (GetTickCount() - start >= limit) {
                return 1;
            }
            Sleep(20);
        }
        return 0;
    }
    if (command == L"count") {
        Print(std::to_wstring(Windows(title).size()));
        return 0;
    }
    if (command == L"hold") {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &HoldProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SlUictlHold";
        RegisterClassW(&windowClass);
        HWND window =
            CreateWindowExW(0, L"SlUictlHold", title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 300, 100,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window == nullptr) {
            return 1;
        }
        ShowWindow(window, SW_SHOW);
        Print(L"holding");
        const DWORD start = GetTickCount();
        const auto limit = static_cast<DWORD>(number(3, 10000));
        while (GetTickCount() - start < limit) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        DestroyWindow(window);
        return 0;
    }
    if (command == L"answer" || command == L"msgtext") {
        HWND box = WaitWindow(
            title, static_cast<DWORD>(command == L"msgtext" ? number(3, 10000) : 10000), L"#32770");
        if (box == nullptr) {
            return 1;
        }
        if (command == L"msgtext") {
            // The box may be found before its text is set: wait for the text.
            const DWORD start = GetTickCount();
            for (;;) {
                std::vector<std::wstring> texts;
                for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
                     child = GetWindow(child, GW_HWNDNEXT)) {
                    wchar_t name[64] = {};
                    GetClassNameW(child, name, 64);
                    const std::wstring text = TextOf(child);
                    if (_wcsicmp(name, L"Static") == 0 && !text.empty()) {
                        texts.push_back(text);
                    }
                }
                if (!texts.empty() || GetTickCount() - start >= 5000) {
                    for (const std::wstring& text : texts) {
                        Print(text);
                    }
                    return texts.empty() ? 1 : 0;
                }
                Sleep(20);
            }
        }
        const std::wstring answer = argc > 3 ? argv[3] : L"ok";
        const int id = answer == L"yes" ? IDYES : answer == L"no" ? IDNO : IDOK;
        if (GetDlgItem(box, id) == nullptr) {
            return 1;
        }
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        return 0;
    }

    const auto found = Windows(title);
    if (found.empty()) {
        return 1;
    }
    HWND window = found.front();
    if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == L"ping") {
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                static_cast<UINT>(number(3, 1000)), &result) == 0) {
            return 1;
        }
        Print(std::to_wstring(GetTickCount() - start));
        return 0;
    }
    if (command == L"endsession") {
        DWORD_PTR agreed = 0;
        if (SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &agreed) == 0) {
            return 1;
        }
        Print(L"query=" + std::to_wstring(agreed));
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, 5000, &ignored);
        return 0;
    }
    if (command == L"command") {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(number(3, 0)), 0), 0);
        return 0;
    }
    if (command == L"minimize") {
        ShowWindow(window, SW_MINIMIZE);
        return 0;
    }
    if (command == L"iconic") {
        Print(IsIconic(window) ? L"1" : L"0");
        return 0;
    }
    if (command == L"text" || command == L"settext" || command == L"lbitems") {
        const int id = static_cast<int>(number(3, 0));
        HWND control = id == 0 ? window : GetDlgItem(window, id);
        if (control == nullptr) {
            return 1;
        }
        if (command == L"settext") {
            const std::wstring text = argc > 4 ? argv[4] : L"";
            return SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) ? 0
                                                                                                : 1;
        }
        if (command == L"lbitems") {
            const int count = static_cast<int>(SendMessageW(control, LB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                std::wstring item(
                    static_cast<std::size_t>(SendMessageW(control, LB_GETTEXTLEN, i, 0)) + 1,
                    L'\0');
                SendMessageW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
                item.resize(item.size() - 1);
                Print(item);
            }
            return 0;
        }
        Print(TextOf(control));
        return 0;
    }
    if (command == L"geometry") {
        RECT frame{};
        RECT client{};
        GetWindowRect(window, &frame);
        GetClientRect(window, &client);
        HWND list = GetDlgItem(window, kListId);
        std::wstring columns;
        for (int column = 0; list != nullptr && column < 2; ++column) {
            columns += (column > 0 ? L"," : L"") +
                       std::to_wstring(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        }
        Print(L"visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0) + L" window=" +
              Size(frame) + L" client=" + Size(client) + L" columns=" + columns);
        return 0;
    }
    if (command == L"button" || command == L"click") {
        HWND button = GetDlgItem(window, static_cast<int>(number(3, 0)));
        if (button == nullptr) {
            return 1;
        }
        if (command == L"click") {
            PostMessageW(button, BM_CLICK, 0, 0);
            return 0;
        }
        Print(TextOf(button) + L"\t" + (IsWindowEnabled(button) ? L"1" : L"0"));
        return 0;
    }
    HWND list = GetDlgItem(window, kListId);
    if (list == nullptr) {
        return 1;
    }
    RemoteBlock block(list, sizeof(LVITEMW) + 1024 * sizeof(wchar_t));
    if (!block.Ok()) {
        return 1;
    }
    if (command == L"rows") {
        const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            Print(RemoteCell(list, block, row, 0) + L"\t" + RemoteCell(list, block, row, 1));
        }
        return 0;
    }
    if (command == L"select") {
        const int row = static_cast<int>(number(3, 0));
        SetForegroundWindow(window);
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        block.Write(0, &item, sizeof(item));
        return SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.Base()))
                   ? 0
                   : 1;
    }
    return Usage();
}
