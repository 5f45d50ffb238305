// libcurl backend: the same request as the Windows one, with the body pushed
// to us instead of pulled. The body comes in blocks of up to kFileChunk
// bytes; the version text is kept raw.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/text.h"
#include "updater/http.h"
#include "updater/version_file.h"

namespace updater {

namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// A file descriptor that is closed with its owner.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    bool Close() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

  private:
    int fd_ = -1;
};

// Opens the file for writing, emptied, and held exclusively: a second
// Updater writing the same installer fails here instead of truncating ours.
Fd CreateExclusive(const std::wstring& path) {
    Fd fd(::open(plat::NativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
        return fd;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd.Get(), 0) != 0) {
        return Fd();
    }
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool IsHostChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'-' || c == L'_';
}

// Anything else in the server name (a port, a user, blanks) is no host that
// resolves: WinINet takes the whole text as a name and fails.
bool IsPlainHost(const std::wstring& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), IsHostChar);
}

// The object goes on the request line as it is; bytes that a URL parser
// would refuse are sent percent-encoded.
std::string EncodeObject(const std::wstring& object) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : plat::ToUtf8(object)) {
        if (c <= 0x20 || c >= 0x7F || c == '#') {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

struct Exchange {
    // The head of the response being received; redirects start a new one.
    long status = 0;
    std::string contentLength;
    bool headDone = false;

    // Text mode.
    std::string* text = nullptr;
    // File mode.
    const std::wstring* path = nullptr;
    plat::Sha256* hash = nullptr;
    Fd file;
    std::uint64_t announced = 0;  // Content-Length of the final 200 head

    std::uint64_t total = 0;
    // Stall detection: when anything last moved.
    std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    std::chrono::milliseconds idleLimit{30000};
    std::chrono::milliseconds lowSpeedWindow{60000};
    std::uint64_t lowSpeedBytes = 1024;
    std::optional<LowSpeedGuard> lowSpeed;

    bool notOk = false;         // body of a non-200 response refused
    bool tooLong = false;       // version text beyond the limit
    bool beyondLength = false;  // installer bytes beyond Content-Length
    bool tooSlow = false;       // below the low-speed limit
    bool notCreated = false;    // local file could not be created
    bool fileError = false;     // writing the local file failed
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithIgnoringCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        ex.status = 0;
        ex.contentLength.clear();
        ex.headDone = false;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos && line.size() >= space + 4) {
            const std::string_view code = line.substr(space + 1, 3);
            if (std::all_of(code.begin(), code.end(),
                            [](char c) { return c >= '0' && c <= '9'; })) {
                ex.status = std::stol(std::string(code));
            }
        }
    } else if (StartsWithIgnoringCase(line, "content-length:")) {
        ex.contentLength = std::string(Trim(line.substr(15)));
    } else if (Trim(line).empty() && !ex.headDone) {
        ex.headDone = true;
        // A 200 head is final (no redirect follows it): the local file is
        // made now, before any byte of the body, as the pull loop does.
        if (ex.status == 200 && ex.path != nullptr) {
            // Digits that do not fit count as a length no body can match.
            ex.announced = ParseContentLength(ex.contentLength).value_or(0);
            ex.file = CreateExclusive(*ex.path);
            if (!ex.file.Valid()) {
                ex.notCreated = true;
                return 0;
            }
        }
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    if (ex.status != 200) {
        ex.notOk = true;
        return 0;
    }
    if (ex.text != nullptr) {
        ex.total += length;
        if (ex.total > kMaxVersionText) {
            ex.tooLong = true;
            return 0;
        }
        ex.text->append(data, length);
        return length;
    }
    // Not a byte beyond the announced length is stored: a body without end
    // cannot fill the disk.
    if (length > ex.announced - ex.total) {
        ex.beyondLength = true;
        return 0;
    }
    ex.total += length;
    if (ex.hash != nullptr) {
        ex.hash->Update(data, length);
    }
    if (!WriteAll(ex.file.Get(), data, length)) {
        ex.fileError = true;
        return 0;
    }
    return length;
}

// Ends the transfer when nothing went either way for the idle limit (the
// send and receive time-outs), or when the body comes in too slowly. (curl's
// own low-speed check averages over several seconds, which makes the limit
// much longer than asked.)
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& ex = *static_cast<Exchange*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (ex.headDone && !ex.lowSpeed) {
        ex.lowSpeed.emplace(ex.lowSpeedWindow, ex.lowSpeedBytes, now);
    }
    if (ex.lowSpeed && !ex.lowSpeed->Allows(static_cast<std::uint64_t>(down), now)) {
        ex.tooSlow = true;
        return 1;
    }
    if (down != ex.lastDown || up != ex.lastUp) {
        ex.lastDown = down;
        ex.lastUp = up;
        ex.lastMove = now;
        return 0;
    }
    return now - ex.lastMove > ex.idleLimit ? 1 : 0;
}

