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
    Lock() {
        const std::string name = "/tmp/" + Env("SL_RUN").value_or("local") + "-update-site.lock";
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
    Stop();
    lock_ = std::make_unique<Lock>();
    log_ = log;
    address_ = lan.siteAddr;
    std::vector<std::string> argv{ToolPath("update_site").string(),
                                  "--listen",
                                  lan.siteAddr + ":80",
                                  "--log",
                                  log.string(),
                                  "--time-limit",
                                  std::to_string(timeLimitSeconds)};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!lan.siteNs.empty()) {
        argv = InNamespace(lan.siteNs, argv);
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

std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

}  // namespace testsupport
