#include "finder/discovery/search_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "finder/discovery/discovery.h"
#include "finder/discovery/name_lookups.h"
#include "finder/discovery/search_log.h"
#include "platform/text.h"
#include "tests/unit/fake_network.h"

namespace {

// What the window would see, in order.
struct Notice {
    Notice(std::string k, std::wstring a = L"", std::intptr_t i = -1, std::wstring n = L"")
        : kind(std::move(k)), address(std::move(a)), index(i), nameInTable(std::move(n)) {}
    std::string kind;  // start, device, end
    std::wstring address;
    std::intptr_t index;
    std::wstring nameInTable;
    bool operator==(const Notice&) const = default;
};

class RecordingHost : public SearchHost {
  public:
    std::vector<Notice> notices;
    std::function<void(const Notice&)> onNotice;
    bool stopAtStart = false;

    void NotifySearchStart() override {
        ClearDevices(m_mapDevices);
        if (stopAtStart) {
            m_bStopSearch.store(1);
        }
        Record({"start"});
    }
    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) override {
        // The record is the table's own.
        const auto it = m_mapDevices.find(device.strAddress);
        Record({"device", device.strAddress, index,
                it != m_mapDevices.end() && it->second.get() == &device ? device.strName
                                                                        : L"<not the table's>"});
    }
    void NotifySearchEnd() override { Record({"end"}); }

  private:
    void Record(const Notice& notice) {
        notices.push_back(notice);
        if (onNotice) {
            onNotice(notice);
        }
    }
};

std::string Answer(const std::string& name, const std::string& detail = "1.0") {
    return "HTTP/1.1 200 OK\r\nSERVER: Linux/5.10, UPnP/1.0, HomeNas/" + name + "/" + detail +
           "\r\n\r\n";
}

// Every test logs into a folder of its own.
class SearchWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sl_worker_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        log_ = dir_ / "slwintool.log";
        SetLogFilePath(log_.wstring());
    }
    void TearDown() override {
        SetLogFilePath(L"slwintool.log");
        std::filesystem::remove_all(dir_);
    }
    std::string Log() const {
        std::ifstream in(log_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
    std::filesystem::path log_;
};

TEST_F(SearchWorkerTest, NoAnswerGivesStartThenEnd) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    RecordingHost host;
    EXPECT_EQ(RunSearch(&host, net), 0u);
    EXPECT_EQ(host.notices, (std::vector<Notice>{{"start"}, {"end"}}));
    EXPECT_EQ(net.waits, 1);
    EXPECT_EQ(net.startups, 1);
    EXPECT_EQ(net.cleanups, 1);
    EXPECT_EQ(net.closed, net.opened);
}

TEST_F(SearchWorkerTest, CounterRunsAcrossCyclesAndDuplicatesAreOneDevice) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1", "10.1.0.1"};
    net.arrivals = {
        // Two sockets in one cycle: reported in socket order.
        {{1, {"10.1.0.9", Answer("Second")}}, {0, {"10.0.0.9", Answer("First")}}},
        // The same device again through the other socket, with another name.
        {{1, {"10.0.0.9", Answer("Renamed")}}},
        {},
        {{0, {"10.0.0.10", Answer("Third")}}, {0, {"10.0.0.11", "no header at all"}}},
    };
    RecordingHost host;
    RunSearch(&host, net);
    const std::vector<Notice> expected{{"start"},
                                       {"device", L"10.0.0.9", 0, L"First"},
                                       {"device", L"10.1.0.9", 1, L"Second"},
                                       {"end"}};
    // The empty third cycle ends the search before the fourth.
    EXPECT_EQ(host.notices, expected);
    EXPECT_EQ(net.waits, 3);
    EXPECT_EQ(host.Devices().at(L"10.0.0.9")->strName, L"First");
    EXPECT_EQ(host.Devices().at(L"10.0.0.9")->strSpare, L"-");
    EXPECT_EQ(host.Devices().at(L"10.0.0.9")->strDetail, L"1.0");
}

TEST_F(SearchWorkerTest, QueuedAnswersComeInConsecutiveCycles) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    net.arrivals = {{{0, {"10.0.0.20", Answer("A")}},
                     {0, {"10.0.0.21", "SERVER: x\r\n"}},
                     {0, {"10.0.0.22", Answer("C", "")}}}};
    RecordingHost host;
    RunSearch(&host, net);
    const std::vector<Notice> expected{{"start"},
                                       {"device", L"10.0.0.20", 0, L"A"},
                                       {"device", L"10.0.0.21", 1, L""},
                                       {"device", L"10.0.0.22", 2, L"C"},
                                       {"end"}};
    EXPECT_EQ(host.notices, expected);
    EXPECT_EQ(net.waits, 4);
}

