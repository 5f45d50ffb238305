// A simulated update site for tests and benchmarks: a small HTTP/1.1 server
// that serves the version file and a generated installer, with the faults a
// real site can show. Every request head is logged. It ends by itself after
// its time limit, and on SIGTERM or SIGINT.
//
//   update_site --listen ADDR:PORT [options]     (PORT 0: any free port)
//
// Prints "listening ADDR:PORT" once it accepts connections.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness/site_content.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

volatile sig_atomic_t g_signalled = 0;
std::atomic<bool> g_stop{false};
std::atomic<int> g_active{0};

void OnSignal(int) { g_signalled = 1; }

struct Config {
    std::string listenAddr = "127.0.0.1";
    int listenPort = -1;
    std::string logPath;
    int timeLimitSeconds = 600;
    std::string latest = "1.0.0.2";
    std::string versionPath = "/installer/solberio/search/latestversion.ini";
    std::string installerPath = "/installer/slwintool_set_up.exe";
    std::string installerUrl;  // default: from the listen address
    std::uint64_t size = 65536;
    std::string installerFile;  // serve these bytes instead of generated ones
    std::string installerBytes;
    std::string versionFormat = "lf";
    std::string versionFile;  // exact bytes to serve instead
    std::string fault = "none";
    std::string faultTarget = "installer";
    long faultCount = 0;  // 0: every request of the target
    int redirects = 3;
    long long stallAfter = -1;  // -1: half the body
    int trickleMs = 200;        // pause between the bytes of a trickle
    std::uint64_t rate = 0;     // bytes per second of every body; 0: as fast as it goes
    std::uint64_t burst = 0;    // bodies in pieces of this many bytes ...
    int pauseMs = 0;            // ... with this pause between them
    std::string mirror;         // "http://HOST": where the mirror fault sends requests
    std::string root;           // other paths: the files under this folder
    bool chunked = false;       // every body chunked, without Content-Length
    bool noLength = false;      // every body without Content-Length, ended by closing
};

Config g_config;
std::mutex g_logMutex;
std::FILE* g_log = nullptr;
std::mutex g_countMutex;
std::map<std::string, long> g_faultsGiven;  // per target path

[[noreturn]] void Usage(const std::string& why) {
    std::cerr << "update_site: " << why << "\n"
              << "usage: update_site --listen ADDR:PORT [--log FILE] [--time-limit SEC]\n"
                 "  [--latest TEXT] [--version-path PATH] [--installer-path PATH]\n"
                 "  [--installer-url URL] [--size BYTES] [--installer-file FILE]\n"
                 "  [--version-format lf|crlf|bom|section|swapped|empty-url]\n"
                 "  [--version-file FILE]\n"
                 "  [--fault none|404|500|redirect|short|long|no-length|stall|\n"
                 "           endless|trickle|mirror]\n"
                 "  [--fault-target installer|version|all] [--fault-count N]\n"
                 "  [--redirects N] [--stall-after BYTES] [--trickle-ms MS]\n"
                 "  [--rate BYTES_PER_S] [--burst BYTES --pause-ms MS] [--mirror http://HOST]\n"
                 "  [--root DIR]  (any other path: that file under DIR, as it is)\n"
                 "  [--chunked | --no-length]\n"
                 "faults: short cuts the body in the middle and closes; long sends 1000\n"
                 "  bytes more than announced; no-length sends the body without\n"
                 "  Content-Length; stall stops sending after --stall-after bytes and\n"
                 "  keeps the connection; endless sends bytes without Content-Length\n"
                 "  and without end; trickle sends one byte every --trickle-ms (after\n"
                 "  --stall-after bytes at full speed, if given); mirror redirects to the\n"
                 "  same path on --mirror. --rate paces every body; --burst sends it in\n"
                 "  pieces with --pause-ms between them. --chunked sends every body\n"
                 "  chunked (pieces of at most 32 KiB), --no-length every body without\n"
                 "  Content-Length, ended by closing, as proxies pass files on.\n";
    std::exit(2);
}

std::uint64_t Number(const std::string& text, const char* what) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0) {
        Usage(std::string("bad number for ") + what);
    }
    return value;
}

