// The main dialog's decisions, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "finder/ui/dialog_keys.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/shell_open.h"
#include "platform/system_menu.h"
#include "platform/win32/icon_layout.h"

using namespace finder;

TEST(DevicePageURL, WrapsTheAddress) {
    EXPECT_EQ(DevicePageURL(L"192.168.0.5"), L"http://192.168.0.5/");
    EXPECT_EQ(DevicePageURL(L"198.18.1.1"), L"http://198.18.1.1/");
    EXPECT_EQ(DevicePageURL(L""), L"http:///");
}

TEST(MayOpenDevicePage, Guards) {
    struct Case {
        PageTrigger trigger;
        bool searching;
        bool selection;
        bool opens;
    };
    const Case cases[] = {
        {PageTrigger::SettingsButton, false, true, true},
        {PageTrigger::SettingsButton, false, false, false},
        // The button is disabled while searching; a click that still comes
        // in is not guarded by the search.
        {PageTrigger::SettingsButton, true, true, true},
        {PageTrigger::SettingsButton, true, false, false},
        {PageTrigger::DoubleClick, false, true, true},
        {PageTrigger::DoubleClick, false, false, false},
        {PageTrigger::DoubleClick, true, true, false},
        {PageTrigger::DoubleClick, true, false, false},
        {PageTrigger::Command, false, true, true},
        {PageTrigger::Command, false, false, false},
        {PageTrigger::Command, true, true, false},
        {PageTrigger::Command, true, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MayOpenDevicePage(c.trigger, c.searching, c.selection), c.opens)
            << static_cast<int>(c.trigger) << " searching=" << c.searching
            << " selection=" << c.selection;
    }
}

TEST(EnablesSettingsOnListChange, OnlyTheFirstChangeAfterASearch) {
    EXPECT_TRUE(EnablesSettingsOnListChange(false, false));
    EXPECT_FALSE(EnablesSettingsOnListChange(false, true));
    EXPECT_FALSE(EnablesSettingsOnListChange(true, false));
    EXPECT_FALSE(EnablesSettingsOnListChange(true, true));
}

TEST(IsOpenPageShortcut, CtrlOKeyDownOnly) {
    struct Case {
        unsigned message;
        unsigned key;
        bool ctrl;
        bool shortcut;
    };
    const Case cases[] = {
        {0x0100, 0x4F, true, true},    // Ctrl+O (also with Shift or Alt: not looked at)
        {0x0100, 0x4F, false, false},  // O alone
        {0x0101, 0x4F, true, false},   // key up
        {0x0104, 0x4F, true, false},   // system key down
        {0x0102, 'o', true, false},    // the character
        {0x0100, 0x50, true, false},   // Ctrl+P
        {0x0100, 0x6F, true, false},   // '/' on the keypad
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsOpenPageShortcut(c.message, c.key, c.ctrl), c.shortcut)
            << std::hex << c.message << " " << c.key << " " << c.ctrl;
    }
}

TEST(IsAboutCommand, LowFourBitsIgnored) {
    struct Case {
        unsigned command;
        bool about;
    };
    const Case cases[] = {
        {0x0010, true},  {0x0011, true},  {0x0013, true},  {0x001F, true},
        {0x0000, false}, {0x0020, false}, {0x0030, false}, {0xF060, false},  // SC_CLOSE
        {0xF020, false},                                                     // SC_MINIMIZE
        {0xF100, false},                                                     // SC_KEYMENU
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::IsAboutCommand(c.command), c.about) << std::hex << c.command;
    }
}

TEST(CentredIconOrigin, RoundsTowardZero) {
    struct Case {
        int cw, ch, iw, ih, x, y;
    };
    const Case cases[] = {
        {160, 28, 32, 32, 64, -1},  // (128+1)/2 = 64, (-4+1)/2 = -1
        {100, 100, 32, 32, 34, 34}, {33, 33, 32, 32, 1, 1},
        {32, 32, 32, 32, 0, 0},     {0, 0, 32, 32, -15, -15},  // (-31)/2 rounds toward zero
        {31, 30, 32, 32, 0, -0},
    };
    for (const Case& c : cases) {
        const win::IconOrigin origin = win::CentredIconOrigin(c.cw, c.ch, c.iw, c.ih);
        EXPECT_EQ(origin.x, c.x) << c.cw << "x" << c.ch;
        EXPECT_EQ(origin.y, c.y) << c.cw << "x" << c.ch;
    }
}

TEST(MainDialogCaption, EndsWithOneIdeographicSpace) {
    const std::wstring caption = kMainDialogCaption;
    ASSERT_FALSE(caption.empty());
    EXPECT_EQ(caption.back(), L'\u3000');
    EXPECT_EQ(caption.substr(0, caption.size() - 1), L"ソルベリオ Windows Tool");
    EXPECT_EQ(std::wstring(kSearchingCaption), L"検索中...");
}

