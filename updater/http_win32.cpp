// WinINet backend. The session, connection and request live for one call and
// are closed in that order; the local file is closed before them.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"
#include "updater/http.h"
#include "updater/version_file.h"

namespace updater {

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE:
// always from the server, never stored in a cache.
constexpr DWORD kRequestFlags = 0xA4000000;

class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) {
            InternetCloseHandle(handle_);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HINTERNET handle) {
        if (handle_ != nullptr) {
            InternetCloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HINTERNET handle_;
};

class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    // Created or emptied, and not shared while open.
    bool Create(const std::wstring& path) {
        handle_ = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
    }
    bool Write(const char* data, DWORD size) {
        DWORD written = 0;
        return WriteFile(handle_, data, size, &written, nullptr) != FALSE && written == size;
    }
    bool Close() {
        bool ok = true;
        if (handle_ != INVALID_HANDLE_VALUE) {
            ok = CloseHandle(handle_) != FALSE;
            handle_ = INVALID_HANDLE_VALUE;
        }
        return ok;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

void SetTimeout(HINTERNET handle, DWORD option, unsigned ms) {
    DWORD value = ms;
    InternetSetOptionW(handle, option, &value, sizeof value);
}

// A stalled server ends the exchange instead of blocking forever. Set on
// every handle: not every WinINet passes the session's values on to the
// request (Wine does not).
void SetTimeouts(HINTERNET handle, const HttpOptions& options) {
    SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, options.connectTimeoutMs);
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, options.sendTimeoutMs);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, options.receiveTimeoutMs);
    SetTimeout(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, options.sendTimeoutMs);
    SetTimeout(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, options.receiveTimeoutMs);
}

// Everything of one exchange up to the body; the body is read by the caller
// while this object lives.
struct Exchange {
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    DWORD status = 0;
    std::string contentLength;

    // 200, another status, or kHttpInternetError.
    int Start(const std::wstring& url, const HttpOptions& options) {
        const UrlParts parts = SplitHttpUrl(url);
        session.Reset(InternetOpenW(L"Updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) {
            return kHttpInternetError;
        }
        SetTimeouts(session.Get(), options);
        const INTERNET_PORT port = options.port == 80 ? INTERNET_DEFAULT_HTTP_PORT
                                                      : static_cast<INTERNET_PORT>(options.port);
        connection.Reset(InternetConnectW(session.Get(), parts.host.c_str(), port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, kRequestFlags, 1));
        if (!connection) {
            return kHttpInternetError;
        }
        SetTimeouts(connection.Get(), options);
        request.Reset(HttpOpenRequestW(connection.Get(), L"GET", parts.object.c_str(), nullptr,
                                       nullptr, nullptr, kRequestFlags, 1));
        if (!request) {
            return kHttpInternetError;
        }
        SetTimeouts(request.Get(), options);
        if (!HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0)) {
            return kHttpInternetError;
        }
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr)) {
            status = 0;
        }
        wchar_t buffer[64] = {};
        DWORD bytes = sizeof buffer - sizeof(wchar_t);
        if (HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, buffer, &bytes, nullptr)) {
            contentLength = plat::ToUtf8(buffer);
        }
        return static_cast<int>(status);
    }

    // Reads what has arrived, at most `most` bytes: 0 at the end, -1 when
    // the transfer failed or became too slow. A plain read would wait until
    // the whole count arrived, so a trickle would keep it for days; asking
    // what is there first lets the low-speed check run between pieces.
    long Read(char* buffer, DWORD most, LowSpeedGuard& guard, std::uint64_t total) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.Get(), &available, 0, 0)) {
            return -1;
        }
        if (available == 0) {
            return 0;
        }
        DWORD read = 0;
        if (!InternetReadFile(request.Get(), buffer, available < most ? available : most, &read)) {
            return -1;
        }
        if (!guard.Allows(total + read, LowSpeedGuard::Clock::now())) {
            return -1;
        }
        return static_cast<long>(read);
    }
};

LowSpeedGuard GuardFor(const HttpOptions& options) {
    return LowSpeedGuard(std::chrono::milliseconds(options.lowSpeedWindowMs), options.lowSpeedBytes,
                         LowSpeedGuard::Clock::now());
}

}  // namespace

int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options) {
    Exchange ex;
    const int status = ex.Start(url, options);
    if (status != 200) {
        return status;
    }
    LowSpeedGuard guard = GuardFor(options);
    std::vector<char> buffer(kTextChunk);
    std::uint64_t total = 0;
    for (;;) {
        const long read = ex.Read(buffer.data(), kTextChunk, guard, total);
        if (read < 0) {
            return kHttpInternetError;
        }
        if (read == 0) {
            break;
        }
        total += static_cast<std::uint64_t>(read);
        if (total > kMaxVersionText) {
            return kHttpInternetError;
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(read));
    }
    // A version text cut short could end in a shortened URL: not used.
    if (!ex.contentLength.empty()) {
        const auto announced = ParseContentLength(ex.contentLength);
        if (!announced || *announced != total) {
            return kHttpInternetError;
        }
    }
    return 200;
}

int HttpGetFile(const std::wstring& url, const std::wstring& localPath, const HttpOptions& options,
                plat::Sha256* hash) {
    Exchange ex;
    const int status = ex.Start(url, options);
    if (status != 200) {
        return status;
    }
    // Digits that do not fit count as a length no body can match.
    const auto parsed = ParseContentLength(ex.contentLength);
    const std::uint64_t announced = parsed.value_or(0);
    FileHandle file;  // declared after the exchange: closed before it
    if (!file.Create(localPath)) {
        return kHttpFileNotCreated;
    }
    LowSpeedGuard guard = GuardFor(options);
    // The pieces that arrive fill a block; each full block (and the last)
    // is hashed and written at once.
    std::vector<char> block(kFileChunk);
    std::size_t filled = 0;
    const auto flush = [&] {
        if (hash != nullptr) {
            hash->Update(block.data(), filled);
        }
        const bool ok = filled == 0 || file.Write(block.data(), static_cast<DWORD>(filled));
        filled = 0;
        return ok;
    };
    std::uint64_t total = 0;
    for (;;) {
        // One byte more than announced is asked for at most: it ends the
        // download, so a body without end cannot fill the disk.
        const std::uint64_t left = announced - total;
        const std::size_t room = kFileChunk - filled;
        const DWORD most = left >= room ? static_cast<DWORD>(room) : static_cast<DWORD>(left + 1);
        const long read = ex.Read(block.data() + filled, most, guard, total);
        if (read < 0) {
            return kHttpInternetError;
        }
        if (read == 0) {
            break;
        }
        if (static_cast<std::uint64_t>(read) > left) {
            return kHttpLengthMismatch;
        }
        total += static_cast<std::uint64_t>(read);
        filled += static_cast<std::size_t>(read);
        if (filled == kFileChunk && !flush()) {
            return kHttpFileError;
        }
    }
    if (!flush()) {
        return kHttpFileError;
    }
    if (!file.Close()) {
        return kHttpFileError;
    }
    return (parsed && total == announced) ? 200 : kHttpLengthMismatch;
}

}  // namespace updater
