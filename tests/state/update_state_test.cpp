// The finder's update-state steps against real files in a temporary folder:
// CreateProfile on the first run, RefreshProfile on later runs, and the
// judgement of a downloaded installer.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "finder/app/tobrel_app.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "tests/state/state_support.h"
#include "tests/state/version_fixture.h"

namespace {

using statetest::Exists;
using statetest::KeysOf;
using statetest::ReadBytes;
using statetest::TempFolder;
using statetest::VersionSource;
using statetest::WriteBytes;

const std::vector<std::string> kFourKeys{"UpdateSiteURL", "CurrentVersion", "PassedVersion",
                                         "DownloadedVersion"};

class UpdateStateTest : public ::testing::Test {
  protected:
    void Use(VersionSource source) {
        app.m_strAppDir = dir.Wide();
        app.m_strProfilePath = dir.Wide("profile.ini");
        app.m_strModulePath = statetest::VersionedModule(dir.Path(), source);
    }
    std::filesystem::path File(const char* name) const { return dir.Path() / name; }
    std::wstring Value(const wchar_t* key) const {
        return plat::ReadIniString(L"Update", key, L"<missing>", 1024, dir.Wide("profile.ini"));
    }
    std::vector<std::string> Keys() const {
        return KeysOf(ReadBytes(File("profile.ini")), "Update");
    }