int Run(const std::wstring& url, const HttpOptions& options, Exchange& ex) {
    const UrlParts parts = SplitHttpUrl(url);
    if (!IsPlainHost(parts.host)) {
        return kHttpInternetError;
    }
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        return kHttpInternetError;
    }
    const std::string target = "http://" + plat::ToUtf8(parts.host) + EncodeObject(parts.object);
    Slist headers(curl_slist_append(nullptr, "Accept:"));
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_PORT, static_cast<long>(options.port));
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Updater");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    ex.idleLimit = std::chrono::milliseconds(
        std::max({options.connectTimeoutMs, options.sendTimeoutMs, options.receiveTimeoutMs}));
    ex.lastMove = std::chrono::steady_clock::now();
    ex.lowSpeedWindow = std::chrono::milliseconds(options.lowSpeedWindowMs);
    ex.lowSpeedBytes = options.lowSpeedBytes;
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kFileChunk));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &ex);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &ex);

    const CURLcode rc = curl_easy_perform(c);
    if (ex.notCreated) {
        return kHttpFileNotCreated;
    }
    if (ex.fileError) {
        return kHttpFileError;
    }
    if (ex.tooLong || ex.tooSlow) {
        return kHttpInternetError;
    }
    if (ex.beyondLength) {
        return kHttpLengthMismatch;
    }
    if (ex.status != 200) {
        // The body of any other final status is not read.
        return (rc == CURLE_OK || ex.notOk) ? static_cast<int>(ex.status) : kHttpInternetError;
    }
    if (rc == CURLE_OK) {
        return 200;
    }
    // The server closed before Content-Length bytes arrived: the length
    // check decides, as when the pull loop sees the end early.
    if (rc == CURLE_PARTIAL_FILE && ex.headDone) {
        return 200;
    }
    return kHttpInternetError;
}

// A version text that differs from its announced length was cut: its last
// line could be a shortened URL, so it is not used.
bool TextLengthMatches(const Exchange& ex) {
    if (ex.contentLength.empty()) {
        return true;
    }
    const auto announced = ParseContentLength(ex.contentLength);
    return announced && *announced == ex.total;
}

}  // namespace

int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options) {
    Exchange ex;
    ex.text = &bytes;
    int result = Run(url, options, ex);
    if (result == 200 && !TextLengthMatches(ex)) {
        result = kHttpInternetError;
    }
    return result;
}

int HttpGetFile(const std::wstring& url, const std::wstring& localPath, const HttpOptions& options,
                plat::Sha256* hash) {
    Exchange ex;
    ex.path = &localPath;
    ex.hash = hash;
    int result = Run(url, options, ex);
    if (result == 200 && !ex.file.Valid()) {
        // An empty body never reached the body callback; a head without the
        // blank line never completed.
        ex.file = CreateExclusive(localPath);
        if (!ex.file.Valid()) {
            return kHttpFileNotCreated;
        }
    }
    const bool closed = ex.file.Close();
    if (result != 200) {
        return result;
    }
    if (!closed) {
        return kHttpFileError;
    }
    return ex.total == ex.announced && ParseContentLength(ex.contentLength) ? 200
                                                                            : kHttpLengthMismatch;
}

}  // namespace updater
