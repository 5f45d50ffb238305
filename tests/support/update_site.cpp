#include "tests/support/update_site.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

namespace testsupport {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class UpdateSite::Lock {
  public:
    explicit Lock(const std::string& address) {
        const std::string name =
            "/tmp/" + Env("SL_RUN").value_or("local") + "-update-site-" + address + ".lock";
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX);
        }
    }
    ~Lock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    int fd_ = -1;
};

UpdateSite::UpdateSite() = default;
UpdateSite::~UpdateSite() { Stop(); }

::testing::AssertionResult UpdateSite::Start(const TestLan& lan, const fs::path& log,
                                             const std::vector<std::string>& args,
                                             int timeLimitSeconds) {
    return StartOn(lan.siteNs, lan.siteAddr, log, args, timeLimitSeconds);
}

::testing::AssertionResult UpdateSite::StartOn(const std::string& ns, const std::string& addr,
                                               const fs::path& log,
                                               const std::vector<std::string>& args,
                                               int timeLimitSeconds) {
    Stop();
    lock_ = std::make_unique<Lock>(addr);
    log_ = log;
    address_ = addr;
    std::vector<std::string> argv{ToolPath("update_site").string(),
                                  "--listen",
                                  addr + ":80",
                                  "--log",
                                  log.string(),
                                  "--time-limit",
                                  std::to_string(timeLimitSeconds)};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!ns.empty()) {
        argv = InNamespace(ns, argv);
    }
    process_ = BackgroundProcess(argv);
    WaitFor(
        [&] {
            return process_.Output().find("listening") != std::string::npos || !process_.Running();
        },
        10s);
    if (process_.Output().find("listening") == std::string::npos || !process_.Running()) {
        return ::testing::AssertionFailure()
               << "the update site did not come up: " << process_.Errors();
    }
    return ::testing::AssertionSuccess();
}

void UpdateSite::Stop() {
    process_.Stop();
    lock_.reset();
}

std::string UpdateSite::Log() const { return log_.empty() ? "" : ReadFile(log_); }

std::size_t UpdateSite::Gets(const std::string& object) const {
    return CountOf(Log(), "GET " + object + " HTTP/1.1\n");
}

::testing::AssertionResult HttpProxy::Start(const TestLan& lan, const fs::path& dir) {
    Stop();
    address_ = lan.proxyAddr;
    log_ = dir / "proxy.log";
    const fs::path config = dir / "proxy.conf";
    WriteFile(config, "Port 3128\nListen " + address_ + "\nTimeout 60\nLogFile \"" + log_.string() +
                          "\"\nLogLevel Connect\nMaxClients 16\nAllow 198.18.0.0/15\n"
                          "DisableViaHeader Yes\n");
    process_ =
        BackgroundProcess(InNamespace(lan.proxyNs, {"tinyproxy", "-d", "-c", config.string()}));
    // It listens before it logs a connection; a refused connect means not yet.
    const bool up = WaitFor(
        [&] {
            return !process_.Running() ||
                   RunProcess(InNamespace(lan.proxyNs, {"sh", "-c", "ss -ltn | grep -q ':3128 '"}))
                           .exitCode == 0;
        },
        10s);
    if (!up || !process_.Running()) {
        return ::testing::AssertionFailure() << "the proxy did not come up: " << process_.Errors();
    }
    return ::testing::AssertionSuccess();
}

std::string HttpProxy::Log() const { return log_.empty() ? "" : ReadFile(log_); }

::testing::AssertionResult LinkCondition::Set(const TestLan& lan, const std::string& host,
                                              const std::vector<std::string>& condition) {
    Clear();
    std::vector<std::string> argv{"bash", lan.testlan, "condition", host};
    clear_ = argv;
    clear_.push_back("clear");
    argv.insert(argv.end(), condition.begin(), condition.end());
    ProcessOptions options;
    options.extraEnv = {"SL_RUN=" + lan.run};
    const auto result = RunProcess(argv, options);
    if (result.exitCode != 0) {
        return ::testing::AssertionFailure() << "testlan condition failed: " << result.err;
    }
    return ::testing::AssertionSuccess();
}

void LinkCondition::Clear() {
    if (!clear_.empty()) {
        ProcessOptions options;
        options.extraEnv = {"SL_RUN=" + Env("SL_RUN").value_or("")};
        RunProcess(clear_, options);
        clear_.clear();
    }
}

std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

}  // namespace testsupport
