// The simulated update site (tools/update_site) on the test LAN's site host,
// port 80, for suites that run the Updater against it.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/testlan.h"

namespace testsupport {

// The object paths that the site serves by default.
inline const std::string kSiteVersionObject = "/installer/solberio/search/latestversion.ini";
inline const std::string kSiteInstallerObject = "/installer/slwintool_set_up.exe";

class UpdateSite {
  public:
    UpdateSite();
    ~UpdateSite();
    UpdateSite(const UpdateSite&) = delete;
    UpdateSite& operator=(const UpdateSite&) = delete;

    // Starts the site with update_site's options `args`, logging every request
    // head to `log`, and waits until it listens. Only one site can hold the
    // site's port: the suites of a run take turns through a lock, held until
    // Stop.
    ::testing::AssertionResult Start(const TestLan& lan, const std::filesystem::path& log,
                                     const std::vector<std::string>& args,
                                     int timeLimitSeconds = 120);
    void Stop();

    // "http://<site address>" + object.
    std::string Url(const std::string& object) const { return "http://" + address_ + object; }
    // Request heads so far, as the site logged them.
    std::string Log() const;
    // How many times the site was asked for `object` with GET.
    std::size_t Gets(const std::string& object) const;

  private:
    class Lock;
    std::unique_ptr<Lock> lock_;
    BackgroundProcess process_;
    std::filesystem::path log_;
    std::string address_;
};

// How often `what` occurs in `text`.
std::size_t CountOf(const std::string& text, const std::string& what);

}  // namespace testsupport
