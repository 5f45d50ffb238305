// A simulated storage device for the test LAN (native Linux only). It joins
// the discovery group on every interface of its namespace and answers each
// probe by unicast to the probe's source after a random delay of up to MX
// seconds, from each of its device addresses on the interface the probe came
// in by (a probe sent to one of them: from that one only). It records every
// probe and answer as JSON lines, misbehaves on request, and ends by itself
// after its time limit or on SIGTERM. Like a real device it can sleep: it
// then answers nothing, and wakes when a Wake-on-LAN magic packet naming its
// hardware address reaches UDP port 9 (broadcast or unicast).
#include <arpa/inet.h>
#include <iconv.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr char kGroup[] = "239.143.255.250";
constexpr std::uint16_t kPort = 1900;

const char kUsage[] =
    "usage: sl_simdevice [options]\n"
    "  --address A       a device on local address A (repeatable; default: one device\n"
    "                    per IPv4 address of the namespace, loopback excluded)\n"
    "  --name TEXT       device name, {i} = device index, {addr} = its address\n"
    "                    (default SimNas-{i})\n"
    "  --server TEXT     value of the SERVER line, {name} = the name\n"
    "                    (default \"Linux/5.10, UPnP/1.0, HomeNas/{name}/1.0.0\")\n"
    "  --encoding E      utf8 or sjis: bytes of the name (default utf8)\n"
    "  --mode M          normal, no-server, two-servers, lower-case, size-4096,\n"
    "                    size-over, binary, twice, empty (a datagram of no bytes)\n"
    "  --answer-from A   answer every probe from address A alone, whatever the\n"
    "                    interface (one device reachable on several segments)\n"
    "  --max-delay-ms N  answer within [0, N] ms (default: the probe's MX seconds)\n"
    "  --repeat-ms N     answer again every N ms, never stopping (until the time\n"
    "                    limit)\n"
    "  --seed N          seed of the delays (default 1)\n"
    "  --record FILE     JSON lines: every probe received and answer sent\n"
    "  --ready FILE      created once the device listens\n"
    "  --time-limit S    end after S seconds (default 120)\n"
    "  --asleep          start asleep: answer nothing until woken\n"
    "  --mac MAC         the hardware address a magic packet must name (default:\n"
    "                    that of the first device's interface)\n"
    "SIGUSR1 puts the device to sleep, SIGUSR2 wakes it; every datagram on UDP\n"
    "port 9 is recorded (\"event\":\"magic\"), and one naming the device wakes it.\n";

struct Options {
    std::vector<std::string> addresses;
    std::string name = "SimNas-{i}";
    std::string server = "Linux/5.10, UPnP/1.0, HomeNas/{name}/1.0.0";
    std::string encoding = "utf8";
    std::string mode = "normal";
    std::string answerFrom;
    std::optional<long> maxDelayMs;
    long repeatMs = 0;
    unsigned long seed = 1;
    std::string record;
    std::string ready;
    long timeLimit = 120;
    bool asleep = false;
    std::string mac;
};

struct Device {
    std::string address;
    unsigned ifindex = 0;
    std::string name;  // bytes as sent
    int socket = -1;
};

struct Answer {
    std::size_t device;
    sockaddr_in to;
    std::string bytes;
};

using Clock = std::chrono::steady_clock;

long long WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

std::optional<std::string> ToShiftJis(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        cd = iconv_open("SHIFT_JIS", "UTF-8");
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string in = utf8;
    std::string out(in.size() * 2 + 16, '\0');
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(out.size() - dstLeft);
    return out;
}

