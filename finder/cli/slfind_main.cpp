// slfind: the finder's search on the command line. One search exactly as the
// finder runs it; each device is printed as it is found, as an aligned line
// or as a JSON object, and the exit code tells whether any device answered.
// It also searches again and again (--watch), exports CSV and wakes a
// sleeping device by its hardware address (--wake).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "finder/devices/mac_address.h"
#include "finder/devices/wake.h"
#include "finder/discovery/discovery.h"
#include "finder/discovery/interruptible_network.h"
#include "finder/discovery/search_log.h"
#include "finder/discovery/search_targets.h"
#include "finder/discovery/search_worker.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/text.h"
#include "product_version.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNone = 1;
constexpr int kExitCannot = 2;
constexpr int kExitInterrupted = 130;

constexpr wchar_t kUsage[] =
    L"usage: slfind [--json | --csv] [--encoding cp932|utf-8] [--no-multicast]\n"
    L"              [--watch [SECONDS]] [TARGET...]\n"
    L"       slfind --wake MAC [--wake-via ADDRESS]\n"
    L"Searches the local network once for storage devices and prints each device\n"
    L"as it answers: its IP address and name, or with --json one object per line\n"
    L"{\"address\":...,\"name\":...,\"detail\":...,\"mac\":...} in UTF-8 (\"mac\" when\n"
    L"the system's neighbour table knows the device's hardware address).\n"
    L"A TARGET is also probed directly, for devices on other networks (behind a\n"
    L"router, a VPN or an isolating Wi-Fi), which the multicast probe never reaches:\n"
    L"an IPv4 address (192.168.20.5), a host name (nas.example.lan, looked up\n"
    L"beside the search, at most 5 s) or a range from /22 to /32 (192.168.20.0/24,\n"
    L"at most 1,024 addresses, without the network and broadcast addresses).\n"
    L"  --json            JSON lines instead of the aligned list\n"
    L"  --csv             CSV (RFC 4180, UTF-8): address,name,detail,mac\n"
    L"  --watch [SECONDS] search again every SECONDS (default 60, at least 10) until\n"
    L"                    Ctrl+C: a device is printed when it appears, and a line\n"
    L"                    ({\"event\":\"gone\",...} with --json) when it has missed two\n"
    L"                    searches in a row\n"
    L"  --wake MAC        send a Wake-on-LAN magic packet for the hardware address\n"
    L"                    MAC (00-11-22-AA-BB-CC, 00:11:22:aa:bb:cc or 001122aabbcc)\n"
    L"                    to the broadcast address of every local subnet\n"
    L"  --wake-via ADDR   send it to ADDR instead: the directed broadcast of a device\n"
    L"                    behind a router (10.77.255.255, or 10.77.0.0/16)\n"
    L"  --encoding E      how device names are read: cp932 (default, as devices send\n"
    L"                    them for the Japanese Windows finder) or utf-8\n"
    L"  --no-multicast    probe the targets only\n"
    L"  --help, --version\n"
    L"Exit codes: 0 devices found (--wake: the packet was sent), 1 none answered\n"
    L"(standard error then says what was searched), 2 usage error, a target or MAC\n"
    L"that is not valid, or no search possible, 130 interrupted (Ctrl+C; --watch\n"
    L"always ends so).";

// How to reach a device on another network, shown after an empty search.
constexpr wchar_t kOtherNetworkHint[] =
    L"a device on another network is found by its address, host name or range, "
    L"for example: slfind 192.168.20.0/24";

// Width of the address column: the longest dotted address and two blanks.
constexpr std::size_t kAddressColumn = 17;

std::atomic<std::int32_t> g_interrupted{0};
std::atomic<std::int32_t>* g_stopFlag = nullptr;

void OnCtrlC() {
    g_interrupted.store(1);
    if (g_stopFlag != nullptr) {
        g_stopFlag->store(1);
    }
}

enum class Format { Aligned, Json, Csv };

constexpr long kDefaultWatchSeconds = 60;
constexpr long kMinWatchSeconds = 10;
// A device missing from this many searches in a row is reported gone.
constexpr int kMissesUntilGone = 2;

struct Options {
    Format format = Format::Aligned;
    plat::TextEncoding encoding = plat::TextEncoding::Cp932;
    SearchRequest request;
    std::optional<long> watchSeconds;
    std::optional<std::wstring> wakeMac;
    std::optional<std::wstring> wakeVia;
};

