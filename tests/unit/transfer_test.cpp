// The transfer rules against a scripted byte source: a body in pieces of
// every size, with pauses between them, ended or broken after any piece,
// as a platform half (pulling, or pushed to by its library) feeds a sink.
#include "updater/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using updater::BodySink;
using Clock = BodySink::Clock;

enum class Ending { kEnd, kFail };

struct Script {
    int status = 200;
    std::string contentLength;  // as the head gives it; empty: none
    std::size_t bodySize = 0;
    std::size_t piece = 1;
    std::chrono::milliseconds pause{0};    // before every piece
    std::size_t sent = std::string::npos;  // bytes before the ending; npos: all
    Ending ending = Ending::kEnd;
    bool pull = true;  // asks for at most Room() bytes, as WinINet reads do
};

std::string Body(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return body;
}

// Feeds the script to the sink the way a platform half does, on a clock of
// its own: while a pause lasts, the sink is asked every 100 ms.
int Feed(BodySink& sink, const Script& s) {
    Clock::time_point now{};
    if (!sink.Head(s.status, s.contentLength, now)) {
        return sink.Result();
    }
    const std::string body = Body(s.bodySize);
    const std::size_t limit = std::min(s.sent, body.size());
    for (std::size_t at = 0; at < limit;) {
        for (auto waited = 0ms; waited < s.pause; waited += 100ms) {
            now += 100ms;
            if (!sink.Idle(now)) {
                return sink.Result();
            }
        }
        std::size_t n = std::min(s.piece, limit - at);
        if (s.pull) {
            n = std::min(n, sink.Room());
        }
        if (!sink.Take(body.data() + at, n, now)) {
            return sink.Result();
        }
        at += n;
    }
    return s.ending == Ending::kEnd ? sink.End() : sink.Fail();
}

class TransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("sltransfer-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path File() const { return dir_ / "Updater.download"; }
    std::string Stored() const {
        std::ifstream in(File(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Runs the script into a file; checks the hash saw exactly what was stored.
    int RunFile(const Script& s, updater::LowSpeedLimit limit = {},
                std::uint64_t unannouncedMost = 0) {
        plat::Sha256 hash;
        int result = 0;
        {
            updater::FileSink sink(File().wstring(), &hash, limit, unannouncedMost);
            result = Feed(sink, s);
        }
        if (fs::exists(File())) {
            EXPECT_EQ(hash.Finish(), plat::Sha256Of(Stored()));
        }
        return result;
    }

    fs::path dir_;
};

struct FileCase {
    const char* name;
    Script script;
    int expected;
    std::size_t stored;                 // npos: no file made
    std::uint64_t unannouncedMost = 0;  // a body without length may hold this much
};

class TransferFile : public TransferTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(TransferFile, ResultAndWhatIsStored) {
    const auto& c = GetParam();
    for (const bool pull : {true, false}) {
        Script s = c.script;
        s.pull = pull;
        SCOPED_TRACE(pull ? "pulled" : "pushed");
        EXPECT_EQ(RunFile(s, {}, c.unannouncedMost), c.expected);
        if (c.stored == std::string::npos) {
            EXPECT_FALSE(fs::exists(File()));
        } else {
            EXPECT_EQ(Stored(), Body(c.stored));
        }
        fs::remove(File());
    }
}

const std::size_t kNone = std::string::npos;

INSTANTIATE_TEST_SUITE_P(
    Rules, TransferFile,
    ::testing::Values(
        FileCase{"Whole", {200, "200000", 200000, 65536}, 200, 200000},
        FileCase{"Empty", {200, "0", 0}, 200, 0},
        FileCase{"EmptyWithoutLength", {200, "", 0}, 200, 0},
        // Without Content-Length the first byte is one too many.
        FileCase{"BodyWithoutLength", {200, "", 5000, 1000}, -5, 0},
        FileCase{"LengthThatDoesNotFit", {200, "99999999999999999999999", 0}, -5, 0},
        FileCase{"EndsEarly", {200, "10000", 10000, 3000, 0ms, 5000}, -5, 5000},
        FileCase{
            "BrokenAfterAPiece", {200, "10000", 10000, 3000, 0ms, 6000, Ending::kFail}, -2, 6000},
        // Where a trusted hash vouches for the body, it may come
        // without a length (chunked, or ended by closing), within
        // a bound; a wrong length still ends it.
        FileCase{"WithoutLengthVouched", {200, "", 5000, 1000}, 200, 5000, 10000},
        FileCase{"AtTheBoundVouched", {200, "", 10000, 3000}, 200, 10000, 10000},
        FileCase{"OverTheBoundVouched", {200, "", 10001, 3000}, -5, 10000, 10000},
        FileCase{"EndsEarlyVouched", {200, "10000", 10000, 3000, 0ms, 5000}, -5, 5000, 10000},
        FileCase{
            "BrokenVouched", {200, "", 10000, 3000, 0ms, 6000, Ending::kFail}, -2, 6000, 10000},
        FileCase{"NotFound", {404, "10", 10}, 404, kNone},
        FileCase{"Redirect", {302, "0", 0}, 302, kNone}),
    [](const auto& info) { return std::string(info.param.name); });

// Pieces of every size around the block, with pauses, whole or ended after
// any piece: the file holds what arrived, and only a whole body is 200.
TEST_F(TransferTest, PiecesOfEverySizeEndedAfterEachOfThem) {
    const std::size_t size = 3 * updater::kFileChunk + 17;
    for (const std::size_t piece :
         {std::size_t{1} << 0, std::size_t{1460}, std::size_t{16384}, updater::kFileChunk - 1,
          updater::kFileChunk, updater::kFileChunk + 1, size}) {
        const std::size_t step = piece < 1000 ? 65521 : piece;  // a byte at a time is slow
        for (std::size_t sent = step; sent < size + step; sent += step) {
            const std::size_t upTo = std::min(sent, size);
            SCOPED_TRACE("piece " + std::to_string(piece) + ", ended after " +
                         std::to_string(upTo));
            Script s{200, std::to_string(size), size, piece, piece == size ? 3s : 0ms, upTo};
            EXPECT_EQ(RunFile(s), upTo == size ? 200 : -5);
            EXPECT_EQ(Stored().size(), upTo);
        }
    }
}

// A body longer than announced: not a byte beyond Content-Length is
// stored, and a pulling half never even asks for more than one.
TEST_F(TransferTest, OneByteBeyondTheLengthEndsIt) {
    for (const std::size_t piece : {std::size_t{1000}, updater::kFileChunk, std::size_t{300000}}) {
        EXPECT_EQ(RunFile({200, "100000", 200000, piece}), -5);
        EXPECT_TRUE(Stored() == Body(100000)) << Stored().size() << " bytes stored";
    }
    updater::FileSink sink(File().wstring(), nullptr, {});
    ASSERT_TRUE(sink.Head(200, "10", Clock::time_point{}));
    const std::string body = Body(10);
    ASSERT_TRUE(sink.Take(body.data(), 10, Clock::time_point{}));
    EXPECT_EQ(sink.Room(), 1u);
}

TEST_F(TransferTest, FileThatCannotBeMadeGivesMinusFour) {
    updater::FileSink sink((dir_ / "missing" / "Updater.download").wstring(), nullptr, {});
    EXPECT_FALSE(sink.Head(200, "10", Clock::time_point{}));
    EXPECT_EQ(sink.Result(), -4);
}

// Less than 1 KiB in a minute ends the body, however it trickles; 1 KiB a
// minute, or long pauses between big pieces, do not.
TEST_F(TransferTest, LowSpeedLimit) {
    struct Case {
        std::size_t piece;
        std::chrono::milliseconds pause;
        int expected;
    };
    for (const Case& c :
         {Case{1024, 59s, 200}, Case{1023, 59s, -2}, Case{100000, 50s, 200}, Case{1, 1000ms, -2}}) {
        SCOPED_TRACE(std::to_string(c.piece) + " bytes every " + std::to_string(c.pause.count()) +
                     " ms");
        EXPECT_EQ(RunFile({200, "300000", 300000, c.piece, c.pause}), c.expected);
    }
}

struct TextCase {
    const char* name;
    Script script;
    int expected;
};

class TransferText : public TransferTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TransferText, ResultAndBytes) {
    const auto& c = GetParam();
    std::string bytes;
    updater::TextSink sink(bytes, {});
    EXPECT_EQ(Feed(sink, c.script), c.expected);
    if (c.expected == 200) {
        EXPECT_EQ(bytes, Body(c.script.bodySize));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TransferText,
    ::testing::Values(
        TextCase{"Whole", {200, "300", 300, 7, 500ms}, 200},
        TextCase{"WithoutLength", {200, "", 40000, 1460}, 200},
        // A cut text could end in a shortened URL.
        TextCase{"EndsEarly", {200, "300", 300, 100, 0ms, 200}, -2},
        TextCase{"LongerThanAnnounced", {200, "100", 300, 100}, -2},
        TextCase{"Broken", {200, "300", 300, 100, 0ms, 300, Ending::kFail}, -2},
        TextCase{"OverTheCap", {200, "", updater::kMaxVersionText + 1, updater::kTextChunk}, -2},
        TextCase{"AtTheCap", {200, "", updater::kMaxVersionText, 65536}, 200},
        TextCase{"ServerError", {500, "20", 20}, 500}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
