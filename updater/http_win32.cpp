// WinINet backend. The session, connection and request live for one call and
// are closed in that order; the local file is closed before them.
#include <windows.h>
#include <wininet.h>

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

    // Bytes read, 0 at the end, or -1 when the transfer failed.
    long Read(char* buffer, DWORD count) {
        DWORD read = 0;
        if (!InternetReadFile(request.Get(), buffer, count, &read)) {
            return -1;
        }
        return static_cast<long>(read);
    }
};

}  // namespace

int HttpGetText(const std::wstring& url, std::wstring& text, const HttpOptions& options) {
    Exchange ex;
    const int status = ex.Start(url, options);
    if (status != 200) {
        return status;
    }
    std::vector<char> buffer(kTextChunk + 1);
    std::uint64_t total = 0;
    for (;;) {
        const long read = ex.Read(buffer.data(), kTextChunk);
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
        buffer[static_cast<std::size_t>(read)] = '\0';
        text.append(plat::FromAnsi(std::string_view(buffer.data())));
        if (static_cast<std::size_t>(read) < kTextChunk) {
            break;
        }
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

int HttpGetFile(const std::wstring& url, const std::wstring& localPath,
                const HttpOptions& options) {
    Exchange ex;
    const int status = ex.Start(url, options);
    if (status != 200) {
        return status;
    }
    FileHandle file;  // declared after the exchange: closed before it
    if (!file.Create(localPath)) {
        return kHttpFileNotCreated;
    }
    char buffer[kFileChunk + 1];
    std::uint64_t total = 0;
    for (;;) {
        ZeroMemory(buffer, sizeof buffer);
        const long read = ex.Read(buffer, kFileChunk);
        if (read < 0) {
            return kHttpInternetError;
        }
        if (read == 0) {
            break;
        }
        if (!file.Write(buffer, static_cast<DWORD>(read))) {
            return kHttpFileError;
        }
        total += static_cast<std::uint64_t>(read);
    }
    if (!file.Close()) {
        return kHttpFileError;
    }
    const auto announced = ParseContentLength(ex.contentLength);
    return (announced && *announced == total) ? 200 : kHttpLengthMismatch;
}

}  // namespace updater