void Say(const std::wstring& message) { plat::WriteLine(plat::Stream::Err, L"slfind: " + message); }

std::wstring Joined(const std::vector<std::wstring>& texts) {
    std::wstring out;
    for (const std::wstring& text : texts) {
        out += (out.empty() ? L"" : L", ") + text;
    }
    return out;
}

// Names passed over (always), and after an empty search what was searched.
void ExplainSearch(const SearchSummary& summary, const SearchRequest& request, bool found) {
    for (const std::wstring& name : summary.unresolved) {
        Say(L"'" + name + L"' did not resolve to an IPv4 address; skipped");
    }
    for (const std::wstring& reason : summary.refused) {
        Say(reason + L"; skipped");
    }
    if (found) {
        return;
    }
    std::wstring searched = L"no device answered; searched ";
    if (request.multicast) {
        searched += L"by multicast from " + Joined(summary.localAddresses);
        searched += request.targets.empty() ? L"" : L" and ";
    }
    if (!request.targets.empty()) {
        searched += std::to_wstring(summary.directedAddresses) +
                    (summary.directedAddresses == 1 ? L" address" : L" addresses") + L" directly";
    }
    Say(searched);
    Say(kOtherNetworkHint);
}

std::wstring JsonString(std::wstring_view text) {
    struct Escape {
        wchar_t c;
        const wchar_t* as;
    };
    static constexpr Escape kEscapes[] = {
        {L'"', L"\\\""}, {L'\\', L"\\\\"}, {L'\n', L"\\n"}, {L'\r', L"\\r"}, {L'\t', L"\\t"}};
    std::wstring out = L"\"";
    for (const wchar_t c : text) {
        const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [c](const Escape& e) { return e.c == c; });
        if (escape != std::end(kEscapes)) {
            out += escape->as;
        } else if (static_cast<std::uint32_t>(c) < 0x20) {
            wchar_t code[8];
            std::swprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled.
std::wstring CsvField(const std::wstring& text) {
    if (text.find_first_of(L",\"\r\n") == std::wstring::npos) {
        return text;
    }
    std::wstring out = L"\"";
    for (const wchar_t c : text) {
        out += c == L'"' ? L"\"\"" : std::wstring(1, c);
    }
    return out + L"\"";
}

// Control characters would break the line; they show as blanks.
std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text) {
        if (static_cast<std::uint32_t>(c) < 0x20 || c == 0x7F) {
            c = L' ';
        }
    }
    return text;
}

// A device as printed: the search's record and the hardware address the
// neighbour table gave right after its answer.
struct SeenDevice {
    std::wstring address;
    std::wstring name;
    std::wstring detail;
    std::optional<devices::MacAddress> mac;
};

std::wstring Pad(std::wstring text) {
    text.resize(std::max(text.size() + 1, kAddressColumn), L' ');
    return text;
}

void PrintHeader(Format format) {
    if (format == Format::Aligned) {
        plat::WriteLine(plat::Stream::Out, Pad(L"IP Address") + L"Name");
    } else if (format == Format::Csv) {
        plat::WriteLine(plat::Stream::Out, L"address,name,detail,mac\r");
    }
}

void PrintDevice(Format format, const SeenDevice& device, bool gone) {
    const std::wstring mac = device.mac ? devices::FormatMacLower(*device.mac) : L"";
    if (format == Format::Json) {
        plat::WriteLine(plat::Stream::Out,
                        std::wstring(gone ? L"{\"event\":\"gone\"," : L"{") + L"\"address\":" +
                            JsonString(device.address) + L",\"name\":" + JsonString(device.name) +
                            L",\"detail\":" + JsonString(device.detail) +
                            (device.mac ? L",\"mac\":" + JsonString(mac) : L"") + L"}");
    } else if (format == Format::Csv) {
        // Lines end in CR LF, as RFC 4180 has them.
        plat::WriteLine(plat::Stream::Out, CsvField(device.address) + L"," + CsvField(device.name) +
                                               L"," + CsvField(device.detail) + L"," + mac + L"\r");
    } else {
        plat::WriteLine(plat::Stream::Out,
                        Pad(device.address) + OneLine(device.name) + (gone ? L"  (gone)" : L""));
    }
}

class ConsoleHost final : public SearchHost {
  public:
    explicit ConsoleHost(const Options& options) : options_(options) {}