TEST_F(SearchWorkerTest, StopDuringProbeMeansNoCycle) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1", "10.0.0.2"};
    net.arrivals = {{{0, {"10.0.0.9", Answer("A")}}}};
    RecordingHost host;
    net.onSend = [&] { host.StopSearchFlag().store(1); };
    RunSearch(&host, net);
    EXPECT_EQ(host.notices, (std::vector<Notice>{{"start"}, {"end"}}));
    EXPECT_EQ(net.waits, 0);
    EXPECT_EQ(net.closed, net.opened);
}

TEST_F(SearchWorkerTest, StopBeforeStartIsLost) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    net.arrivals = {{{0, {"10.0.0.9", Answer("A")}}}};
    RecordingHost host;
    host.stopAtStart = true;
    RunSearch(&host, net);
    EXPECT_EQ(host.notices.size(), 3u);
    EXPECT_EQ(net.waits, 2);
}

TEST_F(SearchWorkerTest, StopDuringAnswersEndsAfterTheCycle) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1", "10.0.0.2"};
    net.arrivals = {{{0, {"10.0.0.9", Answer("A")}}, {1, {"10.0.0.8", Answer("B")}}},
                    {{0, {"10.0.0.7", Answer("C")}}}};
    RecordingHost host;
    host.onNotice = [&](const Notice& n) {
        if (n.kind == "device" && n.index == 0) {
            host.StopSearchFlag().store(1);
        }
    };
    RunSearch(&host, net);
    const std::vector<Notice> expected{
        {"start"}, {"device", L"10.0.0.9", 0, L"A"}, {"device", L"10.0.0.8", 1, L"B"}, {"end"}};
    EXPECT_EQ(host.notices, expected);
    EXPECT_EQ(net.waits, 1);
}

// A cycle whose only datagram cannot be read is not silence: the answers
// queued behind it are still read and reported.
TEST_F(SearchWorkerTest, UnreadableDatagramDoesNotEndTheSearch) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    net.arrivals = {{{0, {"10.0.0.5", "", true}},
                     {0, {"10.0.0.6", Answer("After")}},
                     {0, {"10.0.0.7", "", true}},
                     {0, {"10.0.0.8", "", true}},
                     {0, {"10.0.0.9", Answer("Last")}}}};
    RecordingHost host;
    RunSearch(&host, net);
    const std::vector<Notice> expected{{"start"},
                                       {"device", L"10.0.0.6", 0, L"After"},
                                       {"device", L"10.0.0.9", 1, L"Last"},
                                       {"end"}};
    EXPECT_EQ(host.notices, expected);
    EXPECT_EQ(net.waits, 6);
    // Nothing is logged for the unreadable ones.
    EXPECT_EQ(Log().find("10.0.0.5"), std::string::npos);
}

// A socket that keeps failing cannot keep the search alive for ever.
TEST_F(SearchWorkerTest, EndlessUnreadableDatagramsAreBounded) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    for (int i = 0; i < 500; ++i) {
        net.arrivals.push_back({{0, {"10.0.0.5", "", true}}});
    }
    RecordingHost host;
    RunSearch(&host, net);
    EXPECT_EQ(host.notices, (std::vector<Notice>{{"start"}, {"end"}}));
    EXPECT_EQ(net.waits, discovery::kMaxUnreadableCycles + 1);
}

