// libcurl half: the same request as the Windows one, with the body pushed
// to us instead of pulled; every piece goes to the sink, which holds the
// transfer rules.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "platform/unique_handle.h"
#include "updater/http.h"
#include "updater/version_file.h"

namespace updater {

namespace {

using CurlHandle = plat::UniqueHandle<CURL*, curl_easy_cleanup>;
using Slist = plat::UniqueHandle<curl_slist*, curl_slist_free_all>;

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

// The head of the response being received (redirects start a new one), and
// the sink its body goes to.
struct Exchange {
    Exchange(BodySink& target, const HttpOptions& options) : sink(target), options(options) {}
    BodySink& sink;
    const HttpOptions& options;
    long status = 0;
    std::string contentLength;
    bool headDone = false;
    bool headGiven = false;  // the final head reached the sink
    bool stopped = false;    // the sink or the stall check ended the transfer

    // Stall detection: when anything last moved.
    std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    std::chrono::milliseconds idleLimit{30000};

    bool GiveHead() {
        if (headGiven) {
            return true;
        }
        headGiven = true;
        return sink.Head(static_cast<int>(status), contentLength, BodySink::Clock::now());
    }
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
        // A 200 head is final (no redirect follows it): the sink makes its
        // file now, before any byte of the body, as the pull loop does.
        if (ex.status == 200 && !ex.GiveHead()) {
            ex.stopped = true;
            return 0;
        }
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    // Another final status: the sink refuses its body.
    if (!ex.GiveHead() || !ex.sink.Take(data, length, BodySink::Clock::now())) {
        ex.stopped = true;
        return 0;
    }
    return length;
}

// Ends the transfer when nothing went either way for the idle limit (the
// send and receive time-outs), or when the sink finds the body too slow.
// (curl's own low-speed check averages over several seconds, which makes the
// limit much longer than asked.)
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& ex = *static_cast<Exchange*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (ex.options.Stopped()) {
        ex.stopped = true;
        return 1;
    }
    if (ex.headGiven && !ex.sink.Idle(now)) {
        ex.stopped = true;
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

}  // namespace

int HttpTransfer(const std::wstring& url, const HttpOptions& options, BodySink& sink) {
    const UrlParts parts = SplitHttpUrl(url);
    if (!IsPlainHost(parts.host)) {
        return kHttpInternetError;
    }
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        return kHttpInternetError;
    }
    Exchange ex(sink, options);
    const std::string target = "http://" + plat::ToUtf8(parts.host) + EncodeObject(parts.object);
    Slist headers(curl_slist_append(nullptr, "Accept:"));
    CURL* c = curl.Get();
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_PORT, static_cast<long>(options.port));
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Updater");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.Get());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    ex.idleLimit = std::chrono::milliseconds(
        std::max({options.connectTimeoutMs, options.sendTimeoutMs, options.receiveTimeoutMs}));
    ex.lastMove = std::chrono::steady_clock::now();
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kFileChunk));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &ex);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &ex);

    const CURLcode rc = curl_easy_perform(c);
    if (ex.stopped) {
        return sink.Fail();  // keeps what the sink decided, if it did
    }
    // A body without Content-Length that ends early was cut in its chunked
    // framing (one ended by closing always ends well): a broken transfer.
    if (rc == CURLE_PARTIAL_FILE && ex.contentLength.empty()) {
        return ex.headGiven ? sink.Fail() : kHttpInternetError;
    }
    // A final head whose body never reached the callback (empty, or not a 200).
    const bool headed = ex.headDone && (rc == CURLE_OK || rc == CURLE_PARTIAL_FILE);
    if (headed && !ex.GiveHead()) {
        return sink.Result();
    }
    // The server closed before Content-Length bytes arrived: the sink's
    // length check decides, as when the pull loop sees the end early.
    if (headed) {
        return sink.End();
    }
    return ex.headGiven ? sink.Fail() : kHttpInternetError;
}

}  // namespace updater