void ParseArgs(int argc, char** argv) {
    Config& c = g_config;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--chunked" || name == "--no-length") {
            (name == "--chunked" ? c.chunked : c.noLength) = true;
            continue;
        }
        if (i + 1 >= argc) {
            Usage("missing value for " + name);
        }
        const std::string value = argv[++i];
        if (name == "--listen") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos) {
                Usage("--listen needs ADDR:PORT");
            }
            c.listenAddr = value.substr(0, colon);
            c.listenPort = static_cast<int>(Number(value.substr(colon + 1), "port"));
        } else if (name == "--log") {
            c.logPath = value;
        } else if (name == "--time-limit") {
            c.timeLimitSeconds = static_cast<int>(Number(value, "--time-limit"));
        } else if (name == "--latest") {
            c.latest = value;
        } else if (name == "--version-path") {
            c.versionPath = value;
        } else if (name == "--installer-path") {
            c.installerPath = value;
        } else if (name == "--installer-url") {
            c.installerUrl = value;
        } else if (name == "--size") {
            c.size = Number(value, "--size");
        } else if (name == "--version-format") {
            c.versionFormat = value;
        } else if (name == "--installer-file") {
            c.installerFile = value;
        } else if (name == "--version-file") {
            c.versionFile = value;
        } else if (name == "--fault") {
            c.fault = value;
        } else if (name == "--fault-target") {
            c.faultTarget = value;
        } else if (name == "--fault-count") {
            c.faultCount = static_cast<long>(Number(value, "--fault-count"));
        } else if (name == "--redirects") {
            c.redirects = static_cast<int>(Number(value, "--redirects"));
        } else if (name == "--stall-after") {
            c.stallAfter = static_cast<long long>(Number(value, "--stall-after"));
        } else if (name == "--root") {
            c.root = value;
        } else if (name == "--trickle-ms") {
            c.trickleMs = static_cast<int>(Number(value, "--trickle-ms"));
        } else if (name == "--rate") {
            c.rate = Number(value, "--rate");
        } else if (name == "--burst") {
            c.burst = Number(value, "--burst");
        } else if (name == "--pause-ms") {
            c.pauseMs = static_cast<int>(Number(value, "--pause-ms"));
        } else if (name == "--mirror") {
            c.mirror = value;
        } else {
            Usage("unknown option " + name);
        }
    }
    if (c.listenPort < 0 || c.listenPort > 65535) {
        Usage("--listen ADDR:PORT is required");
    }
    static const std::vector<std::string> faults = {"none",    "404",     "500",       "redirect",
                                                    "short",   "long",    "no-length", "stall",
                                                    "endless", "trickle", "mirror"};
    if (std::find(faults.begin(), faults.end(), c.fault) == faults.end()) {
        Usage("unknown fault " + c.fault);
    }
    if (c.chunked && c.noLength) {
        Usage("--chunked and --no-length exclude each other");
    }
    if (c.fault == "mirror" && c.mirror.empty()) {
        Usage("the mirror fault needs --mirror http://HOST");
    }
    if (!c.installerFile.empty()) {
        std::ifstream in(c.installerFile, std::ios::binary);
        if (!in) {
            Usage("cannot read " + c.installerFile);
        }
        c.installerBytes.assign(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
    }
}

bool Stopping() { return g_stop.load() || g_signalled != 0; }

// Sends everything, or false when the peer went away or the site stops.
bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, 200);
        if (Stopping()) {
            return false;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

// The generated installer bytes [from, to).
bool SendGenerated(int fd, std::uint64_t from, std::uint64_t to) {
    static const std::vector<unsigned char> pattern = [] {
        std::vector<unsigned char> bytes(65536 + sitecontent::kPeriod);
        sitecontent::Fill(0, bytes.data(), bytes.size());
        return bytes;
    }();
    while (from < to) {
        const std::size_t start = from % sitecontent::kPeriod;
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(65536, to - from));
        if (!SendAll(fd, reinterpret_cast<const char*>(pattern.data() + start), count)) {
            return false;
        }
        from += count;
    }
    return true;
}

// Waits until the client closes, or the site stops.
void WaitForClose(int fd) {
    char sink[4096];
    while (!Stopping()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            const ssize_t got = recv(fd, sink, sizeof sink, 0);
            if (got <= 0) {
                return;
            }
        }
    }
}

