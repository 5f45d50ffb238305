// One table of INI reads and writes, held against both halves of the profile
// layer: natively against our own INI rules, cross-built under Wine against
// GetPrivateProfileStringW / WritePrivateProfileStringW.
#include "platform/profile.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/state/state_support.h"

namespace {

using statetest::KeysOf;
using statetest::ReadBytes;
using statetest::TempFolder;
using statetest::WriteBytes;

// text (ASCII) as UTF-16 little-endian with its byte-order mark, as Notepad
// saves "Unicode".
std::string Utf16Le(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (const char c : text) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

const std::string kForty = "1.2.3.4567890123456789012345678901234567";  // 40 characters

struct ReadCase {
    const char* name;
    std::optional<std::string> file;  // nullopt: no file at all
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* defaultValue;
    std::size_t capacity;
    std::wstring expected;
};

std::ostream& operator<<(std::ostream& os, const ReadCase& c) { return os << c.name; }

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, GivesValueOrDefault) {
    const ReadCase& c = GetParam();
    TempFolder dir;
    if (c.file) {
        WriteBytes(dir.Path() / "profile.ini", *c.file);
    }
    const std::wstring value =
        plat::ReadIniString(c.section, c.key, c.defaultValue, c.capacity, dir.Wide("profile.ini"));
    EXPECT_EQ(value, c.expected);
    // A read never creates or changes the file.
    if (c.file) {
        EXPECT_EQ(ReadBytes(dir.Path() / "profile.ini"), *c.file);
    } else {
        EXPECT_FALSE(statetest::Exists(dir.Path() / "profile.ini"));
    }
}

const std::string kProfile =
    "[Update]\r\nUpdateSiteURL=http://site/latestversion.ini\r\nCurrentVersion=1.0.0.0\r\n"
    "PassedVersion=0.0.0.0\r\nDownloadedVersion=1.0.0.1\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileReadTest,
    ::testing::Values(
        ReadCase{"plain", kProfile, L"Update", L"DownloadedVersion", L"", 32, L"1.0.0.1"},
        ReadCase{"section_any_case", kProfile, L"UPDATE", L"CurrentVersion", L"", 32, L"1.0.0.0"},
        ReadCase{"key_any_case", kProfile, L"update", L"currentversion", L"", 32, L"1.0.0.0"},
        ReadCase{"file_names_any_case", "[uPdAtE]\r\ncurrentVERSION=2.0.0.0\r\n", L"Update",
                 L"CurrentVersion", L"", 32, L"2.0.0.0"},
        ReadCase{"blanks_around", "  [Update]  \r\n  CurrentVersion \t=  1.2.3.4  \r\n", L"Update",
                 L"CurrentVersion", L"", 32, L"1.2.3.4"},
        ReadCase{"wanted_names_trimmed", kProfile, L" Update ", L" CurrentVersion ", L"", 32,
                 L"1.0.0.0"},
        ReadCase{"double_quotes", "[Update]\r\nUpdateSiteURL=\"http://a b/\"\r\n", L"Update",
                 L"UpdateSiteURL", L"", 260, L"http://a b/"},
        ReadCase{"single_quotes", "[Update]\r\nPassedVersion='1.2.3.4'\r\n", L"Update",
                 L"PassedVersion", L"", 32, L"1.2.3.4"},
        ReadCase{"quotes_inside_kept", "[Update]\r\nPassedVersion=\"\"x\"\"\r\n", L"Update",
                 L"PassedVersion", L"", 32, L"\"x\""},
        ReadCase{"unmatched_quote_kept", "[Update]\r\nPassedVersion=\"1.2\r\n", L"Update",
                 L"PassedVersion", L"", 32, L"\"1.2"},
        ReadCase{"lone_quote_kept", "[Update]\r\nPassedVersion=\"\r\n", L"Update", L"PassedVersion",
                 L"", 32, L"\""},
        ReadCase{"forty_cut_to_31", "[Update]\r\nCurrentVersion=" + kForty + "\r\n", L"Update",
                 L"CurrentVersion", L"", 32, L"1.2.3.4567890123456789012345678"},
        ReadCase{"exactly_31_whole", "[Update]\r\nCurrentVersion=" + kForty.substr(0, 31) + "\r\n",
                 L"Update", L"CurrentVersion", L"", 32, L"1.2.3.4567890123456789012345678"},
        ReadCase{"capacity_one", kProfile, L"Update", L"CurrentVersion", L"", 1, L""},
        ReadCase{"default_cut", std::nullopt, L"Update", L"CurrentVersion", L"0123456789", 5,
                 L"0123"},
        ReadCase{"no_file", std::nullopt, L"Update", L"CurrentVersion", L"dflt", 32, L"dflt"},
        ReadCase{"empty_file", "", L"Update", L"CurrentVersion", L"dflt", 32, L"dflt"},
        ReadCase{"no_section", "[Other]\r\nCurrentVersion=9.9.9.9\r\n", L"Update",
                 L"CurrentVersion", L"dflt", 32, L"dflt"},
        ReadCase{"no_key", kProfile, L"Update", L"Missing", L"dflt", 32, L"dflt"},
        ReadCase{"key_of_later_section_only",
                 "[Update]\r\nA=1\r\n[Other]\r\nCurrentVersion=9.9.9.9\r\n", L"Update",
                 L"CurrentVersion", L"dflt", 32, L"dflt"},
        ReadCase{"empty_value_not_default", "[Update]\r\nPassedVersion=\r\n", L"Update",
                 L"PassedVersion", L"dflt", 32, L""},
        ReadCase{"line_without_equals_is_default", "[Update]\r\nPassedVersion\r\n", L"Update",
                 L"PassedVersion", L"dflt", 32, L"dflt"},
        ReadCase{"first_duplicate_wins", "[Update]\r\nA=1\r\nA=2\r\n", L"Update", L"A", L"", 32,
                 L"1"},
        ReadCase{"first_section_wins", "[Update]\r\nB=1\r\n[Update]\r\nA=2\r\n", L"Update", L"A",
                 L"dflt", 32, L"dflt"},
        ReadCase{"default_trailing_spaces_dropped", std::nullopt, L"Update", L"A", L"dflt  ", 32,
                 L"dflt"},
        ReadCase{"lf_file", "[Update]\nCurrentVersion=1.0.0.0\nPassedVersion=1.2.3.4\n", L"Update",
                 L"PassedVersion", L"", 32, L"1.2.3.4"},
        ReadCase{"section_name_blanks_inside", "[ Update\t]\r\nA=1\r\n", L"Update", L"A", L"", 32,
                 L"1"},
        ReadCase{"bracket_without_close_is_no_section", "[Update\r\nA=1\r\n", L"Update", L"A",
                 L"dflt", 32, L"dflt"},
        ReadCase{"text_after_bracket", "[Update] ; state\r\nA=1\r\n", L"Update", L"A", L"dflt", 32,
                 L"1"},
        ReadCase{"cr_only_file", "[Update]\rA=1\rB=2\r", L"Update", L"B", L"", 32, L"2"},
        ReadCase{"mixed_line_ends", "[Update]\nA=1\r\nB=2\nC=3", L"Update", L"C", L"", 32, L"3"},
        ReadCase{"no_final_line_end", "[Update]\r\nA=last", L"Update", L"A", L"", 32, L"last"},
        ReadCase{"utf8_bom", "\xEF\xBB\xBF[Update]\r\nA=1\r\n", L"Update", L"A", L"", 32, L"1"},
        ReadCase{"utf16le_bom", Utf16Le("[Update]\r\nCurrentVersion=1.0.0.2\r\n"), L"Update",
                 L"CurrentVersion", L"", 32, L"1.0.0.2"},
        ReadCase{"blank_lines_and_comments", "\r\n; state\r\n[Update]\r\n\r\n; note\r\nA=1\r\n\r\n",
                 L"Update", L"A", L"", 32, L"1"},
        ReadCase{"url_ini", "[URL]\r\nUpdateSiteURL=http://mirror/latestversion.ini\r\n", L"URL",
                 L"UpdateSiteURL", L"http://default/", 260, L"http://mirror/latestversion.ini"}),
    [](const auto& info) { return std::string(info.param.name); });