// A device that never stops answering: the search ends at its bound as after
// a silent cycle, its last wait cut to the time left.
TEST_F(SearchWorkerTest, EndlessAnswersEndAtTheBound) {
    using std::chrono::milliseconds;
    const struct {
        milliseconds limit;
        std::vector<milliseconds> waits;
    } cases[] = {
        {discovery::kSearchLimit,
         [] {
             std::vector<milliseconds> w(14, discovery::kCycleWait);
             w.push_back(milliseconds(2000));
             return w;
         }()},
        {milliseconds(4500), {milliseconds(3000), milliseconds(2500), milliseconds(500)}},
        {milliseconds(100), {milliseconds(100)}},
    };
    for (const auto& c : cases) {
        FakeNetwork net;
        net.unicast = {"10.0.0.1"};
        net.readyAfter = milliseconds(2000);  // one answer every 2 s
        for (int i = 0; i < 40; ++i) {
            net.arrivals.push_back({{0, {"10.0.2." + std::to_string(i % 3), Answer("E")}}});
        }
        RecordingHost host;
        std::filesystem::remove(log_);
        RunSearch(&host, net, c.limit);
        EXPECT_EQ(net.timeouts, c.waits) << c.limit.count();
        ASSERT_FALSE(host.notices.empty());
        EXPECT_EQ(host.notices.back(), Notice{"end"});
        EXPECT_EQ(host.notices.size(), 2 + std::min<std::size_t>(3, c.waits.size()));
        EXPECT_EQ(net.closed, net.opened);
        EXPECT_EQ(net.cleanups, 1);
        const std::string log = Log();  // ends with the closing line
        const auto end = log.rfind("----- res end-----");
        EXPECT_TRUE(end != std::string::npos &&
                    log.find_first_not_of("\r\n", end + 18) == std::string::npos);
    }
}

TEST_F(SearchWorkerTest, BoundFromTheEnvironment) {
    const struct {
        const char* value;
        long ms;
    } cases[] = {{"2000", 2000}, {"100", 100}, {"99", 30000}, {"5s", 30000}, {"", 30000}};
    for (const auto& c : cases) {
#ifdef _WIN32
        _putenv_s("SL_SEARCH_LIMIT_MS", c.value);
#else
        setenv("SL_SEARCH_LIMIT_MS", c.value, 1);
#endif
        EXPECT_EQ(SearchLimitFromEnvironment().count(), c.ms) << c.value;
    }
}

// A datagram of no bytes is no answer: no device, nothing logged for it.
TEST_F(SearchWorkerTest, ZeroLengthDatagramAddsNoDevice) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1", "10.0.0.2"};
    net.arrivals = {{{0, {"10.0.0.5", ""}}, {1, {"10.0.0.6", Answer("Real")}}},
                    {{0, {"10.0.0.7", ""}}}};
    RecordingHost host;
    RunSearch(&host, net);
    const std::vector<Notice> expected{{"start"}, {"device", L"10.0.0.6", 0, L"Real"}, {"end"}};
    EXPECT_EQ(host.notices, expected);
    EXPECT_EQ(host.Devices().size(), 1u);
}

TEST_F(SearchWorkerTest, NamesReadInTheAskedEncoding) {
    const std::string sjis = "\x83\x5c\x83\x8b\x8b\x40";  // ソル機 in code page 932
    const std::string utf8 = "\xe3\x82\xbd\xe3\x83\xab\xe6\xa9\x9f";
    const struct {
        plat::TextEncoding encoding;
        const wchar_t* right;  // the device whose name is read as sent
        const wchar_t* other;
    } cases[] = {
        {plat::TextEncoding::Cp932, L"10.0.0.8", L"10.0.0.9"},
        {plat::TextEncoding::Utf8, L"10.0.0.9", L"10.0.0.8"},
    };
    for (const auto& c : cases) {
        FakeNetwork net;
        net.unicast = {"10.0.0.1", "10.0.0.2"};
        net.arrivals = {{{0, {"10.0.0.8", Answer(sjis)}}, {1, {"10.0.0.9", Answer(utf8)}}}};
        RecordingHost host;
        RunSearch(&host, net, discovery::kSearchLimit, c.encoding);
        EXPECT_EQ(host.Devices().at(c.right)->strName, L"ソル機");
        EXPECT_NE(host.Devices().at(c.other)->strName, L"ソル機");
    }
}

TEST_F(SearchWorkerTest, NothingToSendEndsAfterOneSilentCycle) {
    for (int variant = 0; variant < 3; ++variant) {
        FakeNetwork net;
        net.unicast = {"10.0.0.1"};
        if (variant == 0) net.listOk = false;
        if (variant == 1) net.resolveOk = false;
        if (variant == 2) net.failOpen = {0};
        RecordingHost host;
        RunSearch(&host, net);
        EXPECT_EQ(host.notices, (std::vector<Notice>{{"start"}, {"end"}})) << variant;
        EXPECT_TRUE(net.sends.empty()) << variant;
    }
}

TEST_F(SearchWorkerTest, NewSearchStartsAfresh) {
    RecordingHost host;
    for (int round = 0; round < 2; ++round) {
        FakeNetwork net;
        net.unicast = {"10.0.0.1"};
        net.arrivals = {{{0, {round == 0 ? "10.0.0.9" : "10.0.0.8", Answer("A")}}}};
        host.notices.clear();
        RunSearch(&host, net);
        ASSERT_EQ(host.notices.size(), 3u);
        EXPECT_EQ(host.notices[1].index, 0);
        EXPECT_EQ(host.Devices().size(), 1u);
    }
}

