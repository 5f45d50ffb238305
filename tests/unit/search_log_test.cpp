#include "finder/discovery/search_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

#ifdef _WIN32
const std::string kNl = "\r\n";
#else
const std::string kNl = "\n";
#endif

class WriteLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sl_log_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = dir_ / "slwintool.log";
        SetLogFilePath(path_.wstring());
    }
    void TearDown() override {
        SetLogFilePath(L"slwintool.log");
        std::filesystem::remove_all(dir_);
    }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path dir_;
    std::filesystem::path path_;
};

TEST_F(WriteLogTest, FormatsAndAppends) {
    EXPECT_FALSE(std::filesystem::exists(path_));
    WriteLog(L"----- send start-----");
    const std::wstring address = L"192.168.1.10";
    WriteLog(L"%ls", address.c_str());
    WriteLog(L"%ls\n", L"HTTP/1.1 200 OK\r\nSERVER: a,b,c/N/D\r\n\r\n");
    WriteLog(L"%d-%ls", 7, L"x");
    EXPECT_EQ(Read(), "----- send start-----" + kNl + "192.168.1.10" + kNl +
                          "HTTP/1.1 200 OK\r\nSERVER: a,b,c/N/D\r\n\r\n" + kNl + kNl + "7-x" + kNl);
}

TEST_F(WriteLogTest, CutsAfter511Characters) {
    struct Case {
        std::size_t length;
        std::size_t kept;
    };
    for (const Case c :
         {Case{510, 510}, Case{511, 511}, Case{512, 511}, Case{2000, 511}, Case{20000, 511}}) {
        std::filesystem::remove(path_);
        const std::wstring text(c.length, L'a');
        WriteLog(L"%ls\n", text.c_str());
        // The "\\n" of the format is cut off with the rest once the text is long.
        const std::size_t newlines = c.length + 1 <= 511 ? 1 : 0;
        std::string expected(c.kept, 'a');
        for (std::size_t i = 0; i < newlines; ++i) expected += kNl;
        expected += kNl;
        EXPECT_EQ(Read(), expected) << c.length;
    }
}

TEST_F(WriteLogTest, UnwritableFolderDropsTheEntry) {
    SetLogFilePath((dir_ / "missing" / "slwintool.log").wstring());
    WriteLog(L"lost");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
    SetLogFilePath(dir_.wstring());  // a folder, not a file
    WriteLog(L"lost too");
    EXPECT_TRUE(std::filesystem::is_directory(dir_));
}

TEST_F(WriteLogTest, ConcurrentEntriesStayWhole) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            const std::wstring line(100, static_cast<wchar_t>(L'a' + t));
            for (int i = 0; i < 25; ++i) WriteLog(L"%ls", line.c_str());
        });
    }
    for (auto& w : writers) w.join();
    std::istringstream in(Read());
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ASSERT_EQ(line.size(), 100u);
        EXPECT_EQ(line, std::string(100, line[0]));
        ++lines;
    }
    EXPECT_EQ(lines, 100);
}

}  // namespace