// Only a dotted address becomes a shared-folder path or URL: a name from the
// network, or any other text in a row, never does.
TEST(SharedFolder, OnlyFromADottedAddress) {
    const struct {
        std::wstring address;
        std::wstring path;
        std::wstring url;
    } cases[] = {
        {L"198.18.1.1", L"\\\\198.18.1.1\\", L"smb://198.18.1.1/"},
        {L"10.0.0.255", L"\\\\10.0.0.255\\", L"smb://10.0.0.255/"},
        {L"", L"", L""},
        {L"10.0.0", L"", L""},
        {L"10.0.0.256", L"", L""},
        {L"10.0.0.1.", L"", L""},
        {L"10..0.1", L"", L""},
        {L"1000.0.0.1", L"", L""},
        {L"nas\\share", L"", L""},
        {L"10.0.0.1\\..\\c$", L"", L""},
        {L"10.0.0.1/x", L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SharedFolderPath(c.address), c.path) << testing::PrintToString(c.address);
        EXPECT_EQ(SharedFolderURL(c.address), c.url);
    }
}

TEST(EmptyList, StateAndText) {
    EXPECT_EQ(EmptyListState(true, 0, 2), EmptyList::None);
    EXPECT_EQ(EmptyListState(false, 1, 2), EmptyList::None);
    EXPECT_EQ(EmptyListState(false, 0, 2), EmptyList::NotFound);
    EXPECT_EQ(EmptyListState(false, 0, 0), EmptyList::Offline);
    EXPECT_EQ(EmptyListText(EmptyList::None), L"");
    EXPECT_EQ(EmptyListText(EmptyList::NotFound),
              L"機器が見つかりませんでした。\n"
              L"別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。");
    EXPECT_EQ(EmptyListText(EmptyList::Offline), L"ネットワークに接続されていません。");
}

TEST(CopyShortcut, CtrlCOnly) {
    EXPECT_TRUE(IsCopyShortcut(kKeyDownMessage, kKeyC, true));
    EXPECT_FALSE(IsCopyShortcut(kKeyDownMessage, kKeyC, false));
    EXPECT_FALSE(IsCopyShortcut(kKeyDownMessage, kKeyO, true));
    EXPECT_FALSE(IsCopyShortcut(0x0101, kKeyC, true));
}

namespace {

// The desktop's shell as a script: what it answers, and what was asked.
class FakeDesktopShell : public IDesktopShell {
  public:
    Result desktop{Handed::kOpened, 0};
    std::uint32_t here = 0;
    std::vector<std::wstring> calls;

    Result OpenThroughDesktop(const std::wstring& target) override {
        calls.push_back(L"desktop " + target);
        return desktop;
    }
    std::uint32_t OpenHere(const std::wstring& target) override {
        calls.push_back(L"here " + target);
        return here;
    }
    std::wstring ErrorText(std::uint32_t error) override {
        return L"text of " + std::to_wstring(error);
    }
    void ShowError(const std::wstring& message) override { calls.push_back(L"box " + message); }
};

}  // namespace

TEST(OpenAsDesktopUser, DesktopFirstThisProcessOnlyWithoutOneAndARefusedFolderIsReported) {
    using H = IDesktopShell::Handed;
    const std::wstring page = L"http://198.18.1.1/";
    const std::wstring folder = L"\\\\198.18.1.1\\";
    const std::wstring refused =
        L"box 共有フォルダー \\\\198.18.1.1\\ を開けませんでした。\n\ntext of ";
    const struct Case {
        const char* name;
        IDesktopShell::Result desktop;
        std::uint32_t here;
        OpenTarget kind;
        bool opened;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"desktop opens the page",
         {H::kOpened, 0},
         5,
         OpenTarget::kPage,
         true,
         {L"desktop " + page}},
        {"no desktop: the page from here",
         {H::kNoDesktop, 0},
         0,
         OpenTarget::kPage,
         true,
         {L"desktop " + page, L"here " + page}},
        {"no desktop, page refused: nothing shown",
         {H::kNoDesktop, 0},
         2,
         OpenTarget::kPage,
         false,
         {L"desktop " + page, L"here " + page}},
        {"no desktop, folder refused",
         {H::kNoDesktop, 0},
         53,
         OpenTarget::kFolder,
         false,
         {L"desktop " + folder, L"here " + folder, refused + L"53"}},
        {"desktop refuses the folder: never from here",
         {H::kFailed, 1326},
         0,
         OpenTarget::kFolder,
         false,
         {L"desktop " + folder, refused + L"1326"}},
        {"desktop refuses the page: never from here",
         {H::kFailed, 5},
         0,
         OpenTarget::kPage,
         false,
         {L"desktop " + page}},
    };
    for (const Case& c : cases) {
        FakeDesktopShell shell;
        shell.desktop = c.desktop;
        shell.here = c.here;
        const std::wstring& target = c.kind == OpenTarget::kPage ? page : folder;
        EXPECT_EQ(OpenAsDesktopUser(shell, target, c.kind), c.opened) << c.name;
        EXPECT_EQ(shell.calls, c.calls) << c.name;
    }
}

// The table above checks the message with the system's text.
TEST(FolderNotOpenedMessage, WithoutTheSystemsTextEndsAtTheFolder) {
    EXPECT_EQ(FolderNotOpenedMessage(L"\\\\10.0.0.1\\", L""),
              L"共有フォルダー \\\\10.0.0.1\\ を開けませんでした。");
}
