// The main dialog in-process under Wine: a modeless CTobrelDlg driven by its
// own messages, with fake search procedures so that every step is known.
//
// Each test that opens the dialog needs the run's Wine prefix inside the test
// LAN (SL_WINE and SL_NS_PC from the harness): the dialog's first search may
// start as soon as it opens.
#include <windows.h>

// After windows.h, which they build on.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "finder/devices/remembered_devices.h"
#include "finder/ui/desktop_shell_win32.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/finder_resource.h"
#include "finder/ui/targets_dlg.h"
#include "finder/ui/tobrel_dlg.h"
#include "tests/support/manifest_check.h"
#include "tests/support/window_answerer.h"

namespace {

using namespace std::chrono_literals;

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

#define REQUIRE_WINE_IN_TEST_LAN()                                             \
    do {                                                                       \
        if (!EnvSet("SL_WINE") || !EnvSet("SL_NS_PC")) {                       \
            if (EnvSet("SL_REQUIRE_LAN")) {                                    \
                FAIL() << "needs the run's Wine prefix inside the test LAN";   \
            }                                                                  \
            GTEST_SKIP() << "needs the run's Wine prefix inside the test LAN"; \
        }                                                                      \
    } while (0)

// ---- Fake searches -------------------------------------------------------

struct FakeDevice {
    std::wstring name;
    std::wstring address;
};

// What the fake search does, set by each test before the dialog opens.
struct Script {
    std::vector<FakeDevice> devices;  // reported first
    bool holdAfterDevices = false;    // then wait for release or the stop flag
    std::vector<FakeDevice> late;     // reported after the hold
    std::size_t localAddresses = 1;   // as the search would have found them
};

Script g_script;
// The targets each search was given, in order.
std::vector<std::vector<std::wstring>> g_targets;
std::atomic<int> g_runs{0};
std::atomic<int> g_finished{0};
std::atomic<bool> g_stopSeen{false};
// Whether the dialog was on screen when the worker saw the stop request.
std::atomic<bool> g_visibleAtStop{true};
HANDLE g_release = nullptr;  // manual-reset event

void Report(SearchHost* host, const std::vector<FakeDevice>& devices, std::intptr_t& index) {
    for (const FakeDevice& device : devices) {
        if (AddDevice(device.address, device.name, L"-", L"", host->Devices()) &&
            host->Devices().count(device.address) == 1) {
            host->NotifyDeviceFound(*host->Devices().at(device.address), index++);
        }
    }
}

unsigned FakeSearch(SearchHost* host) {
    ++g_runs;
    g_targets.push_back(host->SearchTargets());
    host->NotifySearchStart();
    host->StopSearchFlag() = 0;
    host->NoteLocalAddresses(g_script.localAddresses);
    std::intptr_t index = 0;
    Report(host, g_script.devices, index);
    if (g_script.holdAfterDevices) {
        // Bounded: a test that forgets to release fails instead of hanging.
        for (int i = 0; i < 1000; ++i) {
            if (host->StopSearchFlag() != 0) {
                g_stopSeen = true;
                g_visibleAtStop = IsWindowVisible(static_cast<CTobrelDlg*>(host)->Hwnd()) != FALSE;
                break;
            }
            if (WaitForSingleObject(g_release, 10) == WAIT_OBJECT_0) {
                break;
            }
        }
    }
    Report(host, g_script.late, index);
    host->NotifySearchEnd();
    ++g_finished;
    return 0;
}

// ---- Driving the dialog ---------------------------------------------------

class FinderDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        g_script = Script{};
        g_targets.clear();
        g_runs = 0;
        g_finished = 0;
        g_stopSeen = false;
        g_visibleAtStop = true;
        g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        BYTE keys[256] = {};
        SetKeyboardState(keys);
    }
    void TearDown() override {
        SetEvent(g_release);
        dialog.reset();
        CloseHandle(g_release);
    }

    // Opens the dialog with the fake search and waits for the first search
    // to start.
    void Open() {
        dialog = std::make_unique<CTobrelDlg>();
        dialog->SetSearchProc(&FakeSearch);
        dialog->SetPageOpener([this](HWND owner, const std::wstring& url) {
            EXPECT_EQ(owner, dialog->Hwnd());
            urls.push_back(url);
        });
        dialog->SetFolderOpener(
            [this](HWND, const std::wstring& path) { folders.push_back(path); });
        dialog->SetTargetsFile(targetsFile);
        dialog->SetDevicesFile(devicesFile);
        // Only the segment-1 device's hardware address is in the neighbour table.
        dialog->SetMacLookup([](std::uint32_t address) -> std::optional<devices::MacAddress> {
            if (address == 0xC6120101) {
                return devices::MacAddress{0x02, 0x5E, 0x1B, 0x00, 0x01, 0x01};
            }
            return std::nullopt;
        });
        dialog->SetWaker(
            [this](const devices::MacAddress& mac, std::optional<std::uint32_t> address) {
                wakes.emplace_back(mac, address);
                return true;
            });
        ASSERT_TRUE(dialog->Create());
        list = dialog->Item(IDC_LIST_DEVICES);
        ASSERT_NE(list, nullptr);
    }

    // Hands queued messages to the dialog until pred holds; bounded.
    template <class Pred>
    bool PumpUntil(Pred pred, std::chrono::milliseconds limit = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                dialog->ProcessMessage(msg);
            }
            if (pred()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    void PumpIdle() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            dialog->ProcessMessage(msg);
        }
    }
    bool WaitIdle() {
        return PumpUntil([this] { return !dialog->IsWorkerRecorded(); });
    }

    std::wstring Text(HWND window) {
        wchar_t buffer[512] = {};
        GetWindowTextW(window, buffer, 512);
        return buffer;
    }
    std::wstring ButtonText(int id) { return Text(dialog->Item(id)); }
    bool Enabled(int id) { return IsWindowEnabled(dialog->Item(id)) != FALSE; }
    int Rows() { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column) {
        wchar_t buffer[512] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 512;
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
    void Select(int row, bool selected = true) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = selected ? LVIS_SELECTED : 0;
        SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    LRESULT Notify(UINT code) {
        NMITEMACTIVATE nm{};
        nm.hdr.hwndFrom = list;
        nm.hdr.idFrom = IDC_LIST_DEVICES;
        nm.hdr.code = code;
        nm.iItem = -1;
        return SendMessageW(dialog->Hwnd(), WM_NOTIFY, IDC_LIST_DEVICES,
                            reinterpret_cast<LPARAM>(&nm));
    }
    void Command(UINT id) { SendMessageW(dialog->Hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    void ClickButton(int id) { SendMessageW(dialog->Item(id), BM_CLICK, 0, 0); }
    // A key-down as the modal loop hands it over; ctrl sets the thread's
    // key state the way a real key press would.
    void KeyDown(UINT key, bool ctrl, bool shift = false, bool repeat = false) {
        BYTE keys[256] = {};
        keys[VK_CONTROL] = ctrl ? 0x80 : 0;
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG msg{};
        msg.hwnd = list;
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        msg.lParam = 1 | (repeat ? (1 << 30) : 0);
        dialog->ProcessMessage(msg);
        BYTE none[256] = {};
        SetKeyboardState(none);
    }
    void RunSearchWith(std::vector<FakeDevice> devices) {
        g_script.devices = std::move(devices);
        Open();
        ASSERT_TRUE(WaitIdle());
    }

    std::unique_ptr<CTobrelDlg> dialog;
    HWND list = nullptr;
    std::vector<std::wstring> urls;
    std::vector<std::wstring> folders;
    std::vector<std::pair<devices::MacAddress, std::optional<std::uint32_t>>> wakes;
    // A "search.ini" and a "devices.ini" of the test's own (none there unless
    // the test writes it).
    std::wstring targetsFile = TempFile(L"search");
    std::wstring devicesFile = TempFile(L"devices");

    static std::wstring TempFile(const std::wstring& name) {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        const std::wstring path = std::wstring(folder) + L"sl_dialog_" + name + L"_" +
                                  std::to_wstring(GetCurrentProcessId()) + L".ini";
        DeleteFileW(path.c_str());
        return path;
    }
};

using testsupport::WindowAnswerer;

HWND VisiblePopupMenu() {
    HWND menu = FindWindowW(L"#32768", nullptr);
    return (menu != nullptr && IsWindowVisible(menu)) ? menu : nullptr;
}

void ChooseFirstMenuItem(HWND menu) {
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

const std::vector<FakeDevice> kThree = {
    {L"NAS-Alpha", L"198.18.1.1"}, {L"NAS-Beta", L"198.19.1.1"}, {L"ナス-ガンマ", L"198.18.1.7"}};

}  // namespace

TEST_F(FinderDialog, TemplateCaptionStylesAndColumns) {
    REQUIRE_WINE_IN_TEST_LAN();
    g_script.holdAfterDevices = true;
    Open();
    HWND window = dialog->Hwnd();
    EXPECT_EQ(Text(window), finder::kMainDialogCaption);
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);

    EXPECT_FALSE(IsWindowVisible(dialog->Item(IDOK)));
    EXPECT_FALSE(IsWindowVisible(dialog->Item(IDCANCEL)));
    EXPECT_EQ(Text(dialog->Item(IDCANCEL)), L"キャンセル");
    const LONG_PTR listStyle = GetWindowLongPtrW(list, GWL_STYLE);
    EXPECT_EQ(listStyle & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(listStyle & LVS_SHOWSELALWAYS);
    EXPECT_FALSE(listStyle & LVS_SINGLESEL);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), LVS_EX_FULLROWSELECT);

    wchar_t title[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = 64;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, L"Name");
    EXPECT_EQ(column.cx, 200);
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, L"IP Address");
    EXPECT_EQ(column.cx, 200);

    // The first visible tab stop has the focus.
    EXPECT_EQ(GetFocus(), list);

    // Tab order: the list, 更新, 設定 among the visible tab stops.
    HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
    EXPECT_EQ(first, list);
    HWND second = GetNextDlgTabItem(window, list, FALSE);
    EXPECT_EQ(second, dialog->Item(IDC_BUTTON_REFRESH));
    EXPECT_EQ(GetNextDlgTabItem(window, second, FALSE), dialog->Item(IDC_BUTTON_SETTINGS));

    // The dialog's size in dialog units.
    RECT units{0, 0, 255, 171};
    MapDialogRect(window, &units);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);

    // Common Controls 6 from the manifest.
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    EXPECT_NE(std::wstring(path).find(L"winsxs"), std::wstring::npos) << path;
}