std::string HostOfListen() {
    if (g_config.listenPort == 80) {
        return g_config.listenAddr;
    }
    return g_config.listenAddr + ":" + std::to_string(g_config.listenPort);
}

std::string InstallerUrl() {
    return g_config.installerUrl.empty() ? "http://" + HostOfListen() + g_config.installerPath
                                         : g_config.installerUrl;
}

std::string VersionBody() {
    const Config& c = g_config;
    if (!c.versionFile.empty()) {
        std::ifstream in(c.versionFile, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string first = "LatestVersion=" + c.latest;
    const std::string second = "URL=" + InstallerUrl();
    if (c.versionFormat == "crlf") {
        return first + "\r\n" + second + "\r\n";
    }
    if (c.versionFormat == "bom") {
        return "\xEF\xBB\xBF" + first + "\n" + second + "\n";
    }
    if (c.versionFormat == "section") {
        return "[Update]\n" + first + "\n" + second + "\n";
    }
    if (c.versionFormat == "swapped") {
        return second + "\n" + first + "\n";
    }
    if (c.versionFormat == "empty-url") {
        return first + "\nURL=\n";
    }
    return first + "\n" + second + "\n";
}

void Log(const std::string& head) {
    if (g_log == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fputs(head.c_str(), g_log);
    std::fputs("\n", g_log);
    std::fflush(g_log);
}

std::string Status(int code) {
    switch (code) {
        case 200:
            return "200 OK";
        case 301:
            return "301 Moved Permanently";
        case 302:
            return "302 Found";
        case 307:
            return "307 Temporary Redirect";
        case 404:
            return "404 Not Found";
        case 405:
            return "405 Method Not Allowed";
        case 500:
            return "500 Internal Server Error";
        default:
            return std::to_string(code) + " Status";
    }
}

void SendSmall(int fd, int code, const std::string& extra = "") {
    const std::string body = Status(code) + "\n";
    SendText(fd, "HTTP/1.1 " + Status(code) + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n" + extra + "Connection: close\r\n\r\n" +
                     body);
}

// Whether this request of the target path gets the fault.
bool TakeFault(const std::string& path) {
    const Config& c = g_config;
    if (c.fault == "none") {
        return false;
    }
    const bool targeted = c.faultTarget == "all" ||
                          (c.faultTarget == "installer" && path == c.installerPath) ||
                          (c.faultTarget == "version" && path == c.versionPath);
    if (!targeted) {
        return false;
    }
    std::lock_guard<std::mutex> lock(g_countMutex);
    long& given = g_faultsGiven[path];
    if (c.faultCount > 0 && given >= c.faultCount) {
        return false;
    }
    ++given;
    return true;
}

// Sleeps until `until`, or less when the site stops.
void SleepUntil(Clock::time_point until) {
    while (!Stopping() && Clock::now() < until) {
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), 50ms));
    }
}

// A body, generated installer bytes or a text, with the transfer fault. Its
// bytes go at the site's pace: --rate bytes a second, and --burst pieces
// with --pause-ms between them, as links and busy servers deliver them.
struct Body {
    const std::string* text = nullptr;  // nullptr: generated installer
    std::uint64_t size = 0;
    mutable Clock::time_point start = Clock::now();
    mutable std::uint64_t sent = 0;
    mutable Clock::duration paused{};

