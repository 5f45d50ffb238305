// WinINet half: moves the bytes of one exchange into its sink, which holds
// the transfer rules. The session, connection and request live for one call
// and are closed in that order.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/handle.h"
#include "updater/http.h"
#include "updater/version_file.h"

namespace updater {

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE:
// always from the server, never stored in a cache.
constexpr DWORD kRequestFlags = 0xA4000000;

using InternetHandle = plat::UniqueHandle<HINTERNET, InternetCloseHandle>;

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
    win::CHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    volatile LONG ok = 0;
    INTERNET_BUFFERSA piece{};
    DWORD available = 0;
    // Reads land here, not in the caller's buffer, which may be gone by the
    // time an abandoned read completes.
    std::vector<char> landing = std::vector<char>(std::max(kFileChunk, kTextChunk));
};

// The context is the one the operation was started with, or for calls
// whose context is reserved (InternetQueryDataAvailable) the request
// handle's own, given at HttpOpenRequestW: the same Completion either way.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0) {
        return;
    }
    auto* done = reinterpret_cast<Completion*>(context);
    // dwResult tells success; dwError may carry a byte count instead.
    done->ok = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwResult != 0 ? 1 : 0;
    SetEvent(done->event.Get());
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
        while (WaitForSingleObject(done->event.Get(), sliceMs) != WAIT_OBJECT_0) {
            if (!alive()) {
                return false;
            }
        }
        pending = false;
        return done->ok != 0;
    }

    // 200, another status, or kHttpInternetError.
    int Start(const std::wstring& url, const HttpOptions& options) {
        if (!done->event) {
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
        ResetEvent(done->event.Get());
        if (!HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0) && !Finish(100, [&] {
                return !options.Stopped() && LowSpeedGuard::Clock::now() < deadline;
            })) {
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

    enum class Piece { kData, kEnd, kFailed };

    // Waits for what has arrived, at most `most` bytes, into the landing
    // block (`got` bytes). While nothing arrives `alive` is asked every
    // 100 ms whether to go on.
    template <typename Alive>
    Piece Read(std::size_t most, Alive alive, DWORD& got) {
        const auto context = reinterpret_cast<DWORD_PTR>(done.get());
        for (;;) {
            // The ANSI form: the body is bytes either way, and the wide one
            // failed with ERROR_CALL_NOT_IMPLEMENTED on older WinINets.
            INTERNET_BUFFERSA& piece = done->piece;
            piece = INTERNET_BUFFERSA{};
            piece.dwStructSize = sizeof piece;
            piece.lpvBuffer = done->landing.data();
            piece.dwBufferLength = static_cast<DWORD>(std::min(most, done->landing.size()));
            ResetEvent(done->event.Get());
            if (!InternetReadFileExA(request.Get(), &piece, IRF_NO_WAIT, context)) {
                // Nothing had arrived. A no-wait read that completes later
                // fills nothing and leaves the length as it was asked: its
                // completion only says that bytes (or the end) are there
                // now, for the next read to take.
                if (!Finish(100, alive)) {
                    return Piece::kFailed;
                }
                continue;
            }
            if (piece.dwBufferLength > 0) {
                got = piece.dwBufferLength;
                return Piece::kData;
            }
            // Nothing now: the end, or nothing yet. What is available tells
            // them apart: 0 only at the end.
            // Flags and context are reserved and must be 0: a pending query
            // completes through the request handle's own context.
            done->available = 0;
            ResetEvent(done->event.Get());
            if (InternetQueryDataAvailable(request.Get(), &done->available, 0, 0)) {
                if (done->available == 0) {
                    return Piece::kEnd;
                }
            } else if (!Finish(100, alive)) {
                return Piece::kFailed;
            }
            if (!alive()) {
                return Piece::kFailed;
            }
        }
    }
};

}  // namespace

int HttpTransfer(const std::wstring& url, const HttpOptions& options, BodySink& sink) {
    Exchange ex;
    const int status = ex.Start(url, options);
    if (status < 0) {
        return status;
    }
    const auto now = [] { return BodySink::Clock::now(); };
    if (!sink.Head(status, ex.contentLength, now())) {
        return sink.Result();
    }
    const auto alive = [&] { return !options.Stopped() && sink.Idle(now()); };
    for (;;) {
        DWORD got = 0;
        switch (ex.Read(sink.Room(), alive, got)) {
            case Exchange::Piece::kData:
                if (!sink.Take(ex.done->landing.data(), got, now())) {
                    return sink.Result();
                }
                if (options.Stopped()) {
                    return sink.Fail();
                }
                break;
            case Exchange::Piece::kEnd:
                return sink.End();
            case Exchange::Piece::kFailed:
                return sink.Fail();
        }
    }
}

}  // namespace updater