TEST_F(FinderDialog, SearchingLookThenIdleLook) {
    REQUIRE_WINE_IN_TEST_LAN();
    g_script.holdAfterDevices = true;
    Open();
    ASSERT_TRUE(PumpUntil([this] { return dialog->IsSearching(); }));
    EXPECT_EQ(ButtonText(IDC_BUTTON_REFRESH), L"検索中...");
    EXPECT_FALSE(Enabled(IDC_BUTTON_REFRESH));
    EXPECT_FALSE(Enabled(IDC_BUTTON_SETTINGS));
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(dialog->IsWorkerRecorded());

    SetEvent(g_release);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(ButtonText(IDC_BUTTON_REFRESH), L"更新");
    EXPECT_TRUE(Enabled(IDC_BUTTON_REFRESH));
    EXPECT_FALSE(Enabled(IDC_BUTTON_SETTINGS));  // nothing found, nothing selectable
    EXPECT_FALSE(dialog->IsSearching());
    EXPECT_EQ(Rows(), 0);
}

TEST_F(FinderDialog, RowsInReportOrderWithNameAndAddress) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    ASSERT_EQ(Rows(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, 0), kThree[row].name);
        EXPECT_EQ(Cell(row, 1), kThree[row].address);
    }
    // A click on a column header sorts nothing.
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = list;
    nm.hdr.idFrom = IDC_LIST_DEVICES;
    nm.hdr.code = LVN_COLUMNCLICK;
    nm.iSubItem = 0;
    SendMessageW(dialog->Hwnd(), WM_NOTIFY, IDC_LIST_DEVICES, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(Cell(2, 0), kThree[2].name);
    EXPECT_EQ(dialog->DeviceCount(), 3u);
}