    bool SendUnframed(int fd, std::uint64_t from, std::uint64_t to) const {
        if (text != nullptr) {
            return SendAll(fd, text->data() + from, static_cast<std::size_t>(to - from));
        }
        return SendGenerated(fd, from, to);
    }
    bool SendRaw(int fd, std::uint64_t from, std::uint64_t to) const {
        if (!g_config.chunked) {
            return SendUnframed(fd, from, to);
        }
        constexpr std::uint64_t kMostPerChunk = 32768;
        while (from < to) {
            const std::uint64_t n = std::min(kMostPerChunk, to - from);
            char size[32];
            std::snprintf(size, sizeof size, "%llx\r\n", static_cast<unsigned long long>(n));
            if (!SendText(fd, size) || !SendUnframed(fd, from, from + n) || !SendText(fd, "\r\n")) {
                return false;
            }
            from += n;
        }
        return true;
    }
    bool Send(int fd, std::uint64_t from, std::uint64_t to) const {
        const Config& c = g_config;
        if (c.rate == 0 && c.burst == 0) {
            return SendRaw(fd, from, to);
        }
        // Slices of 1/50 s at the rate, cut at the piece boundaries.
        const std::uint64_t slice = c.rate > 0 ? std::max<std::uint64_t>(c.rate / 50, 1) : 65536;
        while (from < to) {
            std::uint64_t n = std::min(slice, to - from);
            if (c.burst > 0) {
                if (sent > 0 && sent % c.burst == 0) {
                    const auto pauseStart = Clock::now();
                    SleepUntil(pauseStart + std::chrono::milliseconds(c.pauseMs));
                    paused += Clock::now() - pauseStart;
                }
                n = std::min(n, c.burst - sent % c.burst);
            }
            if (c.rate > 0) {
                SleepUntil(start + paused + std::chrono::microseconds(sent * 1000000 / c.rate));
            }
            if (Stopping() || !SendRaw(fd, from, from + n)) {
                return false;
            }
            from += n;
            sent += n;
        }
        return true;
    }
};