    void NotifySearchStart() override {
        ClearDevices(m_mapDevices);
        found_.clear();
        if (!headerPrinted_) {
            PrintHeader(options_.format);
            headerPrinted_ = true;
        }
    }

    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t) override {
        SeenDevice seen{
            device.strAddress, device.strName, device.strDetail,
            devices::NeighbourMac(discovery::ParseIpv4(plat::ToUtf8(device.strAddress)))};
        // While watching, a device already listed is not printed again.
        if (present_.count(device.strAddress) == 0) {
            PrintDevice(options_.format, seen, false);
        }
        found_[device.strAddress] = std::move(seen);
    }

    void NotifySearchEnd() override {}

    std::size_t Found() const { return found_.size(); }

    // After a search of --watch: the devices found are present again; one
    // that missed kMissesUntilGone searches in a row is reported gone.
    void SettleWatch() {
        for (auto it = present_.begin(); it != present_.end();) {
            if (found_.count(it->first) != 0) {
                ++it;
            } else if (++it->second.misses >= kMissesUntilGone) {
                PrintDevice(options_.format, it->second.device, true);
                it = present_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& [address, device] : found_) {
            present_[address] = Watched{device, 0};
        }
    }

  private:
    struct Watched {
        SeenDevice device;
        int misses = 0;
    };

    const Options options_;
    bool headerPrinted_ = false;
    std::map<std::wstring, SeenDevice> found_;
    std::map<std::wstring, Watched> present_;
};

int Fail(const std::wstring& message) {
    Say(message);
    return kExitCannot;
}

// Whether a search can run at all: an IPv4 address besides loopback and a
// socket to send from. The message when not.
std::wstring CannotSearch(INetwork& net) {
    const SocketLayer layer(net);
    std::vector<std::wstring> addresses;
    discovery::GetLocalIPv4Addresses(net, addresses);
    if (addresses.empty()) {
        return L"no IPv4 address besides loopback";
    }
    if (!NetSocket(net, net.OpenUdpSocket())) {
        return L"cannot open a UDP socket";
    }
    return {};
}

// --wake: the magic packet, three times, to the subnets or the via address.
int WakeDevice(const Options& options) {
    const auto mac = devices::ParseMac(*options.wakeMac);
    if (!mac) {
        return Fail(L"'" + *options.wakeMac +
                    L"' is not a hardware address: 12 hex digits, in pairs joined by '-', ':' "
                    L"or nothing (00-11-22-AA-BB-CC)");
    }
    std::optional<std::uint32_t> via;
    if (options.wakeVia) {
        via = devices::ParseWakeVia(*options.wakeVia);
        if (!via) {
            return Fail(L"'" + *options.wakeVia +
                        L"' is not a directed broadcast address: an IPv4 address or a subnet "
                        L"from /8 to /30 (10.77.0.0/16)");
        }
    }
    const auto net = devices::MakeSystemWakeNetwork();
    std::vector<devices::LocalSubnet> locals;
    net->ListSubnets(locals);
    const auto plan = devices::PlanWake(locals, std::nullopt, via);
    if (plan.empty()) {
        return Fail(L"no IPv4 address besides loopback to send the magic packet from");
    }
    if (devices::SendWake(*net, *mac, plan) == 0) {
        return Fail(L"the magic packet could not be sent");
    }
    std::vector<std::wstring> destinations;
    for (const devices::WakeSend& send : plan) {
        const std::wstring to = discovery::FormatIpv4(send.destination);
        if (std::find(destinations.begin(), destinations.end(), to) == destinations.end()) {
            destinations.push_back(to);
        }
    }
    plat::WriteLine(plat::Stream::Out, L"magic packet for " + devices::FormatMacLower(*mac) +
                                           L" sent to " + Joined(destinations) + L" (UDP port 9, " +
                                           std::to_wstring(devices::kWakeRounds) + L" times)");
    return kExitFound;
}