TEST_F(FinderDialog, SettingsEnabledByTheFirstChangeAndStaysEnabled) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    EXPECT_FALSE(Enabled(IDC_BUTTON_SETTINGS));
    Select(1);
    EXPECT_TRUE(Enabled(IDC_BUTTON_SETTINGS));
    Select(1, false);
    EXPECT_TRUE(Enabled(IDC_BUTTON_SETTINGS));
    ClickButton(IDC_BUTTON_SETTINGS);
    EXPECT_TRUE(urls.empty());  // enabled, but nothing selected
    Select(2);
    ClickButton(IDC_BUTTON_SETTINGS);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0], L"http://198.18.1.7/");
}

TEST_F(FinderDialog, SelectionMadeDuringTheSearchEnablesSettingsAtItsEnd) {
    REQUIRE_WINE_IN_TEST_LAN();
    g_script.devices = kThree;
    g_script.holdAfterDevices = true;
    Open();
    ASSERT_TRUE(PumpUntil([this] { return Rows() == 3; }));
    Select(0);
    EXPECT_FALSE(Enabled(IDC_BUTTON_SETTINGS));
    SetEvent(g_release);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(Enabled(IDC_BUTTON_SETTINGS));
}

TEST_F(FinderDialog, PageTriggersDoNothingDuringASearch) {
    REQUIRE_WINE_IN_TEST_LAN();
    g_script.devices = kThree;
    g_script.holdAfterDevices = true;
    Open();
    ASSERT_TRUE(PumpUntil([this] { return Rows() == 3; }));
    Select(0);
    EXPECT_EQ(Notify(NM_DBLCLK), 0);
    KeyDown('O', true);
    Command(ID_MENU_SETTINGS);
    {
        // No menu may show; if one does, it is closed and the test fails.
        WindowAnswerer answerer(VisiblePopupMenu,
                                [](HWND menu) { PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0); });
        EXPECT_EQ(Notify(NM_RCLICK), 0);
        Sleep(100);
        EXPECT_FALSE(answerer.Found());
    }
    EXPECT_TRUE(urls.empty());
    SetEvent(g_release);
    ASSERT_TRUE(WaitIdle());
}

TEST_F(FinderDialog, EveryTriggerOpensTheUpperSelectedRow) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith({{L"A", L"192.168.0.5"}, {L"B", L"192.168.0.9"}});
    Select(1);
    Select(0);
    ClickButton(IDC_BUTTON_SETTINGS);
    Notify(NM_DBLCLK);
    Command(ID_MENU_SETTINGS);
    KeyDown('O', true);
    {
        WindowAnswerer answerer(VisiblePopupMenu, ChooseFirstMenuItem);
        Notify(NM_RCLICK);
        EXPECT_TRUE(answerer.Found());
    }
    PumpIdle();
    const std::vector<std::wstring> expected(5, L"http://192.168.0.5/");
    EXPECT_EQ(urls, expected);
}

