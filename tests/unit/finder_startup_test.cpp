// The finder's start-up order against a recording shell. The test program
// lives in a folder of its own (see CMakeLists.txt): the start-up settles the
// update state in the folder of the running executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
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
        if (onStart) {
            onStart();
        }
        return processStarts;
    }
    std::function<void()> onStart;
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
        for (const wchar_t* name :
             {L"profile.ini", L"url.ini", L"slwintool_set_up.exe", L"latestversion.ini"}) {
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

namespace {

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Whether the file can be opened for writing now; the held installer cannot
// on Windows (POSIX has no mandatory share modes).
bool Writable(const fs::path& path) {
#ifdef _WIN32
    std::ofstream out(path, std::ios::binary | std::ios::app);
    return out.is_open();
#else
    (void)path;
    return false;
#endif
}

// A download as the signed Updater leaves it (made at build time with a key
// of its own, see CMakeLists.txt), changed or not, and a finder built with
// that key.
class VerifiedStart : public FinderStartup {
  protected:
    void SetUp() override {
        FinderStartup::SetUp();
        source = Path(L"signed_download");
        const std::string key = ReadBytes(source / "key.der");
        ASSERT_EQ(key.size(), 91u) << source;
        publicKey.assign(key.begin(), key.end());
        installer = ReadBytes(source / "slwintool_set_up.exe");
        version = ReadBytes(source / "latestversion.ini");
        ASSERT_FALSE(installer.empty());
        ASSERT_NE(version.find("Signature="), std::string::npos);
    }

    std::vector<std::uint8_t> publicKey;
    fs::path source;
    std::string installer;
    std::string version;
};

}  // namespace

TEST_F(VerifiedStart, OnlyTheUntouchedPairOfTheRecordedVersionIsOfferedAndStarted) {
    std::string otherByte = installer;
    otherByte[5] ^= 0x01;
    std::string otherLine = version;
    otherLine.replace(otherLine.find("http://site"), 11, "http://evil");
    const struct Case {
        const char* name;
        std::string installer;
        std::optional<std::string> version;  // none: no kept version file
        const wchar_t* downloaded;
        bool offered;
    } cases[] = {
        {"untouched", installer, version, L"1.0.0.1", true},
        {"installer byte changed", otherByte, version, L"1.0.0.1", false},
        {"version file line changed", installer, otherLine, L"1.0.0.1", false},
        {"another version recorded", installer, version, L"1.0.0.2", false},
        {"no version file", installer, std::nullopt, L"1.0.0.1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CleanFolder();
        WriteProfile(c.downloaded);
        WriteBytes(Path(L"slwintool_set_up.exe"), c.installer);
        if (c.version) {
            WriteBytes(Path(L"latestversion.ini"), *c.version);
        }
        RecordingShell checked;
        checked.answer = kIdYes;
        bool writableAtStart = false;
        checked.onStart = [&] {
            if (checked.calls.back().find(L"slwintool_set_up.exe") != std::wstring::npos) {
                writableAtStart = Writable(Path(L"slwintool_set_up.exe"));
            }
        };
        CTobrelApp app(&checked, publicKey);
        EXPECT_FALSE(app.StartInstance());
        const std::vector<std::wstring> offered = {
            L"InitCommonControls", L"StartSockets", std::wstring(L"MessageBox 36 ") + kOfferText,
            L"StartProcess " + Quoted(L"slwintool_set_up.exe")};
        const std::vector<std::wstring> refused = {L"InitCommonControls", L"StartSockets",
                                                   L"StartProcess " + Quoted(L"Updater.exe"),
                                                   kRaise, L"RunMainDialog"};
        EXPECT_EQ(checked.calls, c.offered ? offered : refused);
        EXPECT_EQ(fs::exists(Path(L"slwintool_set_up.exe")), c.offered);
        EXPECT_EQ(fs::exists(Path(L"latestversion.ini")), c.offered);
        EXPECT_FALSE(writableAtStart);
        // Let go once started: the installer may be replaced again.
        if (c.offered) {
            EXPECT_EQ(ReadBytes(Path(L"slwintool_set_up.exe")), installer);
            WriteBytes(Path(L"slwintool_set_up.exe"), otherByte);
            EXPECT_EQ(ReadBytes(Path(L"slwintool_set_up.exe")), otherByte);
        }
    }
}

TEST_F(VerifiedStart, AStaleInstallerTakesItsVersionFileWith) {
    WriteProfile(L"1.0.0.0");
    WriteBytes(Path(L"slwintool_set_up.exe"), installer);
    WriteBytes(Path(L"latestversion.ini"), version);
    CTobrelApp app(&shell);  // without a key too
    EXPECT_FALSE(app.StartInstance());
    EXPECT_FALSE(fs::exists(Path(L"slwintool_set_up.exe")));
    EXPECT_FALSE(fs::exists(Path(L"latestversion.ini")));
}
