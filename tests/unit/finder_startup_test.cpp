// The finder's start-up order against a recording shell. The test program
// lives in a folder of its own (see CMakeLists.txt): the start-up settles the
// update state in the folder of the running executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "finder/app/tobrel_app.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/finder_resource.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kSocketText[] = L"Windows ソケットの初期化に失敗しました。";
constexpr wchar_t kOfferText[] = L"新しいバージョンが見つかりました。アップデートしますか？";

class RecordingShell : public IFinderShell {
  public:
    std::vector<std::wstring> calls;
    bool socketsStart = true;
    int answer = 7;  // IDNO
    bool windowOpen = false;
    bool processStarts = true;

    void InitCommonControls() override { calls.push_back(L"InitCommonControls"); }
    bool StartSockets() override {
        calls.push_back(L"StartSockets");
        return socketsStart;
    }
    std::wstring LoadText(unsigned id) override {
        calls.push_back(L"LoadText " + std::to_wstring(id));
        return id == IDS_SOCKETS_INIT_FAILED ? kSocketText : L"";
    }
    int ShowMessageBox(const std::wstring& text, unsigned type) override {
        calls.push_back(L"MessageBox " + std::to_wstring(type) + L" " + text);
        return type == kMbOk ? 1 : answer;
    }
    bool StartProcess(const std::wstring& commandLine) override {
        calls.push_back(L"StartProcess " + commandLine);
        return processStarts;
    }
    bool RaiseWindowByTitle(const std::wstring& title) override {
        calls.push_back(L"Raise " + title);
        return windowOpen;
    }
    void RunMainDialog() override { calls.push_back(L"RunMainDialog"); }
};

class FinderStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = plat::RemoveFileSpec(plat::ModuleFilePath());
        ASSERT_FALSE(dir.empty());
        CleanFolder();
    }
    void TearDown() override { CleanFolder(); }

    void CleanFolder() {
        for (const wchar_t* name : {L"profile.ini", L"url.ini", L"slwintool_set_up.exe"}) {
            fs::remove(Path(name));
        }
    }
    fs::path Path(const std::wstring& name) const {
#ifdef _WIN32
        return fs::path(plat::JoinPath(dir, name));
#else
        return fs::path(plat::NativePath(plat::JoinPath(dir, name)));
#endif
    }
    std::wstring Quoted(const std::wstring& name) const {
        return L"\"" + plat::JoinPath(dir, name) + L"\"";
    }
    void WriteProfile(const std::wstring& downloaded) {
        std::ofstream(Path(L"profile.ini"))
            << "[Update]\nUpdateSiteURL=http://site/latestversion.ini\nCurrentVersion=1.0.0.0\n"
               "PassedVersion=0.0.0.0\nDownloadedVersion="
            << plat::ToUtf8(downloaded) << "\n";
    }
    void WriteInstaller() { std::ofstream(Path(L"slwintool_set_up.exe")) << "installer"; }
    std::wstring ProfileValue(const wchar_t* key) {
        return plat::ReadIniString(L"Update", key, L"<none>", 260,
                                   plat::JoinPath(dir, L"profile.ini"));
    }

    std::wstring dir;
    RecordingShell shell;
};

const std::wstring kRaise = std::wstring(L"Raise ") + finder::kMainDialogCaption;

}  // namespace

TEST_F(FinderStartup, FirstRunWritesTheProfileStartsTheUpdaterAndOpensTheDialog) {
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    const std::vector<std::wstring> expected = {L"InitCommonControls", L"StartSockets",
                                                L"StartProcess " + Quoted(L"Updater.exe"), kRaise,
                                                L"RunMainDialog"};
    EXPECT_EQ(shell.calls, expected);
    EXPECT_EQ(ProfileValue(L"CurrentVersion"), L"1.0.0.0");
    EXPECT_EQ(ProfileValue(L"DownloadedVersion"), L"0.0.0.0");
    EXPECT_EQ(app.m_strUpdaterPath, plat::JoinPath(dir, L"Updater.exe"));
}

TEST_F(FinderStartup, SocketFailureShowsString103AndTouchesNothing) {
    shell.socketsStart = false;
    WriteInstaller();
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    const std::vector<std::wstring> expected = {L"InitCommonControls", L"StartSockets",
                                                L"LoadText 103",
                                                std::wstring(L"MessageBox 0 ") + kSocketText};
    EXPECT_EQ(shell.calls, expected);
    EXPECT_FALSE(fs::exists(Path(L"profile.ini")));
    // Not judged either: a stale installer stays until the next start.
    EXPECT_TRUE(fs::exists(Path(L"slwintool_set_up.exe")));
}