std::string Hex(const char* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

std::string AddressText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

class Recorder {
  public:
    explicit Recorder(const std::string& path) {
        if (!path.empty()) {
            file_ = std::fopen(path.c_str(), "a");
        }
    }
    ~Recorder() {
        if (file_ != nullptr) std::fclose(file_);
    }
    void Line(const std::string& json) {
        if (file_ == nullptr) return;
        std::fputs(json.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    bool Ok(const std::string& path) const { return path.empty() || file_ != nullptr; }

  private:
    std::FILE* file_ = nullptr;
};

// The answer's bytes for one device, by mode. second: the repeated answer.
std::string BuildAnswer(const Options& options, const Device& device, bool second) {
    const std::string name = second ? device.name + "-again" : device.name;
    std::string server = Replace(options.server, "{name}", name);
    std::string head =
        "HTTP/1.1 200 OK\r\n"
        "CACHE-CONTROL: max-age=1800\r\n"
        "EXT:\r\n";
    std::string tail =
        "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
        "USN: uuid:00000000-5e1b-0000-0000-" +
        Hex(device.address.data(), std::min<std::size_t>(device.address.size(), 6)) +
        "::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n";
    const std::string& mode = options.mode;
    if (mode == "empty") {
        return {};
    }
    std::string body;
    if (mode == "no-server") {
        body = head + tail;
    } else if (mode == "two-servers") {
        body = head + "SERVER: " + server + "\r\n" + tail +
               "SERVER: " + Replace(options.server, "{name}", name + "-second") + "\r\n";
    } else if (mode == "lower-case") {
        body = head + "Server: " + server + "\r\n" + tail;
    } else if (mode == "binary") {
        std::string noise;
        for (int b = 1; b < 256; ++b) noise.push_back(static_cast<char>(b));
        body = head + noise + "\r\nSERVER: " + server + "\r\n" + tail + "\r\n";
        body.push_back('\0');
        body += "\xff\xfe after the zero byte SERVER: x, y, z/Hidden/9\r\n";
        return body;
    } else {
        body = head + "SERVER: " + server + "\r\n" + tail;
    }
    body += "\r\n";
    std::size_t size = 0;
    if (mode == "size-4096") size = 4096;
    if (mode == "size-over") size = 5000;
    if (size > 0 && body.size() < size) {
        // Padding as one more header line, placed before the blank line.
        const std::string prefix = "X-PAD: ";
        const std::size_t fill = size - body.size() - prefix.size() - 2;
        body.insert(body.size() - 2, prefix + std::string(fill, 'p') + "\r\n");
    }
    return body;
}

int Mx(const std::string& probe) {
    const std::size_t at = probe.find("MX:");
    if (at == std::string::npos) return 3;
    const long value = std::strtol(probe.c_str() + at + 3, nullptr, 10);
    return static_cast<int>(std::max(0L, std::min(value, 5L)));
}

// "aa:bb:cc:dd:ee:ff" (or with '-') as 6 bytes.
std::optional<std::string> ParseMac(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (i + 2 > text.size() ||
            (i + 2 < text.size() && text[i + 2] != ':' && text[i + 2] != '-'))
            return std::nullopt;
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return std::nullopt;
        bytes.push_back(static_cast<char>(value));
    }
    if (bytes.size() != 6) return std::nullopt;
    return bytes;
}

// Whether a datagram holds the magic sequence for mac: six FF bytes and the
// address sixteen times.
bool HoldsMagic(const std::string& datagram, const std::string& mac) {
    std::string magic(6, '\xff');
    for (int i = 0; i < 16; ++i) magic += mac;
    return datagram.find(magic) != std::string::npos;
}

// One datagram with the address it was sent to (IP_PKTINFO) and the
// interface it came in on; nullopt when nothing could be read.
struct Received {
    std::string bytes;
    sockaddr_in from{};
    std::string destination;
    unsigned ifindex = 0;
};

std::optional<Received> ReceiveWithDestination(int socket, std::vector<char>& buffer) {
    Received r;
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[256];
    msghdr msg{};
    msg.msg_name = &r.from;
    msg.msg_namelen = sizeof r.from;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &msg, 0);
    if (got < 0) return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            r.ifindex = static_cast<unsigned>(info.ipi_ifindex);
            r.destination = AddressText(info.ipi_addr);
        }
    }
    r.bytes.assign(buffer.data(), static_cast<std::size_t>(got));
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "sl_simdevice: %s needs a value\n%s", arg.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--address")
            options.addresses.push_back(value());
        else if (arg == "--name")
            options.name = value();
        else if (arg == "--server")
            options.server = value();
        else if (arg == "--encoding")
            options.encoding = value();
        else if (arg == "--mode")
            options.mode = value();
        else if (arg == "--answer-from")
            options.answerFrom = value();
        else if (arg == "--max-delay-ms")
            options.maxDelayMs = std::strtol(value().c_str(), nullptr, 10);
        else if (arg == "--repeat-ms")
            options.repeatMs = std::strtol(value().c_str(), nullptr, 10);
        else if (arg == "--seed")
            options.seed = std::strtoul(value().c_str(), nullptr, 10);
        else if (arg == "--record")
            options.record = value();
        else if (arg == "--ready")
            options.ready = value();
        else if (arg == "--time-limit")
            options.timeLimit = std::strtol(value().c_str(), nullptr, 10);
        else if (arg == "--asleep")
            options.asleep = true;
        else if (arg == "--mac")
            options.mac = value();
        else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    static const char* const kModes[] = {"normal",     "no-server", "two-servers",
                                         "lower-case", "size-4096", "size-over",
                                         "binary",     "twice",     "empty"};
    if (std::none_of(std::begin(kModes), std::end(kModes),
                     [&](const char* m) { return options.mode == m; }) ||
        (options.encoding != "utf8" && options.encoding != "sjis")) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }

    // Interfaces of the namespace: address -> interface index.
    std::map<std::string, unsigned> localAddresses;
    std::map<unsigned, in_addr> interfaces;          // one address per interface, to join on
    std::map<std::string, std::string> hardware;     // interface name -> its MAC's bytes
    std::map<std::string, std::string> interfaceOf;  // address -> interface name
    {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            std::perror("sl_simdevice: getifaddrs");
            return 1;
        }
        for (const ifaddrs* e = list; e != nullptr; e = e->ifa_next) {
            if (e->ifa_addr != nullptr && e->ifa_addr->sa_family == AF_PACKET) {
                const auto* link = reinterpret_cast<const sockaddr_ll*>(e->ifa_addr);
                if (link->sll_halen == 6) {
                    hardware[e->ifa_name] =
                        std::string(reinterpret_cast<const char*>(link->sll_addr), 6);
                }
            }
            if (e->ifa_addr == nullptr || e->ifa_addr->sa_family != AF_INET ||
                (e->ifa_flags & IFF_LOOPBACK) != 0) {
                continue;
            }
            interfaceOf[AddressText(reinterpret_cast<const sockaddr_in*>(e->ifa_addr)->sin_addr)] =
                e->ifa_name;
            const in_addr address = reinterpret_cast<const sockaddr_in*>(e->ifa_addr)->sin_addr;
            const unsigned index = if_nametoindex(e->ifa_name);
            localAddresses.emplace(AddressText(address), index);
            interfaces.emplace(index, address);
        }
        if (options.addresses.empty()) {
            for (const ifaddrs* e = list; e != nullptr; e = e->ifa_next) {
                if (e->ifa_addr != nullptr && e->ifa_addr->sa_family == AF_INET &&
                    (e->ifa_flags & IFF_LOOPBACK) == 0) {
                    options.addresses.push_back(
                        AddressText(reinterpret_cast<const sockaddr_in*>(e->ifa_addr)->sin_addr));
                }
            }
        }
        freeifaddrs(list);
    }
    if (!options.answerFrom.empty()) {
        options.addresses = {options.answerFrom};
    }

    std::vector<Device> devices;
    for (std::size_t i = 0; i < options.addresses.size(); ++i) {
        Device device;
        device.address = options.addresses[i];
        const auto found = localAddresses.find(device.address);
        if (found == localAddresses.end()) {
            std::fprintf(stderr, "sl_simdevice: %s is not an address of this host\n",
                         device.address.c_str());
            return 1;
        }
        device.ifindex = found->second;
        device.name =
            Replace(Replace(options.name, "{i}", std::to_string(i)), "{addr}", device.address);
        if (options.encoding == "sjis") {
            const auto sjis = ToShiftJis(device.name);
            if (!sjis) {
                std::fprintf(stderr, "sl_simdevice: name not convertible to Shift_JIS\n");
                return 1;
            }
            device.name = *sjis;
        }
        device.socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, device.address.c_str(), &local.sin_addr);
        if (device.socket < 0 ||
            bind(device.socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::perror("sl_simdevice: answer socket");
            return 1;
        }
        devices.push_back(device);
    }

    // The hardware address a magic packet must name.
    std::string mac;
    if (!options.mac.empty()) {
        const auto parsed = ParseMac(options.mac);
        if (!parsed) {
            std::fprintf(stderr, "sl_simdevice: --mac %s: aa:bb:cc:dd:ee:ff\n",
                         options.mac.c_str());
            return 2;
        }
        mac = *parsed;
    } else if (!devices.empty()) {
        mac = hardware[interfaceOf[devices.front().address]];
    }
    const int magicListener = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    {
        const int on = 1;
        setsockopt(magicListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(magicListener, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in any9{};
        any9.sin_family = AF_INET;
        any9.sin_port = htons(9);
        if (magicListener < 0 ||
            bind(magicListener, reinterpret_cast<sockaddr*>(&any9), sizeof any9) != 0) {
            std::perror("sl_simdevice: wake socket");
            return 1;
        }
    }
    bool asleep = options.asleep;

    // Several devices processes may share a namespace: all of them get the probe.
    const int listener = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(listener, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kPort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        std::perror("sl_simdevice: listen socket");
        return 1;
    }
    for (const auto& [index, address] : interfaces) {
        ip_mreq join{};
        inet_pton(AF_INET, kGroup, &join.imr_multiaddr);
        join.imr_interface = address;
        if (setsockopt(listener, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
            std::perror("sl_simdevice: join");
            return 1;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    Recorder recorder(options.record);
    if (!recorder.Ok(options.record)) {
        std::perror("sl_simdevice: record file");
        return 1;
    }
    if (!options.ready.empty()) {
        std::FILE* ready = std::fopen(options.ready.c_str(), "w");
        if (ready != nullptr) std::fclose(ready);
    }

    std::mt19937 random(static_cast<std::mt19937::result_type>(options.seed));
    std::multimap<Clock::time_point, Answer> pending;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.timeLimit);
    std::vector<char> buffer(65536);

    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        // Send every answer that is due.
        while (!pending.empty() && pending.begin()->first <= now) {
            const Answer answer = pending.begin()->second;
            pending.erase(pending.begin());
            const Device& device = devices[answer.device];
            const ssize_t sent =
                sendto(device.socket, answer.bytes.data(), answer.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&answer.to), sizeof answer.to);
            recorder.Line("{\"event\":\"answer\",\"t_ms\":" + std::to_string(WallMs()) +
                          ",\"from\":\"" + device.address + "\",\"to\":\"" +
                          AddressText(answer.to.sin_addr) +
                          "\",\"dport\":" + std::to_string(ntohs(answer.to.sin_port)) +
                          ",\"len\":" + std::to_string(answer.bytes.size()) + ",\"ok\":" +
                          (sent == static_cast<ssize_t>(answer.bytes.size()) ? "true" : "false") +
                          ",\"hex\":\"" + Hex(answer.bytes.data(), answer.bytes.size()) + "\"}");
            if (options.repeatMs > 0) {
                pending.emplace(now + std::chrono::milliseconds(options.repeatMs), answer);
            }
        }
        Clock::time_point wake = deadline;
        if (!pending.empty()) wake = std::min(wake, pending.begin()->first);
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
        pollfd fds[3] = {{listener, POLLIN, 0}, {signalFd, POLLIN, 0}, {magicListener, POLLIN, 0}};
        const int count = poll(fds, 3, static_cast<int>(std::max<long long>(0, waitMs.count())));
        if (count < 0) continue;
        if ((fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) != sizeof info) continue;
            if (info.ssi_signo == SIGUSR1 || info.ssi_signo == SIGUSR2) {
                asleep = info.ssi_signo == SIGUSR1;
                if (asleep) pending.clear();
                recorder.Line(std::string("{\"event\":\"") + (asleep ? "sleep" : "wake") +
                              "\",\"t_ms\":" + std::to_string(WallMs()) + ",\"by\":\"signal\"}");
                continue;
            }
            break;
        }
        if ((fds[2].revents & POLLIN) != 0) {
            if (const auto magic = ReceiveWithDestination(magicListener, buffer)) {
                const bool match = !mac.empty() && HoldsMagic(magic->bytes, mac);
                recorder.Line("{\"event\":\"magic\",\"t_ms\":" + std::to_string(WallMs()) +
                              ",\"src\":\"" + AddressText(magic->from.sin_addr) + "\",\"dst\":\"" +
                              magic->destination +
                              "\",\"len\":" + std::to_string(magic->bytes.size()) +
                              ",\"match\":" + (match ? "true" : "false") + ",\"hex\":\"" +
                              Hex(magic->bytes.data(), magic->bytes.size()) + "\"}");
                if (match && asleep) {
                    asleep = false;
                    recorder.Line("{\"event\":\"wake\",\"t_ms\":" + std::to_string(WallMs()) +
                                  ",\"by\":\"magic\"}");
                }
            }
        }
        if ((fds[0].revents & POLLIN) == 0) continue;

        const auto received = ReceiveWithDestination(listener, buffer);
        if (!received) continue;
        const std::string& probe = received->bytes;
        const sockaddr_in& from = received->from;
        const std::string& destination = received->destination;
        const unsigned ifindex = received->ifindex;
        const std::size_t got = probe.size();
        recorder.Line(
            "{\"event\":\"probe\",\"t_ms\":" + std::to_string(WallMs()) + ",\"src\":\"" +
            AddressText(from.sin_addr) + "\",\"sport\":" + std::to_string(ntohs(from.sin_port)) +
            ",\"dst\":\"" + destination + "\",\"ifindex\":" + std::to_string(ifindex) +
            ",\"len\":" + std::to_string(got) + ",\"asleep\":" + (asleep ? "true" : "false") +
            ",\"hex\":\"" + Hex(probe.data(), probe.size()) + "\"}");
        if (probe.rfind("M-SEARCH", 0) != 0 || asleep) continue;
        const long maxDelay = options.maxDelayMs.value_or(Mx(probe) * 1000L);
        std::uniform_int_distribution<long> delay(0, std::max(0L, maxDelay));
        // A probe sent to one device's own address is answered by that device
        // alone, as a device behind a router hears it.
        const bool unicast = destination != kGroup;
        for (std::size_t d = 0; d < devices.size(); ++d) {
            if (options.answerFrom.empty() && devices[d].ifindex != ifindex) continue;
            if (options.answerFrom.empty() && unicast && devices[d].address != destination)
                continue;
            const Clock::time_point due = Clock::now() + std::chrono::milliseconds(delay(random));
            pending.emplace(due, Answer{d, from, BuildAnswer(options, devices[d], false)});
            if (options.mode == "twice") {
                pending.emplace(due + std::chrono::milliseconds(1),
                                Answer{d, from, BuildAnswer(options, devices[d], true)});
            }
        }
    }
    for (const Device& device : devices) close(device.socket);
    close(listener);
    close(magicListener);
    close(signalFd);
    return 0;
}
