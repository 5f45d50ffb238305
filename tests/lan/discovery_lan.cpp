#include "tests/lan/discovery_lan.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

using namespace testsupport;

namespace lantest {

namespace {

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep)) {
        parts.push_back(part);
    }
    return parts;
}

std::string Field(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    std::size_t at = json.find(tag);
    if (at == std::string::npos) {
        return {};
    }
    at += tag.size();
    if (at < json.size() && json[at] == '"') {
        const std::size_t end = json.find('"', at + 1);
        return json.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    const std::size_t end = json.find_first_of(",}", at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

}  // namespace

Host::Host(std::string name, std::vector<std::string> addresses) : name_(std::move(name)) {
    const TestLan lan = GetTestLan();
    ns_ = lan.run + "-" + name_;
    RunProcess({lan.testlan, "drop", name_});  // left over by an aborted run
    std::vector<std::string> argv{lan.testlan, "host", name_};
    argv.insert(argv.end(), addresses.begin(), addresses.end());
    const ProcessResult result = RunProcess(argv);
    ok_ = result.exitCode == 0;
    if (!ok_) {
        ADD_FAILURE() << "testlan.sh host " << name_ << ": " << result.err;
    }
}

Host::~Host() { RunProcess({GetTestLan().testlan, "drop", name_}); }

bool AddAddresses(const std::string& ns, const std::string& ifname,
                  const std::vector<std::string>& addresses) {
    // One batch for ip, so hundreds of addresses take a moment only.
    std::string batch;
    for (const std::string& address : addresses) {
        batch += "addr add " + address + " dev " + ifname + "\n";
    }
    ProcessOptions options;
    options.input = batch;
    return RunProcess({"ip", "-n", ns, "-batch", "-"}, options).exitCode == 0;
}

SimDevice::SimDevice(const std::string& ns, std::vector<std::string> args,
                     const std::filesystem::path& dir, const std::string& tag)
    : record_(dir / (tag + ".jsonl")) {
    const std::filesystem::path ready = dir / (tag + ".ready");
    std::vector<std::string> argv{ToolPath("sl_simdevice").string(),
                                  "--record",
                                  record_.string(),
                                  "--ready",
                                  ready.string(),
                                  "--time-limit",
                                  "60"};
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = BackgroundProcess(InNamespace(ns, argv));
    ready_ = WaitFor([&] { return std::filesystem::exists(ready) || !process_.Running(); },
                     std::chrono::seconds(10)) &&
             std::filesystem::exists(ready);
    if (!ready_) {
        ADD_FAILURE() << "sl_simdevice in " << ns << " did not start: " << process_.Errors();
    }
}

std::string SimDevice::Record() const { return ReadFile(record_); }

SilentDns::SilentDns(const std::filesystem::path& dir)
    : host_("sdns", {"1:198.18.53.53/16"}), conf_(dir / "resolv.conf") {
    // Long waits, so that only the search's own limit ends a lookup.
    WriteFile(conf_, "nameserver 198.18.53.53\noptions timeout:30 attempts:1\n");
    ProcessOptions options;
    options.input =
        "table inet sl_silent_dns {\n"
        "  chain in { type filter hook input priority 0; udp dport 53 drop; tcp dport 53 drop; }\n"
        "}\n";
    const ProcessResult rule = RunProcess(InNamespace(host_.Ns(), {"nft", "-f", "-"}), options);
    ok_ = host_.Ok() && rule.exitCode == 0;
    if (rule.exitCode != 0) {
        ADD_FAILURE() << "nft: " << rule.err;
    }
}

std::vector<std::string> SilentDns::Wrap(const std::vector<std::string>& argv) const {
    std::vector<std::string> wrapped{
        "unshare",     "-m", "sh", "-c", "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
        conf_.string()};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

void CheckHangingName(const std::function<SearchOutput(const std::vector<std::string>&)>& run,
                      const std::string& device) {
    const SearchOutput plain = run({});
    const FoundDevice* first = plain.Find(device);
    ASSERT_NE(first, nullptr) << plain.raw << plain.errors;
    const double plainMs = first->ms;
    const struct {
        long stopAtMs;  // -1: none
        double endFrom, endTo;
    } cases[] = {{-1, 4500, 6500}, {1500, 1500, 2000}};
    for (const auto& c : cases) {
        std::vector<std::string> args{"--target", kSilentName};
        if (c.stopAtMs >= 0) {
            args.insert(args.end(), {"--stop-at-ms", std::to_string(c.stopAtMs)});
        }
        const SearchOutput out = run(args);
        const std::string where = "stop at " + std::to_string(c.stopAtMs) + "\n" + out.raw;
        ASSERT_TRUE(out.started && out.ended) << where << out.errors;
        const FoundDevice* found = out.Find(device);
        ASSERT_NE(found, nullptr) << where;
        std::cout << "hanging name: row after " << found->ms << " ms (" << plainMs
                  << " ms without the name), stop at " << out.stopMs << " ms, end at " << out.endMs
                  << " ms" << std::endl;
        EXPECT_LT(found->ms, plainMs + 500) << where;
        EXPECT_EQ(out.unresolved, std::vector<std::string>{kSilentName}) << where;
        EXPECT_GE(out.endMs, c.endFrom) << where;
        EXPECT_LE(out.endMs, c.endTo) << where;
        if (c.stopAtMs >= 0) {
            EXPECT_LT(out.endMs - out.stopMs, 500) << where;
        }
    }
}

const FoundDevice* SearchOutput::Find(const std::string& address) const {
    for (const FoundDevice& device : devices) {
        if (device.address == address) {
            return &device;
        }
    }
    return nullptr;
}

std::size_t SearchOutput::Count(const std::string& address) const {
    std::size_t n = 0;
    for (const FoundDevice& device : devices) {
        n += device.address == address ? 1 : 0;
    }
    return n;
}

SearchOutput ParseSearchOutput(const std::string& text) {
    SearchOutput out;
    out.raw = text;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto f = Split(line, '\t');
        if (f.empty()) continue;
        if (f[0] == "start" && f.size() >= 3) {
            out.started = true;
            out.startWallMs = std::stoll(f[2]);
        } else if (f[0] == "device" && f.size() >= 4) {
            FoundDevice device;
            device.ms = std::stod(f[1]);
            device.index = std::stol(f[2]);
            device.address = f[3];
            device.name = f.size() > 4 ? f[4] : "";
            device.detail = f.size() > 5 ? f[5] : "";
            out.devices.push_back(device);
        } else if (f[0] == "end" && f.size() >= 3) {
            out.ended = true;
            out.endMs = std::stod(f[1]);
            out.tableSize = std::stoul(f[2]);
        } else if (f[0] == "stop" && f.size() >= 2) {
            out.stopMs = std::stod(f[1]);
        } else if (f[0] == "unresolved" && f.size() >= 2) {
            out.unresolved.push_back(f[1]);
        }
    }
    return out;
}

SearchOutput RunNativeSearch(const std::string& ns, const std::filesystem::path& cwd,
                             std::vector<std::string> extra, std::vector<std::string> env) {
    std::vector<std::string> argv{ToolPath("sl_search").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ProcessOptions options;
    options.cwd = cwd.string();
    options.extraEnv = std::move(env);
    options.timeout = std::chrono::seconds(60);
    const ProcessResult result = RunProcess(InNamespace(ns, argv), options);
    SearchOutput out = ParseSearchOutput(result.out);
    out.exitCode = result.exitCode;
    out.errors = result.err;
    return out;
}

std::vector<ProbeRecord> ParseProbes(const std::string& record) {
    std::vector<ProbeRecord> probes;
    std::istringstream in(record);
    std::string line;
    while (std::getline(in, line)) {
        if (Field(line, "event") != "probe") continue;
        probes.push_back(ProbeRecord{std::stoll(Field(line, "t_ms")), Field(line, "src"),
                                     std::stoi(Field(line, "sport")), Field(line, "dst"),
                                     Unhex(Field(line, "hex"))});
    }
    return probes;
}

std::vector<AnswerRecord> ParseAnswers(const std::string& record) {
    std::vector<AnswerRecord> answers;
    std::istringstream in(record);
    std::string line;
    while (std::getline(in, line)) {
        if (Field(line, "event") != "answer") continue;
        answers.push_back(AnswerRecord{std::stoll(Field(line, "t_ms")), Field(line, "from"),
                                       Field(line, "to"), std::stoi(Field(line, "dport")),
                                       Unhex(Field(line, "hex"))});
    }
    return answers;
}

}  // namespace lantest
