// WinINet backend. The session, connection and request live for one call and
// are closed in that order; the local file is closed before them.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
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

// A pending WinINet operation: its end is signalled by the status callback
// (on another thread), and what it may still write to lives here. Left
// alive when an exchange is given up with an operation pending.
struct Completion {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    volatile LONG ok = 0;
    INTERNET_BUFFERSW piece{};
    DWORD available = 0;
    // Reads land here, not in the caller's buffer, which may be gone by the
    // time an abandoned read completes.
    std::vector<char> landing = std::vector<char>(std::max(kFileChunk, kTextChunk));
    ~Completion() {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0) {
        return;
    }
    auto* done = reinterpret_cast<Completion*>(context);
    // dwResult tells success; dwError may carry a byte count instead.
    done->ok = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwResult != 0 ? 1 : 0;
    SetEvent(done->event);
}

// Everything of one exchange up to the body; the body is read by the caller
// while this object lives. The session is asynchronous so that a read takes
// everything that has arrived, up to a whole block, without waiting
// (IRF_NO_WAIT). A synchronous read either waits for its full count, which a
// trickle stretches over days, or (under Wine) yields one 8 KiB internal
// buffer at a time, which cost most of the throughput.
struct Exchange {
    std::unique_ptr<Completion> done = std::make_unique<Completion>();
    bool pending = false;
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    DWORD status = 0;
    std::string contentLength;

    Exchange() = default;
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange() {
        request.Reset(nullptr);
        connection.Reset(nullptr);
        session.Reset(nullptr);
        // A pending operation may still complete after its handles closed:
        // what it writes to is then left alive.
        if (pending) {
            done.release();
        }
    }

    // After a call that failed: waits for the pending operation, in slices
    // between which `alive` may give up; true when it ended well.
    template <typename Alive>
    bool Finish(unsigned sliceMs, Alive alive) {
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        pending = true;
        while (WaitForSingleObject(done->event, sliceMs) != WAIT_OBJECT_0) {
            if (!alive()) {
                return false;
            }
        }
        pending = false;
        return done->ok != 0;
    }

    // 200, another status, or kHttpInternetError.
    int Start(const std::wstring& url, const HttpOptions& options) {
        if (done->event == nullptr) {
            return kHttpInternetError;
        }
        const UrlParts parts = SplitHttpUrl(url);
        session.Reset(InternetOpenW(L"Updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    INTERNET_FLAG_ASYNC));
        if (!session) {
            return kHttpInternetError;
        }
        if (InternetSetStatusCallbackW(session.Get(), OnStatus) ==
            INTERNET_INVALID_STATUS_CALLBACK) {
            return kHttpInternetError;
        }
        SetTimeouts(session.Get(), options);
        const INTERNET_PORT port = options.port == 80 ? INTERNET_DEFAULT_HTTP_PORT
                                                      : static_cast<INTERNET_PORT>(options.port);
        const auto context = reinterpret_cast<DWORD_PTR>(done.get());
        connection.Reset(InternetConnectW(session.Get(), parts.host.c_str(), port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, kRequestFlags, context));
        if (!connection) {
            return kHttpInternetError;
        }
        SetTimeouts(connection.Get(), options);
        request.Reset(HttpOpenRequestW(connection.Get(), L"GET", parts.object.c_str(), nullptr,
                                       nullptr, nullptr, kRequestFlags, context));
        if (!request) {
            return kHttpInternetError;
        }
        SetTimeouts(request.Get(), options);
        // The time-outs bound the exchange; this only bounds the wait for it.
        const auto deadline =
            LowSpeedGuard::Clock::now() +
            std::chrono::milliseconds(options.connectTimeoutMs + options.sendTimeoutMs +
                                      options.receiveTimeoutMs);
        ResetEvent(done->event);
        if (!HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0) &&
            !Finish(100, [&] { return LowSpeedGuard::Clock::now() < deadline; })) {
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
    // the transfer failed or became too slow. While nothing arrives the
    // low-speed check runs every 100 ms.
    long Read(char* buffer, DWORD most, LowSpeedGuard& guard, std::uint64_t total) {
        const auto alive = [&] { return guard.Allows(total, LowSpeedGuard::Clock::now()); };
        const auto context = reinterpret_cast<DWORD_PTR>(done.get());
        for (;;) {
            INTERNET_BUFFERSW& piece = done->piece;
            piece = INTERNET_BUFFERSW{};
            piece.dwStructSize = sizeof piece;
            piece.lpvBuffer = done->landing.data();
            piece.dwBufferLength =
                static_cast<DWORD>(std::min<std::size_t>(most, done->landing.size()));
            ResetEvent(done->event);
            // A read that went pending has filled `piece` when it completes.
            if (!InternetReadFileExW(request.Get(), &piece, IRF_NO_WAIT, context) &&
                !Finish(100, alive)) {
                return -1;
            }
            if (piece.dwBufferLength > 0) {
                std::memcpy(buffer, done->landing.data(), piece.dwBufferLength);
                const std::uint64_t now = total + piece.dwBufferLength;
                return guard.Allows(now, LowSpeedGuard::Clock::now())
                           ? static_cast<long>(piece.dwBufferLength)
                           : -1;
            }
            // Nothing now: the end, or nothing yet. What is available tells
            // them apart: 0 only at the end.
            ResetEvent(done->event);
            if (InternetQueryDataAvailable(request.Get(), &done->available, 0, context)) {
                if (done->available == 0) {
                    return 0;
                }
            } else if (!Finish(100, alive)) {
                return -1;
            }
            if (!alive()) {
                return -1;
            }
        }
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
