// The simulated update site (tests/harness/update_site) on the test LAN's site host,
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
    // The same on another host of the LAN (the mirror): namespace and address.
    ::testing::AssertionResult StartOn(const std::string& ns, const std::string& addr,
                                       const std::filesystem::path& log,
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

// An HTTP proxy (tinyproxy) on the LAN's proxy host, port 3128, logging each
// request it forwards.
class HttpProxy {
  public:
    ::testing::AssertionResult Start(const TestLan& lan, const std::filesystem::path& dir);
    void Stop() { process_.Stop(); }
    // "ADDR:3128", as Windows' proxy setting and http_proxy name it.
    std::string HostPort() const { return address_ + ":3128"; }
    std::string Log() const;

  private:
    BackgroundProcess process_;
    std::filesystem::path log_;
    std::string address_;
};

// What the link of a LAN host does to its traffic (testlan.sh condition),
// as long as the object lives: "shape 2mbit", "loss 3", "only-from ADDR".
class LinkCondition {
  public:
    LinkCondition() = default;
    ~LinkCondition() { Clear(); }
    LinkCondition(const LinkCondition&) = delete;
    LinkCondition& operator=(const LinkCondition&) = delete;
    ::testing::AssertionResult Set(const TestLan& lan, const std::string& host,
                                   const std::vector<std::string>& condition);
    void Clear();

  private:
    std::vector<std::string> clear_;
};

// How often `what` occurs in `text`.
std::size_t CountOf(const std::string& text, const std::string& what);

}  // namespace testsupport