TEST_F(FinderDialog, NoSelectionOpensNothing) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    Notify(NM_DBLCLK);
    Command(ID_MENU_SETTINGS);
    KeyDown('O', true);
    {
        // The menu shows on the empty area as well; 設定 then does nothing.
        WindowAnswerer answerer(VisiblePopupMenu, ChooseFirstMenuItem);
        Notify(NM_RCLICK);
        EXPECT_TRUE(answerer.Found());
    }
    PumpIdle();
    EXPECT_TRUE(urls.empty());
}

TEST_F(FinderDialog, CtrlOOpensOncePerKeyDownAutoRepeatIncluded) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    Select(1);
    KeyDown('O', true);
    KeyDown('O', true, false, true);
    KeyDown('O', true, false, true);
    KeyDown('O', true, true);  // Ctrl+Shift+O
    KeyDown('O', false);       // O alone
    KeyDown('P', true);
    EXPECT_EQ(urls, std::vector<std::wstring>(4, L"http://198.19.1.1/"));
    // The key is not consumed: the dialog stays open and usable.
    EXPECT_FALSE(dialog->IsEnded());
}

TEST_F(FinderDialog, CloseDuringASearchHidesTheWindowWaitsForTheWorkerAndEmptiesTheTable) {
    REQUIRE_WINE_IN_TEST_LAN();
    g_script.devices = {kThree[0]};
    g_script.holdAfterDevices = true;
    // Reported while the close procedure waits: the wait must serve it.
    g_script.late = {kThree[1]};
    Open();
    ASSERT_TRUE(PumpUntil([this] { return Rows() == 1; }));
    ASSERT_TRUE(IsWindowVisible(dialog->Hwnd()));
    SendMessageW(dialog->Hwnd(), WM_CLOSE, 0, 0);
    // Returned: the worker saw the stop flag, reported, and ended; the
    // window had gone from the screen before it was asked to stop.
    EXPECT_TRUE(g_stopSeen);
    EXPECT_FALSE(g_visibleAtStop);
    EXPECT_EQ(g_finished, 1);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(dialog->DeviceCount(), 0u);
    ASSERT_TRUE(PumpUntil([this] { return dialog->IsEnded(); }));
    EXPECT_EQ(dialog->Result(), IDCANCEL);
}

TEST_F(FinderDialog, EnterAndEscapeStopTheWorkerFirst) {
    REQUIRE_WINE_IN_TEST_LAN();
    for (const UINT key : {VK_RETURN, VK_ESCAPE}) {
        SCOPED_TRACE(key);
        g_script = Script{};
        g_script.devices = {kThree[0]};
        g_script.holdAfterDevices = true;
        g_finished = 0;
        g_stopSeen = false;
        g_visibleAtStop = true;
        Open();
        ASSERT_TRUE(PumpUntil([this] { return Rows() == 1; }));
        SetFocus(list);
        MSG msg{};
        msg.hwnd = list;
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        msg.lParam = 1;
        dialog->ProcessMessage(msg);
        ASSERT_TRUE(PumpUntil([this] { return dialog->IsEnded(); }));
        EXPECT_EQ(dialog->Result(), key == VK_RETURN ? IDOK : IDCANCEL);
        EXPECT_EQ(g_finished, 1);
        EXPECT_TRUE(g_stopSeen);
        EXPECT_FALSE(g_visibleAtStop);
        EXPECT_EQ(dialog->DeviceCount(), 0u);
        dialog.reset();
    }
}

TEST_F(FinderDialog, TwoQuickClicksOnRefreshStartOneWorker) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    ASSERT_EQ(dialog->WorkersStarted(), 1);
    g_script.holdAfterDevices = true;
    ClickButton(IDC_BUTTON_REFRESH);
    ClickButton(IDC_BUTTON_REFRESH);
    EXPECT_EQ(dialog->WorkersStarted(), 2);
    ASSERT_TRUE(PumpUntil([this] { return dialog->IsSearching(); }));
    ClickButton(IDC_BUTTON_REFRESH);  // disabled now
    EXPECT_EQ(dialog->WorkersStarted(), 2);
    // The new search emptied the list and counts from 0 again.
    ASSERT_TRUE(PumpUntil([this] { return Rows() == 3; }));
    EXPECT_EQ(Cell(0, 1), kThree[0].address);
    SetEvent(g_release);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(g_runs, 2);
}