// A write followed by reads of every key: what a later program sees.
struct WriteCase {
    const char* name;
    std::optional<std::string> file;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> writes;  // key, value in [Update]
    std::vector<std::pair<const wchar_t*, const wchar_t*>> reads;   // key, expected value
    std::vector<std::string> keys;                                  // [Update] keys, in order
};

std::ostream& operator<<(std::ostream& os, const WriteCase& c) { return os << c.name; }

class ProfileWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriteTest, SetsOneKeyKeepsTheRest) {
    const WriteCase& c = GetParam();
    TempFolder dir;
    const auto path = dir.Path() / "profile.ini";
    if (c.file) {
        WriteBytes(path, *c.file);
    }
    for (const auto& [key, value] : c.writes) {
        EXPECT_TRUE(plat::WriteIniString(L"Update", key, value, dir.Wide("profile.ini")));
    }
    for (const auto& [key, expected] : c.reads) {
        EXPECT_EQ(plat::ReadIniString(L"Update", key, L"missing", 260, dir.Wide("profile.ini")),
                  expected)
            << "key " << testing::PrintToString(std::wstring(key));
    }
    EXPECT_EQ(KeysOf(ReadBytes(path), "Update"), c.keys);
}

const std::string kFour =
    "[Update]\r\nUpdateSiteURL=http://site/\r\nCurrentVersion=0.9.0.0\r\n"
    "PassedVersion=1.2.3.4\r\nDownloadedVersion=1.0.0.1\r\n";