void Serve(int fd, const Body& body, const std::string& fault) {
    const std::string type = body.text != nullptr ? "text/plain" : "application/octet-stream";
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n";
    if (g_config.chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (fault != "no-length" && fault != "endless" && !g_config.noLength) {
        head += "Content-Length: " + std::to_string(body.size) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    if (!SendText(fd, head)) {
        return;
    }
    if (fault == "short") {
        body.Send(fd, 0, body.size / 2);
        return;  // and close
    }
    if (fault == "endless") {
        // Until the client gives up or the site stops.
        for (std::uint64_t at = 0; SendGenerated(fd, at, at + 65536); at += 65536) {
        }
        return;
    }
    if (fault == "trickle") {
        // --stall-after bytes at full speed first, if given.
        std::uint64_t at = g_config.stallAfter >= 0
                               ? std::min<std::uint64_t>(
                                     static_cast<std::uint64_t>(g_config.stallAfter), body.size)
                               : 0;
        if (!body.Send(fd, 0, at)) {
            return;
        }
        for (; at < body.size && !Stopping(); ++at) {
            if (!body.Send(fd, at, at + 1)) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(g_config.trickleMs));
        }
        return;
    }
    if (fault == "stall") {
        const std::uint64_t upTo =
            g_config.stallAfter >= 0
                ? std::min<std::uint64_t>(static_cast<std::uint64_t>(g_config.stallAfter),
                                          body.size)
                : body.size / 2;
        if (body.Send(fd, 0, upTo)) {
            WaitForClose(fd);
        }
        return;
    }
    if (!body.Send(fd, 0, body.size)) {
        return;
    }
    if (g_config.chunked) {
        SendText(fd, "0\r\n\r\n");
    }
    if (fault == "long") {
        const std::string more(1000, 'X');
        SendText(fd, more);
    }
}

// The file under --root for a path that names one; none for a path with "..".
std::optional<std::string> RootFile(const std::string& path) {
    if (g_config.root.empty() || path.find("..") != std::string::npos) {
        return std::nullopt;
    }
    const std::string file = g_config.root + path;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Respond(int fd, const std::string& method, std::string path, const std::string& host) {
    if (method != "GET") {
        SendSmall(fd, 405);
        return;
    }
    const auto query = path.find('?');
    if (query != std::string::npos) {
        path.resize(query);
    }
    // Redirect chain: /redirect/K/<path> leads to /redirect/K-1/<path>, and
    // /redirect/0/<path> is served without any fault. Odd steps send an
    // absolute Location, even ones a relative one.
    bool chained = false;
    if (path.rfind("/redirect/", 0) == 0) {
        const auto slash = path.find('/', 10);
        if (slash == std::string::npos) {
            SendSmall(fd, 404);
            return;
        }
        const int step = std::atoi(path.substr(10, slash - 10).c_str());
        const std::string rest = path.substr(slash);
        if (step > 0) {
            const std::string next = "/redirect/" + std::to_string(step - 1) + rest;
            const std::string location = (step % 2 == 1 ? "http://" + host : std::string()) + next;
            static const int codes[] = {302, 301, 307};
            SendSmall(fd, codes[step % 3], "Location: " + location + "\r\n");
            return;
        }
        path = rest;
        chained = true;
    }
    const bool isVersion = path == g_config.versionPath;
    const bool isInstaller = path == g_config.installerPath;
    if (!isVersion && !isInstaller) {
        if (const auto text = RootFile(path)) {
            Serve(fd, Body{&*text, text->size()}, "none");
            return;
        }
        SendSmall(fd, 404);
        return;
    }
    const std::string fault = (!chained && TakeFault(path)) ? g_config.fault : "none";
    if (fault == "404" || fault == "500") {
        SendSmall(fd, std::atoi(fault.c_str()));
        return;
    }
    if (fault == "mirror") {
        SendSmall(fd, 302, "Location: " + g_config.mirror + path + "\r\n");
        return;
    }
    if (fault == "redirect") {
        const std::string next = "/redirect/" + std::to_string(g_config.redirects) + path;
        SendSmall(fd, 302, "Location: " + next + "\r\n");
        return;
    }
    if (isVersion) {
        const std::string text = VersionBody();
        Serve(fd, Body{&text, text.size()}, fault);
    } else if (!g_config.installerFile.empty()) {
        Serve(fd, Body{&g_config.installerBytes, g_config.installerBytes.size()}, fault);
    } else {
        Serve(fd, Body{nullptr, g_config.size}, fault);
    }
}

void HandleConnection(int fd) {
    std::string head;
    char buffer[4096];
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (Stopping() || Clock::now() >= deadline) {
            close(fd);
            return;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) {
            continue;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            close(fd);
            return;
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    const auto end = head.find("\r\n\r\n");
    if (end == std::string::npos) {
        close(fd);
        return;
    }
    head.resize(end);
    std::string logged;
    for (char c : head) {
        if (c != '\r') {
            logged.push_back(c);
        }
    }
    Log(logged + "\n");

    const auto lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto sp1 = requestLine.find(' ');
    const auto sp2 = requestLine.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    std::string host = HostOfListen();
    for (std::size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
        const auto next = head.find("\r\n", pos + 2);
        const std::string line =
            head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
        if (line.size() > 5 && strncasecmp(line.c_str(), "host:", 5) == 0) {
            host = line.substr(5);
            host.erase(0, host.find_first_not_of(" \t"));
        }
        pos = next;
    }
    if (sp1 == std::string::npos || sp2 == std::string::npos) {
        SendSmall(fd, 400);
    } else {
        Respond(fd, requestLine.substr(0, sp1), requestLine.substr(sp1 + 1, sp2 - sp1 - 1), host);
    }
    shutdown(fd, SHUT_WR);
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    ParseArgs(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    if (!g_config.logPath.empty()) {
        g_log = std::fopen(g_config.logPath.c_str(), "a");
        if (g_log == nullptr) {
            std::cerr << "update_site: cannot open log " << g_config.logPath << "\n";
            return 1;
        }
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(g_config.listenPort));
    if (inet_pton(AF_INET, g_config.listenAddr.c_str(), &address.sin_addr) != 1) {
        std::cerr << "update_site: bad address " << g_config.listenAddr << "\n";
        return 2;
    }
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0) {
        std::cerr << "update_site: cannot listen on " << g_config.listenAddr << ":"
                  << g_config.listenPort << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    g_config.listenPort = ntohs(address.sin_port);
    std::cout << "listening " << g_config.listenAddr << ":" << g_config.listenPort << std::endl;

    const auto deadline = Clock::now() + std::chrono::seconds(g_config.timeLimitSeconds);
    while (!Stopping() && Clock::now() < deadline) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) {
            continue;
        }
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        if (g_active.load() >= 64) {
            close(fd);
            continue;
        }
        ++g_active;
        std::thread([fd] {
            HandleConnection(fd);
            --g_active;
        }).detach();
    }
    g_stop = true;
    close(listener);
    // Give the connections a moment to notice; they poll every 200 ms.
    for (int i = 0; i < 25 && g_active.load() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (g_log != nullptr) {
        std::lock_guard<std::mutex> lock(g_logMutex);
        std::fflush(g_log);
    }
    std::_Exit(0);
}
