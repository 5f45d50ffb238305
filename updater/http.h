// The Updater's two HTTP exchanges: the version file into memory and the
// installer into a local file. WinINet on Windows, libcurl elsewhere; both
// make the same request (GET, the object as split, no extra headers, user
// agent "Updater", no cache, port 80, redirects followed).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "platform/crypto.h"

namespace updater {

// Result codes besides an HTTP status (200 is success).
inline constexpr int kHttpInternetError = -2;  // no connection, cut or stalled transfer
inline constexpr int kHttpFileError = -3;      // writing the local file failed
inline constexpr int kHttpFileNotCreated = -4;
inline constexpr int kHttpLengthMismatch = -5;  // bytes received differ from Content-Length
                                                // (no Content-Length counts as 0)

inline constexpr std::size_t kTextChunk = 16384;
// The installer is read, hashed and written in blocks of at most this size.
inline constexpr std::size_t kFileChunk = 65536;
// A version file is a few lines; a site that sends more than this is broken
// and is not allowed to fill the memory.
inline constexpr std::size_t kMaxVersionText = 1024 * 1024;

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
};

// Watches a transfer: it is too slow when fewer than the least bytes arrived
// in the last window. Samples are kept at a resolution of 1/64 window, so
// its memory stays small however long the transfer runs.
class LowSpeedGuard {
  public:
    using Clock = std::chrono::steady_clock;
    LowSpeedGuard(std::chrono::milliseconds window, std::uint64_t leastBytes,
                  Clock::time_point start);
    // Takes the total received by now; false when the transfer is too slow.
    bool Allows(std::uint64_t total, Clock::time_point now);

  private:
    std::chrono::milliseconds window_;
    std::uint64_t leastBytes_;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

// The raw body of url (the version file, at most kMaxVersionText bytes) is
// appended to bytes; VersionTextFromBytes makes it text. Returns 200,
// another HTTP status, or kHttpInternetError (also for a body that differs
// from its Content-Length, when there is one).
int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options = {});

// Streams the body of url into localPath (created or emptied, not shared
// while open) in blocks of at most kFileChunk bytes, passing each to hash
// when one is given. Reading stops at the first byte beyond Content-Length
// (none counts as 0). Returns 200 only when the whole body was stored and
// its length equals Content-Length.
int HttpGetFile(const std::wstring& url, const std::wstring& localPath,
                const HttpOptions& options = {}, plat::Sha256* hash = nullptr);

}  // namespace updater