// Waits until the next search of --watch is due; false after Ctrl+C.
bool WaitForNextSearch(std::chrono::steady_clock::time_point due) {
    while (g_interrupted.load() == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - now, std::chrono::milliseconds(100)));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            plat::WriteLine(plat::Stream::Out, kUsage);
            return 0;
        }
        if (arg == "--version") {
            plat::WriteLine(plat::Stream::Out, L"slfind " SL_PRODUCT_VERSION_WIDE);
            return 0;
        }
        if (arg == "--json") {
            options.format = Format::Json;
        } else if (arg == "--csv") {
            options.format = Format::Csv;
        } else if (arg == "--watch") {
            // The interval is the next argument when that is a number (a
            // target never is: it has dots or letters).
            options.watchSeconds = kDefaultWatchSeconds;
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            if (!next.empty() && next.find_first_not_of("0123456789") == std::string::npos) {
                ++i;
                const long seconds = next.size() <= 6 ? std::stol(next) : 0;
                if (seconds < kMinWatchSeconds) {
                    return Fail(L"--watch " + plat::FromUtf8(next) +
                                L": the interval is a number of seconds from 10 to 999999");
                }
                options.watchSeconds = seconds;
            }
        } else if (arg == "--wake" || arg == "--wake-via") {
            if (i + 1 >= argc) {
                return Fail(plat::FromUtf8(arg) + L" needs a value (see slfind --help)");
            }
            (arg == "--wake" ? options.wakeMac : options.wakeVia) = plat::FromUtf8(argv[++i]);
        } else if (arg == "--no-multicast") {
            options.request.multicast = false;
        } else if (arg == "--encoding" || arg.rfind("--encoding=", 0) == 0) {
            std::string value;
            if (arg == "--encoding") {
                if (i + 1 >= argc) {
                    return Fail(L"--encoding needs a value: cp932 or utf-8");
                }
                value = argv[++i];
            } else {
                value = arg.substr(11);
            }
            if (value == "cp932") {
                options.encoding = plat::TextEncoding::Cp932;
            } else if (value == "utf-8" || value == "utf8") {
                options.encoding = plat::TextEncoding::Utf8;
            } else {
                return Fail(L"unknown encoding '" + plat::FromUtf8(value) + L"': cp932 or utf-8");
            }
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail(L"unknown argument '" + plat::FromUtf8(arg) + L"' (see slfind --help)");
        } else {
            const std::wstring text = plat::FromUtf8(arg);
            discovery::SearchTarget target;
            if (const auto error = discovery::ParseTarget(text, target);
                error != discovery::TargetError::None) {
                return Fail(discovery::TargetErrorMessage(error, text));
            }
            options.request.targets.push_back(target.text);
        }
    }
    if (options.wakeVia && !options.wakeMac) {
        return Fail(L"--wake-via needs --wake MAC (see slfind --help)");
    }
    if (options.wakeMac) {
        if (options.watchSeconds || options.format != Format::Aligned ||
            !options.request.targets.empty() || !options.request.multicast) {
            return Fail(L"--wake goes only with --wake-via (see slfind --help)");
        }
        return WakeDevice(options);
    }
    if (options.watchSeconds && options.format == Format::Csv) {
        return Fail(L"--watch writes events, which CSV cannot: use --json (see slfind --help)");
    }
    if (!options.request.multicast && options.request.targets.empty()) {
        return Fail(L"--no-multicast needs a search target (see slfind --help)");
    }

    SetLogEnabled(false);
    plat::OnInterrupt(&OnCtrlC);
    InterruptibleNetwork net(MakeSystemNetwork(), g_interrupted);
    if (const std::wstring reason = CannotSearch(net); !reason.empty()) {
        return Fail(reason);
    }
    ConsoleHost host(options);
    g_stopFlag = &host.StopSearchFlag();
    if (options.watchSeconds) {
        // The interval is what a sleeping device sees: each search's probe.
        // SL_WATCH_INTERVAL_MS (tests) shortens it below the minimum.
        const auto interval =
            std::chrono::milliseconds(plat::EnvNumber("SL_WATCH_INTERVAL_MS", 100, 3600000)
                                          .value_or(*options.watchSeconds * 1000));
        for (;;) {
            const auto due = std::chrono::steady_clock::now() + interval;
            RunSearch(&host, net, SearchLimitFromEnvironment(), options.encoding, options.request);
            if (g_interrupted.load() != 0) {
                return kExitInterrupted;
            }
            host.SettleWatch();
            if (!WaitForNextSearch(due)) {
                return kExitInterrupted;
            }
        }
    }
    SearchSummary summary;
    RunSearch(&host, net, SearchLimitFromEnvironment(), options.encoding, options.request,
              &summary);
    if (g_interrupted.load() != 0) {
        return kExitInterrupted;
    }
    ExplainSearch(summary, options.request, host.Found() > 0);
    return host.Found() > 0 ? kExitFound : kExitNone;
}
