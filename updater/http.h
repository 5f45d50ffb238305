// The Updater's two HTTP exchanges: the version file into memory and the
// installer into a local file. WinINet on Windows, libcurl elsewhere; both
// make the same request (GET, the object as split, no extra headers, user
// agent "Updater", no cache, port 80, redirects followed).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/crypto.h"
#include "updater/transfer.h"

namespace updater {

struct HttpOptions {
    // Nothing waits forever: a connection that cannot be made, a request that
    // cannot be sent, or a response that stops arriving ends the exchange
    // with kHttpInternetError after these many milliseconds.
    unsigned connectTimeoutMs = 30000;
    unsigned sendTimeoutMs = 30000;
    unsigned receiveTimeoutMs = 30000;
    // A body that brings fewer than lowSpeedBytes in any lowSpeedWindowMs
    // ends the exchange with kHttpInternetError, however it trickles.
    unsigned lowSpeedWindowMs = 60000;
    std::uint64_t lowSpeedBytes = 1024;
    // Always 80 in the program; tests on loopback use a free port.
    unsigned short port = 80;
    // When set and true, the exchange ends at once with kHttpInternetError
    // (within 0.1 s; the session is ending).
    const std::atomic<bool>* stop = nullptr;

    bool Stopped() const { return stop != nullptr && stop->load(); }

    LowSpeedLimit LowSpeed() const {
        return LowSpeedLimit{std::chrono::milliseconds(lowSpeedWindowMs), lowSpeedBytes};
    }
};

// The raw body of url (the version file, at most kMaxVersionText bytes) is
// appended to bytes; VersionTextFromBytes makes it text. Returns 200,
// another HTTP status, or kHttpInternetError (also for a body that differs
// from its Content-Length, when there is one).
int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options = {});

// Streams the body of url into localPath (created or emptied, not shared
// while open) in blocks of at most kFileChunk bytes, passing each to hash
// when one is given. Reading stops at the first byte beyond Content-Length.
// Without one the body counts as 0 bytes long, unless a hash is given (the
// caller checks it against a signed value): then it is read to its end, at
// most kMaxUnannouncedInstaller bytes. Returns 200 only when the whole body
// was stored and its length equals Content-Length (or, hashed and without
// one, it ended within the bound).
int HttpGetFile(const std::wstring& url, const std::wstring& localPath,
                const HttpOptions& options = {}, plat::Sha256* hash = nullptr);

// One GET of url whose body goes to sink; the platform half (WinINet or
// libcurl) that both of the above use. Returns what the sink decided, or
// kHttpInternetError when no response came.
int HttpTransfer(const std::wstring& url, const HttpOptions& options, BodySink& sink);

}  // namespace updater