TEST_F(SearchWorkerTest, LogHoldsTheExpectedLinesInOrder) {
    FakeNetwork net;
    net.unicast = {"198.18.0.1", "198.19.0.1"};
    const std::string answer = Answer("MyNas");
    net.arrivals = {{{1, {"198.19.1.1", answer}}}};
    RecordingHost host;
    RunSearch(&host, net);
#ifdef _WIN32
    const std::string nl = "\r\n";
#else
    const std::string nl = "\n";
#endif
    const std::string expected = "----- send start-----" + nl + "198.18.0.1" + nl + "198.19.0.1" +
                                 nl + "----- send end-----" + nl + "----- res start-----" + nl +
                                 answer + nl + nl + "----- res end-----" + nl;
    EXPECT_EQ(Log(), expected);

    // A second search appends.
    FakeNetwork silent;
    RunSearch(&host, silent);
    EXPECT_EQ(Log(), expected + "----- send start-----" + nl + "----- send end-----" + nl);
}

// The worker on a thread of its own, the host on this one, as in the finder:
// the third report waits until this thread has asked for the stop.
TEST_F(SearchWorkerTest, StopFlagFromAnotherThread) {
    FakeNetwork net;
    net.unicast = {"10.0.0.1"};
    for (int i = 0; i < 50; ++i) {
        net.arrivals.push_back({{0, {"10.0.1." + std::to_string(i), Answer("N")}}});
    }
    std::mutex lock;
    std::condition_variable changed;
    int found = 0;
    bool ended = false;
    bool stopAsked = false;
    RecordingHost host;
    host.onNotice = [&](const Notice& n) {
        std::unique_lock guard(lock);
        if (n.kind == "device") ++found;
        if (n.kind == "end") ended = true;
        changed.notify_all();
        if (found == 3 && !ended) {
            changed.wait(guard, [&] { return stopAsked; });
        }
    };
    std::thread worker([&] { RunSearch(&host, net); });
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return found >= 3 || ended; });
        host.StopSearchFlag().store(1);
        stopAsked = true;
        changed.notify_all();
        changed.wait(guard, [&] { return ended; });
    }
    worker.join();
    EXPECT_EQ(found, 3);
    EXPECT_EQ(net.waits, 3);
}

// Targets: every address once, by unicast to port 1900 from one more socket
// that the system binds; names resolved, the unresolved and refused told;
// the log lists the targets after the local addresses.
TEST_F(SearchWorkerTest, TargetsAreProbedByUnicastOnceEach) {
    FakeNetwork net;
    net.unicast = {"198.18.0.1"};
    net.hosts = {{"nas.lan", {0x0A4D0101, 0x0A4D0102}}, {"lo.lan", {0x7F000001}}};
    net.expectAnswers = 3;  // missing.lan answers too: not found
    // The answer comes to the unicast socket (the second one made).
    net.arrivals = {{{1, {"10.77.1.1", Answer("Far")}}}};
    RecordingHost host;
    SearchRequest request;
    request.targets = {L"10.77.1.1", L"NAS.lan",      L"missing.lan",
                       L"lo.lan",    L"10.77.1.0/30", L"127.0.0.1"};
    SearchSummary summary;
    RunSearch(&host, net, discovery::kSearchLimit, plat::TextEncoding::Ansi, request, &summary);

    ASSERT_EQ(net.opened.size(), 2u);
    EXPECT_EQ(net.bound.at(net.opened[1]), (std::pair<std::uint32_t, std::uint16_t>{0, 0}));
    std::vector<std::uint32_t> unicast;
    for (const FakeSend& send : net.sends) {
        EXPECT_EQ(send.bytes, std::string(discovery::kSearchProbe));
        EXPECT_EQ(send.port, 1900);
        if (send.socket == net.opened[1]) {
            unicast.push_back(send.address);
        }
    }
    EXPECT_EQ(unicast, (std::vector<std::uint32_t>{0x0A4D0101, 0x0A4D0102}));
    EXPECT_EQ(net.sends.size(), 3u);  // and the multicast probe
    EXPECT_EQ(summary.directedAddresses, 2u);
    EXPECT_EQ(summary.unresolved, std::vector<std::wstring>{L"missing.lan"});
    EXPECT_EQ(summary.refused.size(), 2u);
    EXPECT_EQ(host.notices,
              (std::vector<Notice>{{"start"}, {"device", L"10.77.1.1", 0, L"Far"}, {"end"}}));
    EXPECT_EQ(net.closed.size(), 2u);
    const std::string log = Log();
#ifdef _WIN32
    const std::string nl = "\r\n";
#else
    const std::string nl = "\n";
#endif
    EXPECT_NE(log.find("198.18.0.1" + nl + "target: 10.77.1.1" + nl + "target: nas.lan" + nl +
                       "target: missing.lan" + nl + "target: lo.lan" + nl + "target: 10.77.1.0/30" +
                       nl + "----- send end-----"),
              std::string::npos)
        << log;
}

