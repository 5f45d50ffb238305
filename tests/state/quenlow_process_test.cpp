// Quenlow run as a real process from a folder of its own: natively, or the
// Windows program under the run's Wine prefix (SL_QUENLOW_UNDER_WINE).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/state/pe_image.h"
#include "tests/support/process.h"
#include "tests/support/testlan.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

#ifdef SL_QUENLOW_UNDER_WINE
constexpr bool kUnderWine = true;
#else
constexpr bool kUnderWine = false;
#endif

fs::path Program() {
    if (kUnderWine) {
        return testsupport::DistDir("windows") / "Quenlow.exe";
    }
    return SL_QUENLOW_NATIVE;
}

// Longest folder (in characters) whose profile path still fits the path
// limit: 259 on Windows ("Z:" comes before the Unix path), 4095 on Linux.
constexpr std::size_t kProfileNameLength = 12;  // separator + "profile.ini"
std::size_t LongestFolder() {
    return kUnderWine ? 259 - kProfileNameLength - 2 : 4095 - kProfileNameLength;
}

// Blank lines dropped, the rest trimmed: two files that any INI reader reads
// alike compare equal.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos) {
            lines.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
        }
    }
    return lines;
}

class QuenlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kUnderWine) {
            SL_REQUIRE_WINE();
        }
        SL_REQUIRE_WORLD(fs::exists(Program()), "missing " << Program(),
                         "not built: " << Program());
    }

    // Copies the program into folder and runs it there with args.
    testsupport::ProcessResult Run(const fs::path& folder, std::vector<std::string> args = {}) {
        const fs::path exe = folder / Program().filename();
        if (!fs::exists(exe)) {
            fs::copy_file(Program(), exe);
        }
        std::vector<std::string> argv{exe.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        if (kUnderWine) {
            argv = testsupport::UnderWine(argv);
        }
        testsupport::ProcessOptions options;
        options.cwd = tmp.Path().string();
        options.extraEnv = {"WINEDEBUG=-all"};
        options.timeout = std::chrono::seconds(60);
        return testsupport::RunProcess(argv, options);
    }

    void ExpectQuietSuccess(const testsupport::ProcessResult& result) {
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "");
        if (!kUnderWine) {  // Wine itself may speak on standard error
            EXPECT_EQ(result.err, "");
        }
    }

    fs::path Profile() const { return tmp.Path() / "profile.ini"; }

    TempDir tmp{"slquenlow"};
};

TEST_F(QuenlowTest, CreatesProfileWithTheOneKey) {
    ExpectQuietSuccess(Run(tmp.Path()));
    std::string bytes = ReadFile(Profile());
    if (kUnderWine && bytes.rfind("\r\n", 0) == 0) {
        bytes.erase(0, 2);  // Wine may open the file with a blank line
    }
    EXPECT_EQ(bytes, "[Update]\r\nDownloadedVersion=0.0.0.0\r\n");
}

struct KeepCase {
    const char* name;
    std::string before;
    std::string after;
};

std::ostream& operator<<(std::ostream& os, const KeepCase& c) { return os << c.name; }