const std::vector<std::string> kFourKeys{"UpdateSiteURL", "CurrentVersion", "PassedVersion",
                                         "DownloadedVersion"};

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileWriteTest,
    ::testing::Values(
        WriteCase{"creates_file_and_section",
                  std::nullopt,
                  {{L"DownloadedVersion", L"0.0.0.0"}},
                  {{L"DownloadedVersion", L"0.0.0.0"}, {L"CurrentVersion", L"missing"}},
                  {"DownloadedVersion"}},
        WriteCase{"keys_in_written_order",
                  std::nullopt,
                  {{L"UpdateSiteURL", L"http://site/"},
                   {L"CurrentVersion", L"1.0.0.0"},
                   {L"PassedVersion", L"0.0.0.0"},
                   {L"DownloadedVersion", L"0.0.0.0"}},
                  {{L"UpdateSiteURL", L"http://site/"}, {L"CurrentVersion", L"1.0.0.0"}},
                  kFourKeys},
        WriteCase{"replace_keeps_others_and_order",
                  kFour,
                  {{L"CurrentVersion", L"1.0.0.0"}},
                  {{L"UpdateSiteURL", L"http://site/"},
                   {L"CurrentVersion", L"1.0.0.0"},
                   {L"PassedVersion", L"1.2.3.4"},
                   {L"DownloadedVersion", L"1.0.0.1"}},
                  kFourKeys},
        WriteCase{"replace_any_case_keeps_one_key",
                  kFour,
                  {{L"downloadedversion", L"0.0.0.0"}},
                  {{L"DownloadedVersion", L"0.0.0.0"}, {L"PassedVersion", L"1.2.3.4"}},
                  kFourKeys},
        WriteCase{"new_key_at_end_of_its_section",
                  "[Update]\r\nCurrentVersion=1.0.0.0\r\n\r\n[Other]\r\nX=1\r\n",
                  {{L"PassedVersion", L"0.0.0.0"}},
                  {{L"CurrentVersion", L"1.0.0.0"}, {L"PassedVersion", L"0.0.0.0"}},
                  {"CurrentVersion", "PassedVersion"}},
        WriteCase{"section_added_to_other_file",
                  "[Other]\r\nX=1\r\n",
                  {{L"DownloadedVersion", L"0.0.0.0"}},
                  {{L"DownloadedVersion", L"0.0.0.0"}},
                  {"DownloadedVersion"}},
        WriteCase{"empty_value_written",
                  kFour,
                  {{L"UpdateSiteURL", L""}},
                  {{L"UpdateSiteURL", L""}, {L"CurrentVersion", L"0.9.0.0"}},
                  kFourKeys},
        WriteCase{"lf_file",
                  "[Update]\nUpdateSiteURL=http://site/\nCurrentVersion=0.9.0.0\n"
                  "PassedVersion=1.2.3.4\nDownloadedVersion=1.0.0.1\n",
                  {{L"CurrentVersion", L"1.0.0.0"}, {L"DownloadedVersion", L"0.0.0.0"}},
                  {{L"UpdateSiteURL", L"http://site/"},
                   {L"CurrentVersion", L"1.0.0.0"},
                   {L"PassedVersion", L"1.2.3.4"},
                   {L"DownloadedVersion", L"0.0.0.0"}},
                  kFourKeys},
        WriteCase{"lf_file_new_key",
                  "[Update]\nCurrentVersion=1.0.0.0\n",
                  {{L"PassedVersion", L"0.0.0.0"}},
                  {{L"CurrentVersion", L"1.0.0.0"}, {L"PassedVersion", L"0.0.0.0"}},
                  {"CurrentVersion", "PassedVersion"}},
        WriteCase{"cr_only_file_new_key",
                  "[Update]\rCurrentVersion=1.0.0.0\r",
                  {{L"PassedVersion", L"0.0.0.0"}},
                  {{L"CurrentVersion", L"1.0.0.0"}, {L"PassedVersion", L"0.0.0.0"}},
                  {"CurrentVersion", "PassedVersion"}},
        WriteCase{"no_final_line_end",
                  "[Update]\r\nCurrentVersion=1.0.0.0",
                  {{L"PassedVersion", L"0.0.0.0"}},
                  {{L"CurrentVersion", L"1.0.0.0"}, {L"PassedVersion", L"0.0.0.0"}},
                  {"CurrentVersion", "PassedVersion"}},
        WriteCase{"utf8_bom_kept_readable",
                  "\xEF\xBB\xBF[Update]\r\nCurrentVersion=0.9.0.0\r\n",
                  {{L"CurrentVersion", L"1.0.0.0"}},
                  {{L"CurrentVersion", L"1.0.0.0"}},
                  {"CurrentVersion"}},
        WriteCase{"same_value_twice",
                  std::nullopt,
                  {{L"DownloadedVersion", L"0.0.0.0"}, {L"DownloadedVersion", L"0.0.0.0"}},
                  {{L"DownloadedVersion", L"0.0.0.0"}},
                  {"DownloadedVersion"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A UTF-16 file stays UTF-16: rewritten in another encoding, every other
// reader of it would lose its keys.
TEST(ProfileWrite, Utf16FileStaysUtf16) {
    TempFolder dir;
    const auto path = dir.Path() / "profile.ini";
    WriteBytes(path, Utf16Le("[Update]\r\nCurrentVersion=0.9.0.0\r\nPassedVersion=1.2.3.4\r\n"));
    EXPECT_TRUE(
        plat::WriteIniString(L"Update", L"CurrentVersion", L"1.0.0.0", dir.Wide("profile.ini")));
    EXPECT_TRUE(
        plat::WriteIniString(L"Update", L"DownloadedVersion", L"0.0.0.0", dir.Wide("profile.ini")));
    const std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find(Utf16Le("CurrentVersion=1.0.0.0").substr(2)), std::string::npos);
    EXPECT_NE(bytes.find(Utf16Le("DownloadedVersion=0.0.0.0").substr(2)), std::string::npos);
    EXPECT_EQ(plat::ReadIniString(L"Update", L"PassedVersion", L"", 32, dir.Wide("profile.ini")),
              L"1.2.3.4");
    EXPECT_EQ(plat::ReadIniString(L"Update", L"CurrentVersion", L"", 32, dir.Wide("profile.ini")),
              L"1.0.0.0");
}

// A file created from nothing: one section, one key, CR LF line ends.
TEST(ProfileWrite, NewFileBytes) {
    TempFolder dir;
    plat::WriteIniString(L"Update", L"DownloadedVersion", L"0.0.0.0", dir.Wide("profile.ini"));
    std::string bytes = ReadBytes(dir.Path() / "profile.ini");
    // Some implementations start the file with a blank line before the section.
    if (bytes.rfind("\r\n", 0) == 0) {
        bytes.erase(0, 2);
    }
    EXPECT_EQ(bytes, "[Update]\r\nDownloadedVersion=0.0.0.0\r\n");
}

// A key that a CR LF file lacks is added with CR LF after the last entry of
// its section, the rest of the file byte for byte as it was.
TEST(ProfileWrite, MissingKeyJoinsACrLfFileWithCrLf) {
    TempFolder dir;
    const auto path = dir.Path() / "profile.ini";
    WriteBytes(path, "[Update]\r\nCurrentVersion=1.0.0.0\r\n[Other]\r\nX=1\r\n");
    plat::WriteIniString(L"Update", L"DownloadedVersion", L"0.0.0.0", dir.Wide("profile.ini"));
    EXPECT_EQ(ReadBytes(path),
              "[Update]\r\nCurrentVersion=1.0.0.0\r\nDownloadedVersion=0.0.0.0\r\n"
              "[Other]\r\nX=1\r\n");
}

// A second write of the same value leaves the bytes as they were.
TEST(ProfileWrite, SameValueChangesNothing) {
    TempFolder dir;
    const auto path = dir.Path() / "profile.ini";
    WriteBytes(path, kFour);
    plat::WriteIniString(L"Update", L"PassedVersion", L"1.2.3.4", dir.Wide("profile.ini"));
    EXPECT_EQ(ReadBytes(path), kFour);
}

// A write into a folder that does not exist fails and creates nothing.
TEST(ProfileWrite, MissingFolderFails) {
    TempFolder dir;
    const std::wstring file = dir.Wide("absent") + std::wstring(1, L'/') + L"profile.ini";
    EXPECT_FALSE(plat::WriteIniString(L"Update", L"A", L"1", file));
    EXPECT_FALSE(statetest::Exists(dir.Path() / "absent"));
}

// A read-only file is not written (the Windows read-only attribute; no
// write bit on POSIX) and keeps its keys.
TEST(ProfileWrite, ReadOnlyFileUnchanged) {
    TempFolder dir;
    const auto path = dir.Path() / "profile.ini";
    WriteBytes(path, kFour);
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
#ifdef _WIN32
    // Wine run by root opens read-only files for writing all the same.
    const HANDLE probe = CreateFileW(dir.Wide("profile.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        GTEST_SKIP() << "this host does not enforce read-only files";
    }
#endif
    EXPECT_FALSE(
        plat::WriteIniString(L"Update", L"PassedVersion", L"0.0.0.0", dir.Wide("profile.ini")));
    EXPECT_EQ(ReadBytes(path), kFour);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

}  // namespace
