// slfind: the finder's search on the command line. One search exactly as the
// finder runs it; each device is printed as it is found, as an aligned line
// or as a JSON object, and the exit code tells whether any device answered.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "finder/discovery/discovery.h"
#include "finder/discovery/interruptible_network.h"
#include "finder/discovery/search_log.h"
#include "finder/discovery/search_targets.h"
#include "finder/discovery/search_worker.h"
#include "platform/console.h"
#include "platform/text.h"
#include "product_version.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNone = 1;
constexpr int kExitCannot = 2;
constexpr int kExitInterrupted = 130;

constexpr wchar_t kUsage[] =
    L"usage: slfind [--json] [--encoding cp932|utf-8] [--no-multicast] [TARGET...]\n"
    L"Searches the local network once for storage devices and prints each device\n"
    L"as it answers: its IP address and name, or with --json one object per line\n"
    L"{\"address\":...,\"name\":...,\"detail\":...} in UTF-8.\n"
    L"A TARGET is also probed directly, for devices on other networks (behind a\n"
    L"router, a VPN or an isolating Wi-Fi), which the multicast probe never reaches:\n"
    L"an IPv4 address (192.168.20.5), a host name (nas.example.lan, looked up\n"
    L"beside the search, at most 5 s) or a range from /22 to /32 (192.168.20.0/24,\n"
    L"at most 1,024 addresses, without the network and broadcast addresses).\n"
    L"  --json            JSON lines instead of the aligned list\n"
    L"  --encoding E      how device names are read: cp932 (default, as devices send\n"
    L"                    them for the Japanese Windows finder) or utf-8\n"
    L"  --no-multicast    probe the targets only\n"
    L"  --help, --version\n"
    L"Exit codes: 0 devices found, 1 none answered (standard error then says what\n"
    L"was searched), 2 usage error, a target that is not valid, or no search\n"
    L"possible, 130 interrupted (Ctrl+C).";

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

struct Options {
    bool json = false;
    plat::TextEncoding encoding = plat::TextEncoding::Cp932;
    SearchRequest request;
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

// Control characters would break the line; they show as blanks.
std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text) {
        if (static_cast<std::uint32_t>(c) < 0x20 || c == 0x7F) {
            c = L' ';
        }
    }
    return text;
}

class ConsoleHost final : public SearchHost {
  public:
    explicit ConsoleHost(const Options& options) : options_(options) {}

    void NotifySearchStart() override {
        ClearDevices(m_mapDevices);
        if (!options_.json) {
            plat::WriteLine(plat::Stream::Out, Pad(L"IP Address") + L"Name");
        }
    }

    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t) override {
        ++found_;
        if (options_.json) {
            plat::WriteLine(plat::Stream::Out, L"{\"address\":" + JsonString(device.strAddress) +
                                                   L",\"name\":" + JsonString(device.strName) +
                                                   L",\"detail\":" + JsonString(device.strDetail) +
                                                   L"}");
        } else {
            plat::WriteLine(plat::Stream::Out, Pad(device.strAddress) + OneLine(device.strName));
        }
    }

    void NotifySearchEnd() override {}

    std::size_t Found() const { return found_; }

  private:
    static std::wstring Pad(std::wstring text) {
        text.resize(std::max(text.size() + 1, kAddressColumn), L' ');
        return text;
    }

    const Options options_;
    std::size_t found_ = 0;
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
            options.json = true;
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
    SearchSummary summary;
    RunSearch(&host, net, SearchLimitFromEnvironment(), options.encoding, options.request,
              &summary);
    if (g_interrupted.load() != 0) {
        return kExitInterrupted;
    }
    ExplainSearch(summary, options.request, host.Found() > 0);
    return host.Found() > 0 ? kExitFound : kExitNone;
}