TEST_F(FinderDialog, UnknownAddressAddsNoRow) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    const wchar_t stranger[] = L"10.0.0.1";
    SendMessageW(dialog->Hwnd(), WM_DEVICE_FOUND, reinterpret_cast<WPARAM>(stranger), 3);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(FinderDialog, SystemMenuAboutBox) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith({});
    HMENU menu = GetSystemMenu(dialog->Hwnd(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_FTYPE;
    GetMenuItemInfoW(menu, count - 2, TRUE, &separator);
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    wchar_t text[128] = {};
    GetMenuStringW(menu, count - 1, text, 128, MF_BYPOSITION);
    EXPECT_STREQ(text, L"バージョン情報 ソルベリオ Windows Tool(&A)...");

    std::wstring aboutText;
    bool aboutVisible = false;
    bool mainDisabled = false;
    HWND main = dialog->Hwnd();
    {
        WindowAnswerer answerer(
            [] { return FindWindowW(nullptr, L"バージョン情報 ソルベリオ Windows Tool"); },
            [&](HWND about) {
                // Found maybe while still being built; shown once it is
                // complete. Bounded.
                for (int i = 0; i < 200 && !IsWindowVisible(about); ++i) {
                    Sleep(10);
                }
                aboutVisible = IsWindowVisible(about) != FALSE;
                mainDisabled = !IsWindowEnabled(main);
                wchar_t line[128] = {};
                HWND child = GetWindow(about, GW_CHILD);
                for (; child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
                    GetWindowTextW(child, line, 128);
                    if (wcsstr(line, L"Version") != nullptr) {
                        aboutText = line;
                    }
                }
                PostMessageW(about, WM_COMMAND, IDOK, 0);
            });
        SendMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        EXPECT_TRUE(answerer.Found());
    }
    EXPECT_TRUE(mainDisabled);
    // Its template has no WS_VISIBLE: the modal run shows it.
    EXPECT_TRUE(aboutVisible);
    EXPECT_EQ(aboutText, L"ソルベリオ Windows Tool Version 1.0.0.0");
    EXPECT_TRUE(IsWindowEnabled(main));
    // The main dialog reacts again.
    ClickButton(IDC_BUTTON_REFRESH);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(dialog->WorkersStarted(), 2);
}

TEST_F(FinderDialog, DragIconIsTheProgramIcon) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith({});
    const LRESULT icon = SendMessageW(dialog->Hwnd(), WM_QUERYDRAGICON, 0, 0);
    EXPECT_NE(icon, 0);
    EXPECT_EQ(icon, SendMessageW(dialog->Hwnd(), WM_GETICON, ICON_BIG, 0));
}

TEST_F(FinderDialog, MinimizedWindowPaintsTheIconAndRestores) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    ShowWindow(dialog->Hwnd(), SW_MINIMIZE);
    PumpIdle();
    EXPECT_TRUE(IsIconic(dialog->Hwnd()));
    // Painting while minimized goes through the dialog's own icon drawing.
    RedrawWindow(dialog->Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpIdle();
    ShowWindow(dialog->Hwnd(), SW_RESTORE);
    PumpIdle();
    EXPECT_FALSE(IsIconic(dialog->Hwnd()));
    EXPECT_EQ(Rows(), 3);
}

// The suite carries the finder's resources, its manifest among them.
TEST(FinderManifest, PerMonitorDpiAwareForWindows7To11) {
    testsupport::ExpectDpiAwareManifestForWindows7To11();
}

TEST_F(FinderDialog, ColumnsAndIconsFollowTheDpi) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    HWND window = dialog->Hwnd();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto columnWidth = [this](int column) {
        return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    };
    auto iconWidth = [window](WPARAM which) {
        ICONINFO info{};
        HICON icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
        if (icon == nullptr || !GetIconInfo(icon, &info)) {
            return 0;
        }
        BITMAP bitmap{};
        GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap),
                   &bitmap);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return static_cast<int>(bitmap.bmWidth);
    };
    // Opened at the display's DPI: 200 pixels at 96 DPI.
    EXPECT_EQ(columnWidth(0), MulDiv(200, dpi, 96));
    EXPECT_EQ(columnWidth(1), MulDiv(200, dpi, 96));
    EXPECT_EQ(iconWidth(ICON_BIG), GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(iconWidth(ICON_SMALL), GetSystemMetrics(SM_CXSMICON));

    // Moved to a monitor of twice the scale; one column was dragged before.
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(150, 0));
    RECT before;
    GetWindowRect(window, &before);
    RECT suggested{before.left + 10, before.top + 20,
                   before.left + 10 + 2 * (before.right - before.left),
                   before.top + 20 + 2 * (before.bottom - before.top)};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(columnWidth(0), 300);
    EXPECT_EQ(columnWidth(1), 2 * MulDiv(200, dpi, 96));
    EXPECT_EQ(iconWidth(ICON_BIG), 2 * GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(iconWidth(ICON_SMALL), 2 * GetSystemMetrics(SM_CXSMICON));
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_TRUE(EqualRect(&after, &suggested));
    EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0),
              SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    EXPECT_EQ(Rows(), 3);
}

