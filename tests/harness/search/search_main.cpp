// Runs one real search with the finder's worker and prints every notice as it
// arrives, in UTF-8, one tab-separated line each:
//   start  <ms>  <wall-clock ms since the epoch>
//   device <ms>  <index> <address> <name> <detail>
//   end    <ms>  <devices in the table>
//   unresolved <name>            (once per name that did not resolve)
// <ms> counts from just before the worker starts.
//
// Options: --stop-after N   ask the worker to stop once N devices were reported
//          --stop-at-ms N   ask the worker to stop N ms after it started
//          --log PATH       append the search's trace there (default: slwintool.log)
//          --target T       also probe T by unicast (address, host name or range)
//          --no-multicast   the unicast probes only
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "finder/discovery/interruptible_network.h"
#include "finder/discovery/search_log.h"
#include "finder/discovery/search_worker.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

class DriverHost final : public SearchHost {
  public:
    explicit DriverHost(long stopAfter) : stopAfter_(stopAfter) {}

    void NotifySearchStart() override {
        ClearDevices(m_mapDevices);
        const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
        Print("start\t" + Elapsed() + "\t" + std::to_string(wall));
    }

    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) override {
        Print("device\t" + Elapsed() + "\t" + std::to_string(index) + "\t" +
              plat::ToUtf8(device.strAddress) + "\t" + Clean(device.strName) + "\t" +
              Clean(device.strDetail));
        if (stopAfter_ > 0 && index + 1 >= stopAfter_) {
            m_bStopSearch.store(1);
        }
    }

    void NotifySearchEnd() override {
        std::lock_guard lock(lock_);
        ended_ = true;
        endedAt_ = Clock::now();
        changed_.notify_all();
    }

    // Asks for the stop at that time after the start, unless the search
    // ended before.
    void StopAt(std::chrono::milliseconds after) {
        std::unique_lock lock(lock_);
        if (!changed_.wait_until(lock, begin_ + after, [this] { return ended_; })) {
            m_bStopSearch.store(1);
            Print("stop\t" + Elapsed());
        }
    }

    void WaitForEnd() {
        std::unique_lock lock(lock_);
        changed_.wait(lock, [this] { return ended_; });
        Print("end\t" + Elapsed(endedAt_) + "\t" + std::to_string(m_mapDevices.size()));
    }

  private:
    std::string Elapsed(Clock::time_point at = Clock::now()) const {
        const double ms = std::chrono::duration<double, std::milli>(at - begin_).count();
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", ms);
        return text;
    }

    // Tabs and line ends would break the line format.
    static std::string Clean(const std::wstring& text) {
        std::string out = plat::ToUtf8(text);
        for (char& c : out) {
            if (c == '\t' || c == '\r' || c == '\n') {
                c = ' ';
            }
        }
        return out;
    }

  public:
    // One write per line: the stop is printed from another thread.
    static void Print(const std::string& line) {
        const std::string whole = line + "\n";
        std::fwrite(whole.data(), 1, whole.size(), stdout);
        std::fflush(stdout);
    }

  private:
    const Clock::time_point begin_ = Clock::now();
    const long stopAfter_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool ended_ = false;
    Clock::time_point endedAt_;
};

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    long stopAfter = 0;
    long stopAtMs = -1;
    SearchRequest request;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stop-after") == 0 && i + 1 < argc) {
            stopAfter = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--stop-at-ms") == 0 && i + 1 < argc) {
            stopAtMs = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            SetLogFilePath(plat::FromUtf8(argv[++i]));
        } else if (std::strcmp(argv[i], "--target") == 0 && i + 1 < argc) {
            request.targets.push_back(plat::FromUtf8(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-multicast") == 0) {
            request.multicast = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--stop-after N] [--stop-at-ms N] [--log PATH] [--target T]... "
                         "[--no-multicast]\n",
                         argv[0]);
            return 2;
        }
    }
    DriverHost host(stopAfter);
    SearchSummary summary;
    // As the finder's worker: the system's network, whose waits end at a stop.
    std::thread worker([&host, &request, &summary] {
        InterruptibleNetwork net(MakeSystemNetwork(), host.StopSearchFlag());
        RunSearch(&host, net, SearchLimitFromEnvironment(), kFinderAnswerEncoding, request,
                  &summary);
    });
    if (stopAtMs >= 0) {
        host.StopAt(std::chrono::milliseconds(stopAtMs));
    }
    host.WaitForEnd();
    worker.join();
    for (const std::wstring& name : summary.unresolved) {
        DriverHost::Print("unresolved\t" + plat::ToUtf8(name));
    }
    return 0;
}