class QuenlowKeepTest : public QuenlowTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(QuenlowKeepTest, ChangesOnlyDownloadedVersion) {
    WriteFile(Profile(), GetParam().before);
    ExpectQuietSuccess(Run(tmp.Path()));
    EXPECT_EQ(Lines(ReadFile(Profile())), Lines(GetParam().after));
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuenlowKeepTest,
    ::testing::Values(
        KeepCase{"four_keys",
                 "[Update]\r\nUpdateSiteURL=http://site/v.ini\r\nCurrentVersion=1.0.0.0\r\n"
                 "PassedVersion=1.2.3.4\r\nDownloadedVersion=1.0.0.1\r\n",
                 "[Update]\r\nUpdateSiteURL=http://site/v.ini\r\nCurrentVersion=1.0.0.0\r\n"
                 "PassedVersion=1.2.3.4\r\nDownloadedVersion=0.0.0.0\r\n"},
        KeepCase{"key_missing_appended",
                 "[Update]\r\nUpdateSiteURL=http://site/v.ini\r\nCurrentVersion=1.0.0.0\r\n"
                 "[Other]\r\nX=1\r\n",
                 "[Update]\r\nUpdateSiteURL=http://site/v.ini\r\nCurrentVersion=1.0.0.0\r\n"
                 "DownloadedVersion=0.0.0.0\r\n[Other]\r\nX=1\r\n"},
        KeepCase{"section_missing_added", "[Other]\r\nX=1\r\n",
                 "[Other]\r\nX=1\r\n[Update]\r\nDownloadedVersion=0.0.0.0\r\n"},
        KeepCase{"lf_file_any_case",
                 "[update]\nCurrentVersion=1.0.0.0\ndownloadedversion=2.0.0.0\n",
                 "[update]\nCurrentVersion=1.0.0.0\ndownloadedversion=0.0.0.0\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuenlowTest, ArgumentsChangeNothing) {
    const std::string before =
        "[Update]\r\nCurrentVersion=1.0.0.0\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(Profile(), before);
    ExpectQuietSuccess(Run(tmp.Path(), {"/uninstall", "--help", "-x", "a b", ""}));
    const std::string withArgs = ReadFile(Profile());

    TempDir other{"slquenlow"};
    WriteFile(other.Path() / "profile.ini", before);
    ExpectQuietSuccess(Run(other.Path()));
    EXPECT_EQ(ReadFile(other.Path() / "profile.ini"), withArgs);
}

TEST_F(QuenlowTest, SecondRunChangesNothing) {
    WriteFile(Profile(), "[Update]\r\nCurrentVersion=1.0.0.0\r\nDownloadedVersion=1.0.0.1\r\n");
    ExpectQuietSuccess(Run(tmp.Path()));
    const std::string first = ReadFile(Profile());
    ExpectQuietSuccess(Run(tmp.Path()));
    EXPECT_EQ(ReadFile(Profile()), first);
}

TEST_F(QuenlowTest, ReadOnlyProfileStillExitsZero) {
    if (kUnderWine && geteuid() == 0) {
        GTEST_SKIP() << "Wine run by root writes read-only files";
    }
    const std::string before = "[Update]\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(Profile(), before);
    fs::permissions(Profile(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ExpectQuietSuccess(Run(tmp.Path()));
    EXPECT_EQ(ReadFile(Profile()), before);
    fs::permissions(Profile(), fs::perms::owner_write, fs::perm_options::add);
}

// A folder nested to exactly length characters (as the program sees it).
fs::path NestedFolder(const fs::path& base, std::size_t length) {
    fs::path folder = base;
    std::size_t have = base.string().size() + (kUnderWine ? 2 : 0);
    while (have < length) {
        const std::size_t part = std::min<std::size_t>(200, length - have - 1);
        if (part == 0) {  // one character left: lengthen the last component instead
            folder = folder.parent_path() / (folder.filename().string() + "d");
            ++have;
            continue;
        }
        folder /= std::string(part, 'd');
        have += part + 1;
    }
    fs::create_directories(folder);
    return folder;
}

TEST_F(QuenlowTest, LongestFolderStillWrites) {
    const fs::path folder = NestedFolder(tmp.Path(), LongestFolder());
    ASSERT_EQ(folder.string().size() + (kUnderWine ? 2 : 0), LongestFolder());
    ExpectQuietSuccess(Run(folder));
    EXPECT_EQ(Lines(ReadFile(folder / "profile.ini")),
              Lines("[Update]\r\nDownloadedVersion=0.0.0.0\r\n"));
}

TEST_F(QuenlowTest, FolderTooLongExitsOneWritesNothing) {
    const fs::path folder = NestedFolder(tmp.Path(), LongestFolder() + 1);
    const auto result = Run(folder);
    EXPECT_FALSE(result.timedOut);
    if (kUnderWine && result.exitCode == 0) {
        // Wine hands a program this deep its short (8.3) path, which still
        // names the same folder: the write then lands where it belongs.
        EXPECT_EQ(Lines(ReadFile(folder / "profile.ini")),
                  Lines("[Update]\r\nDownloadedVersion=0.0.0.0\r\n"));
        return;
    }
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(tmp.Path())) {
        if (entry.is_regular_file() && entry.path().filename() != Program().filename()) {
            files.push_back(entry.path().string());
        }
    }
    EXPECT_TRUE(files.empty()) << files.front();
}

#ifndef SL_QUENLOW_UNDER_WINE
// The shipped 32-bit program, whatever build the Windows suites run.
fs::path WindowsProgram() {
    return fs::path(testsupport::Env("SL_SOURCE_DIR").value_or(".")) / "dist/windows/Quenlow.exe";
}

TEST(QuenlowImage, RefusesDamagedImages) {
    EXPECT_FALSE(petest::ReadPeImage("").has_value());
    EXPECT_FALSE(petest::ReadPeImage("MZ").has_value());
    std::string bytes = ReadFile(WindowsProgram());
    if (bytes.size() < 0x200) {
        GTEST_SKIP() << "not built: " << WindowsProgram();
    }
    EXPECT_FALSE(petest::ReadPeImage(bytes.substr(0, 0x100)).has_value());
    bytes[0x3C] = '\xff';  // PE header beyond the file
    bytes[0x3D] = '\xff';
    bytes[0x3E] = '\xff';
    EXPECT_FALSE(petest::ReadPeImage(bytes).has_value());
}
#endif

}  // namespace