namespace {

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) {
        return L"<closed>";
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void SetClipboardToSomethingElse() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<none>";
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// The items of the open context menu, as their texts ("-" a separator).
std::vector<std::wstring> g_menuItems;
void ReadMenuAndClose(HWND menuWindow) {
    g_menuItems.clear();
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 64;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        g_menuItems.push_back((info.fType & MFT_SEPARATOR) != 0 ? L"-" : text);
    }
    PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
}

}  // namespace

// The context menu: 設定, then the two actions on a device only while a row
// is selected, a separator and 検索先を指定....
TEST_F(FinderDialog, ContextMenuOffersTheDeviceActionsOnlyWithASelection) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    const struct {
        bool select;
        std::vector<std::wstring> items;
    } cases[] = {
        {false, {L"設定", L"-", L"検索先を指定...", L"機器を起動..."}},
        {true,
         {L"設定", L"フォルダーを開く", L"アドレスをコピー", L"-", L"検索先を指定...",
          L"機器を起動..."}},
    };
    for (const auto& c : cases) {
        Select(1, c.select);
        {
            WindowAnswerer answerer(VisiblePopupMenu, ReadMenuAndClose);
            Notify(NM_RCLICK);
            EXPECT_TRUE(answerer.Found());
        }
        PumpIdle();
        EXPECT_EQ(g_menuItems, c.items) << c.select;
    }
}

// フォルダーを開く hands \\ADDRESS\ to the opener; アドレスをコピー and Ctrl+C
// in the list put the address on the clipboard; nothing without a row.
TEST_F(FinderDialog, OpenFolderAndCopyAddress) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    SetClipboardToSomethingElse();
    Command(ID_MENU_OPEN_FOLDER);
    Command(ID_MENU_COPY_ADDRESS);
    EXPECT_TRUE(folders.empty());
    EXPECT_EQ(ClipboardText(), L"");

    Select(1);
    Command(ID_MENU_OPEN_FOLDER);
    EXPECT_EQ(folders, std::vector<std::wstring>{L"\\\\198.19.1.1\\"});
    Command(ID_MENU_COPY_ADDRESS);
    EXPECT_EQ(ClipboardText(), L"198.19.1.1");
    SetClipboardToSomethingElse();
    Select(1, false);
    Select(2);
    KeyDown('C', true);
    EXPECT_EQ(ClipboardText(), L"198.18.1.7");
    EXPECT_TRUE(urls.empty());
}

// Another program that holds the clipboard for a moment does not lose the
// copy: the finder asks again for about half a second, and no longer.
TEST_F(FinderDialog, CopyWaitsBrieflyForAHeldClipboard) {
    REQUIRE_WINE_IN_TEST_LAN();
    RunSearchWith(kThree);
    SetClipboardToSomethingElse();
    Select(1);
    for (const auto held : {200ms, 1500ms}) {
        std::atomic<bool> holding{false};
        std::thread holder([&] {
            if (OpenClipboard(nullptr)) {
                holding = true;
                std::this_thread::sleep_for(held);
                CloseClipboard();
            }
        });
        for (int wait = 0; !holding && wait < 400; ++wait) {
            std::this_thread::sleep_for(5ms);
        }
        if (!holding) {
            holder.join();
            FAIL() << "the clipboard could not be held";
        }
        const auto start = std::chrono::steady_clock::now();
        Command(ID_MENU_COPY_ADDRESS);
        const auto took = std::chrono::steady_clock::now() - start;
        holder.join();
        if (held == 200ms) {
            EXPECT_EQ(ClipboardText(), L"198.19.1.1");
            SetClipboardToSomethingElse();
        } else {
            EXPECT_EQ(ClipboardText(), L"") << "copied although the clipboard was held";
            EXPECT_GE(took, 400ms);
            EXPECT_LT(took, 1200ms);
        }
    }
}

TEST_F(FinderDialog, EmptyListExplainsItself) {
    REQUIRE_WINE_IN_TEST_LAN();
    const struct {
        std::vector<FakeDevice> devices;
        std::size_t localAddresses;
        std::wstring text;
    } cases[] = {
        {{}, 2, finder::EmptyListText(finder::EmptyList::NotFound)},
        {{}, 0, L"ネットワークに接続されていません。"},
        {kThree, 2, L""},
    };
    for (const auto& c : cases) {
        g_script.devices = c.devices;
        g_script.localAddresses = c.localAddresses;
        Open();
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(dialog->EmptyText(), c.text);
        EXPECT_EQ(Text(list), c.text);
        dialog.reset();
    }
}

