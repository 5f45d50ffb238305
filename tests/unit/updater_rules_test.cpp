#include <gtest/gtest.h>

#include "common/version.h"
#include "updater/version_file.h"

namespace {

using updater::HasArgumentsAfterProgramName;
using updater::InstallerFileName;
using updater::IsSafeInstallerName;
using updater::ParseContentLength;
using updater::ParseVersionFile;
using updater::SplitHttpUrl;

struct VersionFileCase {
    const char* name;
    const wchar_t* text;
    bool valid;
    const wchar_t* latest;
    const wchar_t* url;
};

class VersionFileTest : public ::testing::TestWithParam<VersionFileCase> {};

TEST_P(VersionFileTest, ReadsTheTwoLinesByPosition) {
    const auto& c = GetParam();
    const auto file = ParseVersionFile(c.text);
    ASSERT_EQ(file.has_value(), c.valid);
    if (c.valid) {
        EXPECT_EQ(file->latestVersion, c.latest);
        EXPECT_EQ(file->installerURL, c.url);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionFileTest,
    ::testing::Values(
        VersionFileCase{"Lf", L"LatestVersion=1.0.0.2\nURL=http://h/d/slwintool_set_up.exe\n", true,
                        L"1.0.0.2", L"http://h/d/slwintool_set_up.exe"},
        VersionFileCase{"NoFinalLf", L"LatestVersion=1.0.0.2\nURL=http://h/a.exe", true, L"1.0.0.2",
                        L"http://h/a.exe"},
        // One CR before the LF is the line end, not part of the value.
        VersionFileCase{"CrLf", L"LatestVersion=1.0.0.2\r\nURL=http://h/a.exe\r\n", true,
                        L"1.0.0.2", L"http://h/a.exe"},
        VersionFileCase{"CrAtEndOfText", L"LatestVersion=1.0.0.2\r\nURL=http://h/a.exe\r", true,
                        L"1.0.0.2", L"http://h/a.exe"},
        // Only one CR goes.
        VersionFileCase{"TwoCrs", L"LatestVersion=1.0.0.2\r\r\nURL=http://h/a.exe\r\n", true,
                        L"1.0.0.2\r", L"http://h/a.exe"},
        VersionFileCase{"EmptyLinesSkipped", L"\n\nLatestVersion=1.0.0.2\n\n\nURL=http://h/a.exe\n",
                        true, L"1.0.0.2", L"http://h/a.exe"},
        // A blank CR LF line is a lone CR: it takes a place.
        VersionFileCase{"BlankCrLfLineFirst", L"\r\nLatestVersion=1.0.0.2\r\nURL=http://h/a\r\n",
                        false, L"", L""},
        VersionFileCase{"BlankCrLfLineBetween", L"LatestVersion=1.0.0.2\r\n\r\nURL=http://h/a\r\n",
                        false, L"", L""},
        VersionFileCase{"Bom", L"\xFEFFLatestVersion=1.0.0.2\nURL=http://h/a.exe\n", true,
                        L"1.0.0.2", L"http://h/a.exe"},
        VersionFileCase{"BlanksStay", L"LatestVersion = 1.0.0.2\nURL= http://h/a.exe \n", true,
                        L" 1.0.0.2", L" http://h/a.exe "},
        VersionFileCase{"FirstEqualsSplits", L"x=LatestVersion=1\nURL=http://h/a?b=c\n", true,
                        L"LatestVersion=1", L"http://h/a?b=c"},
        VersionFileCase{"KeyAnywhereInLine", L"#LatestVersion#=2.0.0.0\n--URL--=u\n", true,
                        L"2.0.0.0", L"u"},
        VersionFileCase{"SectionLine", L"[Update]\nLatestVersion=1.0.0.2\nURL=http://h/a\n", false,
                        L"", L""},
        VersionFileCase{"OtherCase", L"latestversion=1.0.0.2\nURL=http://h/a\n", false, L"", L""},
        VersionFileCase{"NoEquals", L"LatestVersion 1.0.0.2\nURL=http://h/a\n", false, L"", L""},
        VersionFileCase{"EmptyUrl", L"LatestVersion=1.0.0.2\nURL=\n", false, L"", L""},
        VersionFileCase{"EmptyUrlCrLf", L"LatestVersion=1.0.0.2\r\nURL=\r\n", false, L"", L""},
        VersionFileCase{"EmptyVersion", L"LatestVersion=\nURL=http://h/a\n", false, L"", L""},
        VersionFileCase{"Swapped", L"URL=http://h/a\nLatestVersion=1.0.0.2\n", false, L"", L""},
        VersionFileCase{"OneLine", L"LatestVersion=1.0.0.2\n", false, L"", L""},
        VersionFileCase{"Empty", L"", false, L"", L""},
        VersionFileCase{"OnlyLfs", L"\n\n\n", false, L"", L""},
        VersionFileCase{"LaterLinesIgnored",
                        L"LatestVersion=3\nURL=http://h/b\nLatestVersion=9\ngarbage", true, L"3",
                        L"http://h/b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionFile, CrLfVersionStillParsesToFourNumbers) {
    const auto file = ParseVersionFile(L"LatestVersion=1.0.0.2\r\nURL=http://h/a\r\n");
    ASSERT_TRUE(file);
    EXPECT_EQ(ParseVersion(file->latestVersion), (VersionNumbers{1, 0, 0, 2}));
}

struct SplitCase {
    const wchar_t* url;
    const wchar_t* host;
    const wchar_t* object;
};

class SplitHttpUrlTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitHttpUrlTest, HostAndObject) {
    const auto parts = SplitHttpUrl(GetParam().url);
    EXPECT_EQ(parts.host, GetParam().host) << GetParam().url;
    EXPECT_EQ(parts.object, GetParam().object) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitHttpUrlTest,
    ::testing::Values(SplitCase{L"http://host/dir/file.exe", L"host", L"/dir/file.exe"},
                      SplitCase{L"http://host:81/x", L"host:81", L"/x"},
                      SplitCase{L"http://host/", L"host", L"/"},
                      SplitCase{L"http://h/a?b=c/d", L"h", L"/a?b=c/d"},
                      SplitCase{L"http://user:pw@h/x", L"user:pw@h", L"/x"},
                      // No "/" after the scheme: no host, the rest is the object.
                      SplitCase{L"http://host", L"", L"host"},
                      // The first seven characters go unseen, whatever they are.
                      SplitCase{L"https://host/x", L"", L"/host/x"},
                      SplitCase{L"ftp://h/x", L"", L"/x"}, SplitCase{L"http", L"", L""},
                      SplitCase{L"", L"", L""}));

struct NameCase {
    const wchar_t* url;
    const wchar_t* name;
    bool safe;
};

class InstallerNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(InstallerNameTest, LastPartAndItsSafety) {
    const std::wstring name = InstallerFileName(GetParam().url);
    EXPECT_EQ(name, GetParam().name) << GetParam().url;
    EXPECT_EQ(IsSafeInstallerName(name), GetParam().safe) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallerNameTest,
    ::testing::Values(
        NameCase{L"http://host/dir/file.exe", L"file.exe", true},
        NameCase{L"http://h/installer/slwintool_set_up.exe", L"slwintool_set_up.exe", true},
        NameCase{L"http://h\\a\\b.exe", L"b.exe", true},
        NameCase{L"http://h/a:b.exe", L"b.exe", true},
        // A trailing separator is not followed by a name: the last part keeps it.
        NameCase{L"http://h/dir/", L"dir/", false}, NameCase{L"http://h/dir//", L"dir//", false},
        NameCase{L"http://h/..", L"..", false}, NameCase{L"http://h/.", L".", false},
        NameCase{L"", L"", false}, NameCase{L"file.exe", L"file.exe", true},
        NameCase{L"http://h/get?f=a.exe", L"get?f=a.exe", false},
        NameCase{L"http://h/a.exe\r", L"a.exe\r", false},
        NameCase{L"http://h/a.exe.", L"a.exe.", false},
        NameCase{L"http://h/a.exe ", L"a.exe ", false}, NameCase{L"http://h/NUL", L"NUL", false},
        NameCase{L"http://h/nul.exe", L"nul.exe", false},
        NameCase{L"http://h/com1.exe", L"com1.exe", false},
        NameCase{L"http://h/LPT9", L"LPT9", false},
        // Windows reserves the 0 and the superscript digits as well, and
        // finds a device name with blanks after it.
        NameCase{L"http://h/COM0.exe", L"COM0.exe", false},
        NameCase{L"http://h/lpt0", L"lpt0", false},
        NameCase{L"http://h/COM\x00B9.exe", L"COM\x00B9.exe", false},
        NameCase{L"http://h/lpt\x00B3", L"lpt\x00B3", false},
        NameCase{L"http://h/NUL .exe", L"NUL .exe", false},
        NameCase{L"http://h/COMA.exe", L"COMA.exe", true},
        NameCase{L"http://h/console.exe", L"console.exe", true},
        NameCase{L"http://h/COM10.exe", L"COM10.exe", true},
        NameCase{L"http://h/a<b>.exe", L"a<b>.exe", false},
        NameCase{L"http://h/\x30BD\x30EB.exe", L"\x30BD\x30EB.exe", true}));

struct ArgsCase {
    const wchar_t* commandLine;
    bool hasArguments;
};

class CommandLineTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(CommandLineTest, AnythingAfterTheProgramName) {
    EXPECT_EQ(HasArgumentsAfterProgramName(GetParam().commandLine), GetParam().hasArguments)
        << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineTest,
    ::testing::Values(ArgsCase{L"Updater.exe", false}, ArgsCase{L"Updater.exe   ", false},
                      ArgsCase{L"Updater.exe \t\r\n", false},
                      ArgsCase{L"\"C:\\Program Files\\S\\Updater.exe\"", false},
                      ArgsCase{L"\"C:\\Program Files\\S\\Updater.exe\"  ", false},
                      ArgsCase{L"\"C:\\Program Files\\S\\Updater.exe\" x", true},
                      ArgsCase{L"\"C:\\Program Files\\S\\Updater.exe\"x", false},
                      ArgsCase{L"Updater.exe /x", true}, ArgsCase{L"Updater.exe \"\"", true},
                      ArgsCase{L"C:\\Program Files\\S\\Updater.exe", true}, ArgsCase{L"", false}));

TEST(ContentLength, LeadingDigitsOnly) {
    EXPECT_EQ(ParseContentLength(""), 0u);
    EXPECT_EQ(ParseContentLength("abc"), 0u);
    EXPECT_EQ(ParseContentLength("0"), 0u);
    EXPECT_EQ(ParseContentLength("1234"), 1234u);
    EXPECT_EQ(ParseContentLength("12x4"), 12u);
    EXPECT_EQ(ParseContentLength(" 12"), 0u);
    EXPECT_EQ(ParseContentLength("268435456"), 268435456u);
    EXPECT_EQ(ParseContentLength("4294967296"), 4294967296u);
    EXPECT_EQ(ParseContentLength("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(ParseContentLength("18446744073709551616").has_value());
}

}  // namespace