    TempFolder dir;
    CTobrelApp app;
};

TEST_F(UpdateStateTest, DefaultUrlIsTheFixedPathOverHttp) {
    const std::wstring url = DefaultUpdateSiteURL();
    const std::wstring path = L"/installer/solberio/search/latestversion.ini";
    EXPECT_EQ(url.rfind(L"http://", 0), 0u);
    ASSERT_GT(url.size(), path.size() + 7);
    EXPECT_EQ(url.substr(url.size() - path.size()), path);
}

TEST_F(UpdateStateTest, FirstRunWithoutUrlIniWritesFourKeysInOrder) {
    Use(VersionSource::k1000);
    EXPECT_TRUE(app.CreateProfile());
    EXPECT_EQ(app.m_strUpdateSiteURL, DefaultUpdateSiteURL());
    EXPECT_EQ(app.m_strProductVersion, L"1.0.0.0");
    EXPECT_EQ(app.m_strUrlIniPath, dir.Wide("url.ini"));
    EXPECT_EQ(Value(L"UpdateSiteURL"), DefaultUpdateSiteURL());
    EXPECT_EQ(Value(L"CurrentVersion"), L"1.0.0.0");
    EXPECT_EQ(Value(L"PassedVersion"), L"0.0.0.0");
    EXPECT_EQ(Value(L"DownloadedVersion"), L"0.0.0.0");
    EXPECT_EQ(Keys(), kFourKeys);
    EXPECT_FALSE(Exists(File("url.ini")));  // only read, never written
}

struct FirstRunCase {
    const char* name;
    std::optional<std::string> urlIni;
    std::optional<std::wstring> url;  // nullopt: no profile.ini is written
};

std::ostream& operator<<(std::ostream& os, const FirstRunCase& c) { return os << c.name; }

class FirstRunTest : public UpdateStateTest, public ::testing::WithParamInterface<FirstRunCase> {};

TEST_P(FirstRunTest, TakesUrlFromUrlIni) {
    const FirstRunCase& c = GetParam();
    Use(VersionSource::k1000);
    if (c.urlIni) {
        WriteBytes(File("url.ini"), *c.urlIni);
    }
    EXPECT_EQ(app.CreateProfile(), c.url.has_value());
    if (!c.url) {
        EXPECT_FALSE(Exists(File("profile.ini")));
        return;
    }
    EXPECT_EQ(app.m_strUpdateSiteURL, *c.url);
    EXPECT_EQ(Value(L"UpdateSiteURL"), *c.url);
    EXPECT_EQ(Keys(), kFourKeys);
}

const std::string kLongUrl = "http://h/" + std::string(1491, 'p');  // 1500 characters

INSTANTIATE_TEST_SUITE_P(
    Table, FirstRunTest,
    ::testing::Values(
        FirstRunCase{"no_url_ini", std::nullopt, DefaultUpdateSiteURL()},
        FirstRunCase{"url_given", "[URL]\r\nUpdateSiteURL=http://mirror/v.ini\r\n",
                     L"http://mirror/v.ini"},
        FirstRunCase{"names_any_case_quoted", "[url]\nupdatesiteurl=\"http://q/v.ini\"\n",
                     L"http://q/v.ini"},
        FirstRunCase{"key_missing", "[URL]\r\nOther=x\r\n", DefaultUpdateSiteURL()},
        FirstRunCase{"section_missing", "[Update]\r\nUpdateSiteURL=http://x/\r\n",
                     DefaultUpdateSiteURL()},
        FirstRunCase{"empty_url_writes_nothing", "[URL]\r\nUpdateSiteURL=\r\n", std::nullopt},
        FirstRunCase{"long_url_cut_to_1023", "[URL]\r\nUpdateSiteURL=" + kLongUrl + "\r\n",
                     std::wstring(kLongUrl.begin(), kLongUrl.begin() + 1023)}),
    [](const auto& info) { return std::string(info.param.name); });

class NoVersionTest : public UpdateStateTest,
                      public ::testing::WithParamInterface<VersionSource> {};

TEST_P(NoVersionTest, FirstRunWritesNothing) {
    Use(GetParam());
    EXPECT_FALSE(app.ReadProductVersion());
    EXPECT_FALSE(app.CreateProfile());
    EXPECT_FALSE(Exists(File("profile.ini")));
}

TEST_P(NoVersionTest, LaterRunKeepsVersionKeysButWritesMissingUrl) {
    Use(GetParam());
    const std::string before =
        "[Update]\r\nCurrentVersion=0.9.0.0\r\nDownloadedVersion=0.9.0.1\r\n";
    WriteBytes(File("profile.ini"), before);
    WriteBytes(File("url.ini"), "[URL]\r\nUpdateSiteURL=http://mirror/\r\n");
    EXPECT_FALSE(app.RefreshProfile());
    EXPECT_EQ(Value(L"UpdateSiteURL"), L"http://mirror/");
    EXPECT_EQ(Value(L"CurrentVersion"), L"0.9.0.0");
    EXPECT_EQ(Value(L"PassedVersion"), L"<missing>");
    EXPECT_EQ(Value(L"DownloadedVersion"), L"0.9.0.1");
}

INSTANTIATE_TEST_SUITE_P(Sources, NoVersionTest,
                         ::testing::Values(VersionSource::kNone, VersionSource::kOtherBlock,
                                           VersionSource::kEmpty));

struct LaterRunCase {
    const char* name;
    std::string profile;
    std::optional<std::string> urlIni;
    std::wstring appUrl;  // m_strUpdateSiteURL afterwards
    std::map<std::wstring, std::wstring> after;
    std::vector<std::string> keys;
};

std::ostream& operator<<(std::ostream& os, const LaterRunCase& c) { return os << c.name; }

class LaterRunTest : public UpdateStateTest, public ::testing::WithParamInterface<LaterRunCase> {};

TEST_P(LaterRunTest, RefreshesTheState) {
    const LaterRunCase& c = GetParam();
    Use(VersionSource::k1000);
    WriteBytes(File("profile.ini"), c.profile);
    if (c.urlIni) {
        WriteBytes(File("url.ini"), *c.urlIni);
    }
    EXPECT_TRUE(app.RefreshProfile());
    EXPECT_EQ(app.m_strUrlIniPath, dir.Wide("url.ini"));
    EXPECT_EQ(app.m_strUpdateSiteURL, c.appUrl);
    for (const auto& [key, value] : c.after) {
        EXPECT_EQ(Value(key.c_str()), value) << testing::PrintToString(key);
    }
    EXPECT_EQ(Keys(), c.keys);
}

const std::string kFull =
    "[Update]\r\nUpdateSiteURL=http://kept/\r\nCurrentVersion=0.9.0.0\r\n"
    "PassedVersion=1.2.3.4\r\nDownloadedVersion=1.0.0.1\r\n";
const std::string kMirror = "[URL]\r\nUpdateSiteURL=http://mirror/\r\n";
const std::string kForty = "1.2.3.4567890123456789012345678901234567";

INSTANTIATE_TEST_SUITE_P(
    Table, LaterRunTest,
    ::testing::Values(
        LaterRunCase{"url_kept_url_ini_unread",
                     kFull,
                     kMirror,
                     L"",
                     {{L"UpdateSiteURL", L"http://kept/"},
                      {L"CurrentVersion", L"1.0.0.0"},
                      {L"PassedVersion", L"1.2.3.4"},
                      {L"DownloadedVersion", L"1.0.0.1"}},
                     kFourKeys},
        LaterRunCase{"missing_url_copied_from_url_ini",
                     "[Update]\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\n"
                     "DownloadedVersion=0.0.0.0\r\n",
                     kMirror,
                     L"http://mirror/",
                     {{L"UpdateSiteURL", L"http://mirror/"}, {L"PassedVersion", L"0.0.0.0"}},
                     {"CurrentVersion", "PassedVersion", "DownloadedVersion", "UpdateSiteURL"}},
        LaterRunCase{"empty_url_gets_default",
                     "[Update]\r\nUpdateSiteURL=\r\nCurrentVersion=1.0.0.0\r\n"
                     "PassedVersion=0.0.0.0\r\nDownloadedVersion=0.0.0.0\r\n",
                     std::nullopt,
                     DefaultUpdateSiteURL(),
                     {{L"UpdateSiteURL", DefaultUpdateSiteURL()}},
                     kFourKeys},
        LaterRunCase{"empty_url_in_url_ini_written_too",
                     "[Update]\r\nCurrentVersion=1.0.0.0\r\n",
                     "[URL]\r\nUpdateSiteURL=\r\n",
                     L"",
                     {{L"UpdateSiteURL", L""},
                      {L"PassedVersion", L"0.0.0.0"},
                      {L"DownloadedVersion", L"0.0.0.0"}},
                     {"CurrentVersion", "UpdateSiteURL", "PassedVersion", "DownloadedVersion"}},
        LaterRunCase{"current_version_rewritten",
                     kFull,
                     std::nullopt,
                     L"",
                     {{L"CurrentVersion", L"1.0.0.0"}},
                     kFourKeys},
        LaterRunCase{"passed_and_downloaded_defaulted",
                     "[Update]\r\nUpdateSiteURL=http://kept/\r\nCurrentVersion=1.0.0.0\r\n"
                     "PassedVersion=\r\n",
                     std::nullopt,
                     L"",
                     {{L"PassedVersion", L"0.0.0.0"}, {L"DownloadedVersion", L"0.0.0.0"}},
                     kFourKeys},
        LaterRunCase{"long_version_kept_whole",
                     "[Update]\r\nUpdateSiteURL=http://kept/\r\nCurrentVersion=1.0.0.0\r\n"
                     "PassedVersion=" +
                         kForty + "\r\nDownloadedVersion=0.0.0.0\r\n",
                     std::nullopt,
                     L"",
                     {{L"PassedVersion", std::wstring(kForty.begin(), kForty.end())}},
                     kFourKeys},
        LaterRunCase{"section_missing_entirely",
                     "[Other]\r\nX=1\r\n",
                     std::nullopt,
                     DefaultUpdateSiteURL(),
                     {{L"UpdateSiteURL", DefaultUpdateSiteURL()},
                      {L"CurrentVersion", L"1.0.0.0"},
                      {L"PassedVersion", L"0.0.0.0"},
                      {L"DownloadedVersion", L"0.0.0.0"}},
                     kFourKeys}),
    [](const auto& info) { return std::string(info.param.name); });

struct PendingCase {
    const char* name;
    const char* downloaded;  // nullptr: key missing
    const char* current;
    const char* passed;
    bool installer;
    bool pending;
};

std::ostream& operator<<(std::ostream& os, const PendingCase& c) { return os << c.name; }

class InstallerPendingTest : public UpdateStateTest,
                             public ::testing::WithParamInterface<PendingCase> {};

TEST_P(InstallerPendingTest, OffersOrDeletes) {
    const PendingCase& c = GetParam();
    Use(VersionSource::k1000);
    std::string profile = "[Update]\r\nUpdateSiteURL=http://kept/\r\n";
    profile += std::string("CurrentVersion=") + c.current + "\r\n";
    profile += std::string("PassedVersion=") + c.passed + "\r\n";
    if (c.downloaded != nullptr) {
        profile += std::string("DownloadedVersion=") + c.downloaded + "\r\n";
    }
    WriteBytes(File("profile.ini"), profile);
    if (c.installer) {
        WriteBytes(File("slwintool_set_up.exe"), "installer");
    }
    EXPECT_EQ(app.IsInstallerPending(), c.pending);
    EXPECT_EQ(app.m_strInstallerPath, dir.Wide("slwintool_set_up.exe"));
    // The fields are filled whether or not there is an installer.
    auto wide = [](const char* s) { return s ? std::wstring(s, s + std::strlen(s)) : L""; };
    EXPECT_EQ(app.m_strCurrentVersion, wide(c.current).substr(0, 31));
    EXPECT_EQ(app.m_strPassedVersion, wide(c.passed).substr(0, 31));
    EXPECT_EQ(app.m_strDownloadedVersion, wide(c.downloaded).substr(0, 31));
    EXPECT_EQ(Exists(File("slwintool_set_up.exe")), c.installer && c.pending);
    EXPECT_EQ(ReadBytes(File("profile.ini")), profile);  // only read
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallerPendingTest,
    ::testing::Values(
        PendingCase{"newer_offered_and_kept", "1.0.0.1", "1.0.0.0", "0.0.0.0", true, true},
        PendingCase{"equal_deleted", "1.0.0.0", "1.0.0.0", "0.0.0.0", true, false},
        PendingCase{"first_place_decides", "0.9.9.9", "1.0.0.0", "0.0.0.0", true, false},
        PendingCase{"reset_by_quenlow_deleted", "0.0.0.0", "1.0.0.0", "0.0.0.0", true, false},
        PendingCase{"missing_downloaded_deleted", nullptr, "1.0.0.0", "0.0.0.0", true, false},
        PendingCase{"numbers_not_text", "1.10.0.0", "1.9.0.0", "0.0.0.0", true, true},
        PendingCase{"passed_ignored_high", "1.0.0.1", "1.0.0.0", "9.9.9.9", true, true},
        PendingCase{"passed_ignored_equal", "1.0.0.0", "1.0.0.0", "2.0.0.0", true, false},
        PendingCase{"no_installer_newer", "1.0.0.1", "1.0.0.0", "0.0.0.0", false, false},
        PendingCase{"no_installer_older", "0.9.9.9", "1.0.0.0", "1.2.3.4", false, false},
        PendingCase{"forty_chars_read_as_31", "1.2.3.4567890123456789012345678901234567", "1.2.3.4",
                    "0.0.0.0", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateStateTest, InstallerFolderIsNotDeletedAndNotPending) {
    Use(VersionSource::k1000);
    WriteBytes(File("profile.ini"), "[Update]\r\nCurrentVersion=1.0.0.0\r\n");
    std::filesystem::create_directory(File("slwintool_set_up.exe"));
    EXPECT_FALSE(app.IsInstallerPending());
    EXPECT_TRUE(Exists(File("slwintool_set_up.exe")));
}

// One start after another, as the finder runs them.
TEST_F(UpdateStateTest, FirstRunThenLaterRunDeletesStaleInstaller) {
    Use(VersionSource::k1000);
    WriteBytes(File("slwintool_set_up.exe"), "left over");
    EXPECT_TRUE(app.CreateProfile());
    EXPECT_FALSE(app.IsInstallerPending());
    EXPECT_FALSE(Exists(File("slwintool_set_up.exe")));

    CTobrelApp later;
    later.m_strAppDir = app.m_strAppDir;
    later.m_strProfilePath = app.m_strProfilePath;
    later.m_strModulePath = app.m_strModulePath;
    plat::WriteIniString(L"Update", L"DownloadedVersion", L"1.0.0.1", app.m_strProfilePath);
    WriteBytes(File("slwintool_set_up.exe"), "new installer");
    EXPECT_TRUE(later.RefreshProfile());
    EXPECT_TRUE(later.IsInstallerPending());
    EXPECT_EQ(Keys(), kFourKeys);
}

// Without a folder nothing is read or written anywhere.
TEST(UpdateStateNoFolder, StepsDoNothing) {
    CTobrelApp app;
    EXPECT_FALSE(app.CreateProfile());
    EXPECT_FALSE(app.RefreshProfile());
    EXPECT_FALSE(app.IsInstallerPending());
    EXPECT_TRUE(app.m_strUrlIniPath.empty());
    EXPECT_TRUE(app.m_strInstallerPath.empty());
}

// A profile path beyond the path limit is not cut into another file: the
// steps leave everything alone.
TEST_F(UpdateStateTest, ProfilePathBeyondLimitWritesNothing) {
    Use(VersionSource::k1000);
    const std::wstring deep =
        dir.Wide() + std::wstring(1, plat::kPathSeparator) + std::wstring(plat::kMaxPath, L'd');
    app.m_strAppDir = deep;
    app.m_strProfilePath = plat::JoinPath(deep, L"profile.ini");
    EXPECT_FALSE(app.CreateProfile());
    EXPECT_FALSE(app.RefreshProfile());
    EXPECT_FALSE(app.IsInstallerPending());
    EXPECT_FALSE(Exists(File("profile.ini")));
}

// The limit counts the terminator: a profile path of exactly that many
// characters does not fit, and is left alone like a longer one.
TEST_F(UpdateStateTest, ProfilePathOfExactlyTheLimitWritesNothing) {
    Use(VersionSource::k1000);
    const std::wstring base = dir.Wide() + std::wstring(1, plat::kPathSeparator);
    const std::size_t name = std::wstring(L"profile.ini").size() + 1;
    const std::wstring deep = base + std::wstring(plat::kMaxPath - base.size() - name, L'd');
    app.m_strAppDir = deep;
    app.m_strProfilePath = plat::JoinPath(deep, L"profile.ini");
    ASSERT_EQ(app.m_strProfilePath.size(), plat::kMaxPath);
    EXPECT_FALSE(app.CreateProfile());
    EXPECT_FALSE(app.RefreshProfile());
    EXPECT_FALSE(app.IsInstallerPending());
}

// The running program's own paths: its folder and profile.ini beside it.
TEST(UpdateStateInitPaths, ProfileBesideTheProgram) {
    CTobrelApp app;
    app.InitPaths();
    ASSERT_FALSE(app.m_strModulePath.empty());
    EXPECT_EQ(app.m_strModulePath.rfind(app.m_strAppDir, 0), 0u);
    EXPECT_GT(app.m_strModulePath.size(), app.m_strAppDir.size() + 1);
    const std::wstring tail = app.m_strProfilePath.substr(app.m_strAppDir.size());
    EXPECT_EQ(tail.substr(1), L"profile.ini");
}

}  // namespace