// Every search gets the remembered targets, read afresh; a damaged file is
// no targets and no reason not to search.
TEST_F(FinderDialog, SearchesProbeTheRememberedTargets) {
    REQUIRE_WINE_IN_TEST_LAN();
    WriteAll(targetsFile, "[Search]\r\nTargets=10.77.1.1; NAS.lan ;bad target;10.77.1.0/24\r\n");
    Open();
    ASSERT_TRUE(WaitIdle());
    WriteAll(targetsFile, std::string("\xFF\xFE\x00[Sea\x01rch", 10));
    ClickButton(IDC_BUTTON_REFRESH);
    ASSERT_TRUE(PumpUntil([] { return g_finished == 2; }));
    DeleteFileW(targetsFile.c_str());
    ClickButton(IDC_BUTTON_REFRESH);
    ASSERT_TRUE(PumpUntil([] { return g_finished == 3; }));
    const std::vector<std::vector<std::wstring>> expected{
        {L"10.77.1.1", L"nas.lan", L"10.77.1.0/24"}, {}, {}};
    EXPECT_EQ(g_targets, expected);
}

// The dialog refuses what is not a target with its message and saves
// nothing; an added target is saved at once and starts a search.
TEST_F(FinderDialog, TargetsDialogRefusesSavesAndRemoves) {
    REQUIRE_WINE_IN_TEST_LAN();
    int added = 0;
    CTargetsDlg targets(nullptr, targetsFile, [&] { ++added; });
    ASSERT_TRUE(targets.Create());
    HWND window = targets.Hwnd();
    EXPECT_EQ(Text(window), L"検索先の指定");
    const auto add = [&](const std::wstring& entry) {
        SetWindowTextW(GetDlgItem(window, IDC_EDIT_TARGET), entry.c_str());
        SendMessageW(GetDlgItem(window, IDC_BUTTON_ADD), BM_CLICK, 0, 0);
        return Text(GetDlgItem(window, IDC_TARGET_MESSAGE));
    };
    const std::wstring invalid = L"アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。";
    for (const wchar_t* entry :
         {L"", L"10.0.0.0/21", L"127.0.0.1", L"239.143.255.250", L"255.255.255.255", L"0.0.0.7",
          L"nas lan", L"10.0.0", L"\\\\nas\\share", L"ソルベリオ"}) {
        EXPECT_EQ(add(entry), invalid) << testing::PrintToString(std::wstring(entry));
    }
    EXPECT_EQ(ReadAll(targetsFile), "<none>");
    EXPECT_EQ(added, 0);

    EXPECT_EQ(add(L"Dev3.Routed.Test"), L"");
    EXPECT_EQ(add(L"10.77.1.9/24"), L"");
    EXPECT_EQ(add(L"10.77.1.0/24"), L"この検索先はすでにあります。");
    EXPECT_EQ(added, 2);
    EXPECT_EQ(Text(GetDlgItem(window, IDC_EDIT_TARGET)), L"10.77.1.0/24");
    EXPECT_EQ(ReadAll(targetsFile), "[Search]\r\nTargets=dev3.routed.test;10.77.1.0/24\r\n");
    HWND box = GetDlgItem(window, IDC_LIST_TARGETS);
    EXPECT_EQ(SendMessageW(box, LB_GETCOUNT, 0, 0), 2);

    SendMessageW(box, LB_SETCURSEL, 0, 0);
    SendMessageW(GetDlgItem(window, IDC_BUTTON_REMOVE), BM_CLICK, 0, 0);
    EXPECT_EQ(ReadAll(targetsFile), "[Search]\r\nTargets=10.77.1.0/24\r\n");
    EXPECT_EQ(SendMessageW(box, LB_GETCOUNT, 0, 0), 1);
    targets.DestroyWindow();
    DeleteFileW(targetsFile.c_str());
}

namespace {

// The desktop's shell taken away (Wine's explorer is a desktop shell too):
// the fallback that a kiosk or a server without Explorer takes, with the
// real ShellExecuteExW and the system's error text.
class WithoutDesktop : public finder::IDesktopShell {
  public:
    Result OpenThroughDesktop(const std::wstring&) override { return {Handed::kNoDesktop, 0}; }
    std::uint32_t OpenHere(const std::wstring& target) override { return real.OpenHere(target); }
    std::wstring ErrorText(std::uint32_t error) override { return real.ErrorText(error); }
    void ShowError(const std::wstring& message) override { shown.push_back(message); }

    finder::CDesktopShellWin32 real{nullptr};
    std::vector<std::wstring> shown;
};

}  // namespace

TEST(DesktopShell, WithoutADesktopARefusedFolderIsReportedWithItsAddress) {
    REQUIRE_WINE_IN_TEST_LAN();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    WithoutDesktop shell;
    // The test LAN has no file server.
    EXPECT_FALSE(
        finder::OpenAsDesktopUser(shell, L"\\\\198.19.1.1\\", finder::OpenTarget::kFolder));
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.shown[0].rfind(L"共有フォルダー \\\\198.19.1.1\\ を開けませんでした。\n\n", 0),
              0u)
        << shell.shown[0].size();
    EXPECT_GT(shell.shown[0].size(),
              std::wstring(L"共有フォルダー \\\\198.19.1.1\\ を開けませんでした。\n\n").size());
    CoUninitialize();
}

