// The Updater's two HTTP exchanges: the version file into memory and the
// installer into a local file. WinINet on Windows, libcurl elsewhere; both
// make the same request (GET, the object as split, no extra headers, user
// agent "Updater", no cache, port 80, redirects followed).
#pragma once

#include <cstddef>
#include <string>

namespace updater {

// Result codes besides an HTTP status (200 is success).
inline constexpr int kHttpInternetError = -2;  // no connection, cut or stalled transfer
inline constexpr int kHttpFileError = -3;      // writing the local file failed
inline constexpr int kHttpFileNotCreated = -4;
inline constexpr int kHttpLengthMismatch = -5;  // bytes received differ from Content-Length

inline constexpr std::size_t kTextChunk = 16384;
inline constexpr std::size_t kFileChunk = 1024;
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
    // Always 80 in the program; tests on loopback use a free port.
    unsigned short port = 80;
};

// The body of url, converted chunk by chunk from the ANSI code page, is
// appended to text. Returns 200, another HTTP status, or kHttpInternetError.
int HttpGetText(const std::wstring& url, std::wstring& text, const HttpOptions& options = {});

// Streams the body of url into localPath (created or emptied, not shared
// while open) in pieces of at most kFileChunk bytes. Returns 200 only when
// the whole body was stored and its length equals Content-Length.
int HttpGetFile(const std::wstring& url, const std::wstring& localPath,
                const HttpOptions& options = {});

}  // namespace updater
