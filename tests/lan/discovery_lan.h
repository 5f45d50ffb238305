// Helpers for real searches in the test LAN: extra hosts, simulated devices,
// the search driver's output and the devices' records.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/testlan.h"

namespace lantest {

// A host of the LAN made for one test ("testlan.sh host"), removed after it.
class Host {
  public:
    Host(std::string name, std::vector<std::string> addresses);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    const std::string& Ns() const { return ns_; }
    bool Ok() const { return ok_; }

  private:
    std::string name_;
    std::string ns_;
    bool ok_ = false;
};

// Adds addresses (CIDR texts) to an interface of a host.
bool AddAddresses(const std::string& ns, const std::string& ifname,
                  const std::vector<std::string>& addresses);

// One sl_simdevice process, running once it listens.
class SimDevice {
  public:
    SimDevice(const std::string& ns, std::vector<std::string> args,
              const std::filesystem::path& dir, const std::string& tag);
    bool Ready() const { return ready_; }
    std::string Record() const;
    void Stop() { process_.Stop(); }

  private:
    testsupport::BackgroundProcess process_;
    std::filesystem::path record_;
    bool ready_ = false;
};

// A DNS server that never answers: a host on segment 1 that drops every
// query, and a resolv.conf naming it, which Wrap gives one program as its
// /etc/resolv.conf (in a mount namespace of its own; nothing else sees it).
class SilentDns {
  public:
    explicit SilentDns(const std::filesystem::path& dir);
    bool Ok() const { return ok_; }
    std::vector<std::string> Wrap(const std::vector<std::string>& argv) const;

  private:
    Host host_;
    std::filesystem::path conf_;
    bool ok_ = false;
};
// A name that only that server could answer.
inline constexpr char kSilentName[] = "nas.silent.test";

struct FoundDevice {
    double ms = 0;
    long index = -1;
    std::string address;
    std::string name;
    std::string detail;
};

struct SearchOutput {
    bool started = false;
    bool ended = false;
    double endMs = 0;
    double stopMs = -1;  // when the driver asked for the stop (--stop-at-ms)
    std::vector<std::string> unresolved;
    long long startWallMs = 0;
    std::size_t tableSize = 0;
    std::vector<FoundDevice> devices;
    int exitCode = -1;
    std::string raw;
    std::string errors;

    const FoundDevice* Find(const std::string& address) const;
    std::size_t Count(const std::string& address) const;
};

SearchOutput ParseSearchOutput(const std::string& text);

// Runs the native driver in namespace ns; env: "NAME=value" added for it.
SearchOutput RunNativeSearch(const std::string& ns, const std::filesystem::path& cwd,
                             std::vector<std::string> extra = {},
                             std::vector<std::string> env = {});

// The search driver with a name that never resolves beside a device that
// answers at once (device: its address): the device's row comes as fast as
// without the name, the name counts as unresolved after about 5 s, and a
// stop while it is looked up ends the search within 0.5 s. run: the driver
// with these arguments, given the silent server.
void CheckHangingName(const std::function<SearchOutput(const std::vector<std::string>&)>& run,
                      const std::string& device);

struct ProbeRecord {
    long long tMs = 0;
    std::string src;
    int sport = 0;
    std::string dst;
    std::string bytes;
};
struct AnswerRecord {
    long long tMs = 0;
    std::string from;
    std::string to;
    int dport = 0;
    std::string bytes;
};
std::vector<ProbeRecord> ParseProbes(const std::string& record);
std::vector<AnswerRecord> ParseAnswers(const std::string& record);

}  // namespace lantest