TEST_F(FinderStartup, PendingInstallerAcceptedStartsOnlyTheInstaller) {
    WriteProfile(L"1.0.0.1");
    WriteInstaller();
    shell.answer = kIdYes;
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    const std::vector<std::wstring> expected = {L"InitCommonControls", L"StartSockets",
                                                std::wstring(L"MessageBox 36 ") + kOfferText,
                                                L"StartProcess " + Quoted(L"slwintool_set_up.exe")};
    EXPECT_EQ(shell.calls, expected);
    EXPECT_TRUE(app.m_strUpdaterPath.empty());
    EXPECT_TRUE(fs::exists(Path(L"slwintool_set_up.exe")));
}

TEST_F(FinderStartup, PendingInstallerAcceptedEndsEvenWhenItCannotStart) {
    WriteProfile(L"2.0.0.0");
    WriteInstaller();
    shell.answer = kIdYes;
    shell.processStarts = false;
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    EXPECT_EQ(shell.calls.back(), L"StartProcess " + Quoted(L"slwintool_set_up.exe"));
    EXPECT_EQ(shell.calls.size(), 4u);
}

TEST_F(FinderStartup, PendingInstallerRefusedGoesOnAndKeepsTheFile) {
    WriteProfile(L"1.0.0.1");
    WriteInstaller();
    shell.answer = 7;  // IDNO
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    const std::vector<std::wstring> expected = {L"InitCommonControls",
                                                L"StartSockets",
                                                std::wstring(L"MessageBox 36 ") + kOfferText,
                                                L"StartProcess " + Quoted(L"Updater.exe"),
                                                kRaise,
                                                L"RunMainDialog"};
    EXPECT_EQ(shell.calls, expected);
    EXPECT_TRUE(fs::exists(Path(L"slwintool_set_up.exe")));
}

TEST_F(FinderStartup, StaleInstallerIsDeletedWithoutAnOffer) {
    WriteProfile(L"1.0.0.0");
    WriteInstaller();
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    for (const std::wstring& call : shell.calls) {
        EXPECT_EQ(call.find(L"MessageBox"), std::wstring::npos) << plat::ToUtf8(call);
    }
    EXPECT_FALSE(fs::exists(Path(L"slwintool_set_up.exe")));
    EXPECT_EQ(shell.calls.back(), L"RunMainDialog");
}

TEST_F(FinderStartup, OpenFinderWindowIsRaisedAfterTheUpdaterStarted) {
    WriteProfile(L"0.0.0.0");
    shell.windowOpen = true;
    shell.processStarts = false;  // a missing Updater changes nothing
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.StartInstance());
    const std::vector<std::wstring> expected = {L"InitCommonControls", L"StartSockets",
                                                L"StartProcess " + Quoted(L"Updater.exe"), kRaise};
    EXPECT_EQ(shell.calls, expected);
}

TEST_F(FinderStartup, NoShellDoesNothing) {
    CTobrelApp app;
    EXPECT_FALSE(app.StartInstance());
    EXPECT_FALSE(fs::exists(Path(L"profile.ini")));
}

TEST(QuotedCommandLine, FitsTheBufferOrIsRefused) {
    struct Case {
        std::size_t length;
        bool fits;
    };
    // Two quotes and the terminator come on top of the path.
    const Case cases[] = {{1, true},    {200, true},  {256, true}, {257, true},
                          {258, false}, {259, false}, {300, false}};
    for (const Case& c : cases) {
        const std::wstring path(c.length, L'a');
        ASSERT_EQ(path.size(), c.length);
        const auto line = QuotedCommandLine(path);
        EXPECT_EQ(line.has_value(), c.fits) << c.length;
        if (line) {
            EXPECT_EQ(*line, L"\"" + path + L"\"");
            EXPECT_LT(line->size(), kCommandLineCapacity);
        }
    }
    EXPECT_FALSE(QuotedCommandLine(L"").has_value());
    EXPECT_FALSE(QuotedCommandLine(L"C:\\a\"b.exe").has_value());
    EXPECT_EQ(*QuotedCommandLine(L"C:\\Program Files\\Tool\\Updater.exe"),
              L"\"C:\\Program Files\\Tool\\Updater.exe\"");
}

TEST(LaunchProgram, RefusesAPathThatWouldBeCut) {
    RecordingShell shell;
    CTobrelApp app(&shell);
    EXPECT_FALSE(app.LaunchProgram(std::wstring(258, L'x')));
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_TRUE(app.LaunchProgram(std::wstring(257, L'x')));
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0], L"StartProcess \"" + std::wstring(257, L'x') + L"\"");
}