// A search's devices join the remembered ones in devices.ini, with the
// hardware address the neighbour table had; the one seen before stays.
TEST_F(FinderDialog, SearchesRememberTheirDevices) {
    REQUIRE_WINE_IN_TEST_LAN();
    WriteAll(devicesFile,
             "[Device1]\r\nAddress=198.18.1.50\r\nName=Sleeper\r\nMAC=02-5E-1B-00-09-09\r\n"
             "LastSeen=2026-01-02T03:04:05Z\r\n");
    RunSearchWith(kThree);
    const auto remembered = devices::LoadDevices(devicesFile);
    ASSERT_EQ(remembered.size(), 4u) << ReadAll(devicesFile);
    EXPECT_EQ(remembered[0].name, L"Sleeper");
    EXPECT_EQ(remembered[1].address, L"198.18.1.1");
    EXPECT_EQ(remembered[1].mac, (devices::MacAddress{0x02, 0x5E, 0x1B, 0x00, 0x01, 0x01}));
    EXPECT_FALSE(remembered[2].mac.has_value());
    EXPECT_NE(ReadAll(devicesFile).find("MAC=02-5E-1B-00-01-01\r\n"), std::string::npos);
    DeleteFileW(devicesFile.c_str());
}

namespace {

// What the wake dialog showed and said, read on the answering thread.
struct WakeDialogSeen {
    std::vector<std::wstring> rows;
    std::wstring refused;
};

std::wstring ListCell(HWND list, int row, int column) {
    wchar_t buffer[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

}  // namespace

// 機器を起動... lists the remembered devices the list does not show, refuses
// a typed text that is no MAC with a message naming it, wakes the selected
// one, and 20 s later (shortened here) the finder searches again.
TEST_F(FinderDialog, WakeDialogWakesAnUnlistedDeviceAndSearchesAgain) {
    REQUIRE_WINE_IN_TEST_LAN();
    _putenv_s("SL_WAKE_SEARCH_DELAY_MS", "300");
    WriteAll(devicesFile,
             "[Device1]\r\nAddress=198.18.1.1\r\nName=NAS-Alpha\r\nMAC=02-5E-1B-00-01-01\r\n"
             "LastSeen=2026-01-01T00:00:00Z\r\n"
             "[Device2]\r\nAddress=10.77.1.1\r\nName=Routed\r\n"
             "LastSeen=2026-01-02T00:00:00Z\r\n"
             "[Device3]\r\nAddress=198.18.1.50\r\nName=\xE7\x9C\xA0\xE3\x82\x8B NAS\r\n"
             "MAC=02-5E-1B-00-09-09\r\nLastSeen=2026-01-03T00:00:00Z\r\n");
    RunSearchWith({{L"NAS-Alpha", L"198.18.1.1"}});
    WakeDialogSeen seen;
    {
        WindowAnswerer answerer(
            [] {
                HWND found = FindWindowW(L"#32770", L"機器の起動");
                return found != nullptr && IsWindowVisible(found) ? found : nullptr;
            },
            [&seen](HWND window) {
                HWND list = GetDlgItem(window, IDC_LIST_WAKE);
                const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
                for (int row = 0; row < rows; ++row) {
                    seen.rows.push_back(ListCell(list, row, 0) + L"|" + ListCell(list, row, 1) +
                                        L"|" + ListCell(list, row, 2) + L"|" +
                                        std::to_wstring(ListCell(list, row, 3).size()));
                }
                SetWindowTextW(GetDlgItem(window, IDC_EDIT_MAC), L"00-11-22-33-44-5G");
                SendMessageW(GetDlgItem(window, IDC_BUTTON_WAKE_MAC), BM_CLICK, 0, 0);
                wchar_t text[512] = {};
                GetWindowTextW(GetDlgItem(window, IDC_WAKE_MESSAGE), text, 512);
                seen.refused = text;
                SendMessageW(GetDlgItem(window, IDC_BUTTON_WAKE), BM_CLICK, 0, 0);
                PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            });
        Command(ID_MENU_WAKE);
        EXPECT_TRUE(answerer.Found());
    }
    // Seen last first; the listed device is not offered; the time is local,
    // "YYYY/MM/DD hh:mm".
    EXPECT_EQ(seen.rows, (std::vector<std::wstring>{L"眠る NAS|198.18.1.50|02-5E-1B-00-09-09|16",
                                                    L"Routed|10.77.1.1||16"}));
    EXPECT_EQ(seen.refused.rfind(L"「00-11-22-33-44-5G」は MAC アドレスではありません", 0), 0u)
        << testing::PrintToString(seen.refused);
    ASSERT_EQ(wakes.size(), 1u);
    EXPECT_EQ(wakes[0].first, (devices::MacAddress{0x02, 0x5E, 0x1B, 0x00, 0x09, 0x09}));
    EXPECT_EQ(wakes[0].second, std::optional<std::uint32_t>(0xC6120132));
    EXPECT_TRUE(PumpUntil([] { return g_runs == 2; }, 5000ms));
    _putenv_s("SL_WAKE_SEARCH_DELAY_MS", "");
    DeleteFileW(devicesFile.c_str());
}