// A name whose lookup never answers: the probe and the device's notice come
// at once; the name counts as not resolving after 5 s (the search then ends,
// its silence having begun with the answer), or the stop ends the search at
// the next look, while the lookup still hangs.
TEST_F(SearchWorkerTest, AHangingNameNeverHoldsTheSearch) {
    struct Case {
        int stopAtWait;  // -1: no stop
        std::chrono::milliseconds endsAt;
    };
    for (const Case c : {Case{-1, discovery::kNameWait}, Case{3, std::chrono::milliseconds(150)}}) {
        FakeNetwork net;
        net.unicast = {"198.18.0.1"};
        net.hanging = {"dead.lan"};
        net.arrivals = {{{0, {"198.18.1.1", Answer("Near")}}}};
        RecordingHost host;
        net.onWait = [&](int wait) {
            if (wait == c.stopAtWait) host.StopSearchFlag().store(1);
        };
        SearchRequest request;
        request.targets = {L"dead.lan"};
        SearchSummary summary;
        RunSearch(&host, net, discovery::kSearchLimit, plat::TextEncoding::Ansi, request, &summary);

        ASSERT_EQ(net.sends.size(), 1u) << c.stopAtWait;  // the multicast probe
        EXPECT_EQ(net.sends[0].at, std::chrono::milliseconds(0));
        EXPECT_EQ(host.notices,
                  (std::vector<Notice>{{"start"}, {"device", L"198.18.1.1", 0, L"Near"}, {"end"}}));
        EXPECT_EQ(net.clock, c.endsAt) << c.stopAtWait;
        EXPECT_EQ(summary.unresolved, std::vector<std::wstring>{L"dead.lan"});
        EXPECT_EQ(net.closed.size(), 2u);
    }
}

// 300 probes at no more than one a millisecond; the silent cycles while they
// go out do not end the search, the first one after the last probe does.
TEST_F(SearchWorkerTest, UnicastProbesArePacedAndSilenceCountsAfterTheLast) {
    FakeNetwork net;
    net.unicast = {"198.18.0.1"};
    RecordingHost host;
    SearchRequest request;
    request.targets = {L"10.77.0.0/24", L"10.77.1.0/25"};
    request.multicast = false;
    RunSearch(&host, net, discovery::kSearchLimit, plat::TextEncoding::Ansi, request);

    ASSERT_EQ(net.sends.size(), 254u + 126u);
    EXPECT_EQ(net.opened.size(), 1u);  // no multicast socket
    for (std::size_t k = 0; k < net.sends.size(); ++k) {
        EXPECT_GE(net.sends[k].at, std::chrono::milliseconds(static_cast<long long>(k)));
    }
    EXPECT_EQ(net.sends.back().at, std::chrono::milliseconds(379));
    EXPECT_EQ(net.timeouts.back(), discovery::kCycleWait);
    EXPECT_EQ(net.clock, std::chrono::milliseconds(379) + discovery::kCycleWait);
    EXPECT_EQ(host.notices, (std::vector<Notice>{{"start"}, {"end"}}));
}

// Without targets there is no further socket and no pacing.
TEST_F(SearchWorkerTest, NoTargetsNoUnicastSocket) {
    FakeNetwork net;
    net.unicast = {"198.18.0.1", "198.19.0.1"};
    RecordingHost host;
    RunSearch(&host, net, discovery::kSearchLimit, plat::TextEncoding::Ansi, SearchRequest{});
    EXPECT_EQ(net.opened.size(), 2u);
    EXPECT_EQ(net.sends.size(), 2u);
    EXPECT_EQ(net.timeouts, std::vector<std::chrono::milliseconds>{discovery::kCycleWait});
}

}  // namespace
