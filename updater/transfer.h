// The rules of one response body, whatever moves its bytes. The platform
// half of an exchange reports the final head, pushes every piece of the body
// that arrives, says when nothing arrived for a while, and reports how the
// body ended; the sink decides what that means and what the exchange
// returns. The platform halves only move bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypto.h"
#include "platform/output_file.h"

namespace updater {

// Result codes besides an HTTP status (200 is success).
inline constexpr int kHttpInternetError = -2;  // no connection, cut or stalled transfer
inline constexpr int kHttpFileError = -3;      // writing the local file failed
inline constexpr int kHttpFileNotCreated = -4;
inline constexpr int kHttpLengthMismatch = -5;  // bytes received differ from Content-Length
                                                // (no Content-Length counts as 0, unless
                                                // the body's hash is checked: then more
                                                // than kMaxUnannouncedInstaller)

inline constexpr std::size_t kTextChunk = 16384;
// The installer is read, hashed and written in blocks of at most this size.
inline constexpr std::size_t kFileChunk = 65536;
// A version file is a few lines; a site that sends more than this is broken
// and is not allowed to fill the memory.
inline constexpr std::size_t kMaxVersionText = 1024 * 1024;
// An installer without Content-Length (chunked, or ended by closing, as
// proxies and scanners pass files on) is taken only when a signed hash
// vouches for it, and only up to this size.
inline constexpr std::uint64_t kMaxUnannouncedInstaller = 64ull * 1024 * 1024;

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

struct LowSpeedLimit {
    std::chrono::milliseconds window{60000};
    std::uint64_t leastBytes = 1024;
};

class BodySink {
  public:
    using Clock = LowSpeedGuard::Clock;
    explicit BodySink(LowSpeedLimit limit) : limit_(limit) {}
    virtual ~BodySink() = default;
    BodySink(const BodySink&) = delete;
    BodySink& operator=(const BodySink&) = delete;

    // The final head (after every redirect). False: the body is not read,
    // and Result() is the exchange's result (the status when it is not 200).
    bool Head(int status, const std::string& contentLength, Clock::time_point now);
    // The most bytes the next read should ask for; a sink that pulls never
    // takes a byte it would have to refuse beyond the first.
    virtual std::size_t Room() const = 0;
    // A piece of the body, of any size. False: stop reading, Result() tells.
    bool Take(const char* data, std::size_t size, Clock::time_point now);
    // Nothing arrived; false when the body comes too slowly (Result() tells).
    bool Idle(Clock::time_point now);
    // The server ended the body (closed, or its length was reached): the
    // exchange's result.
    int End();
    // The transfer broke (reset, time-out, refused): the exchange's result.
    int Fail();

    // What was decided so far; 200 while the body goes well.
    int Result() const { return result_.value_or(200); }
    std::uint64_t Total() const { return total_; }

  protected:
    virtual bool Open(const std::string& contentLength) = 0;     // at the 200 head
    virtual bool Store(const char* data, std::size_t size) = 0;  // false: result_ set
    virtual int Finish() = 0;                                    // after a clean end
    virtual void Abandon() {}                                    // after a failure
    void Decide(int result) {
        if (!result_) {
            result_ = result;
        }
    }
    // Ends the body with `result`, letting go of what was kept; false.
    bool Stop(int result) {
        if (!result_) {
            result_ = result;
            Abandon();
        }
        return false;
    }
    bool Decided() const { return result_.has_value(); }
    std::uint64_t total_ = 0;

  private:
    LowSpeedLimit limit_;
    std::optional<LowSpeedGuard> guard_;
    std::optional<int> result_;
    bool headSeen_ = false;
};

// The version file, into memory. A body that differs from its Content-Length
// (when there is one) was cut: its last line could be a shortened URL, so it
// is not used.
class TextSink : public BodySink {
  public:
    TextSink(std::string& bytes, LowSpeedLimit limit) : BodySink(limit), bytes_(bytes) {}
    std::size_t Room() const override { return kTextChunk; }

  protected:
    bool Open(const std::string& contentLength) override;
    bool Store(const char* data, std::size_t size) override;
    int Finish() override;

  private:
    std::string& bytes_;
    std::string contentLength_;
};

// The installer, into a local file made at the 200 head, in blocks of
// kFileChunk bytes, each hashed and written when full (and the last one at
// the end). Content-Length rules the body: the first byte beyond it ends the
// download, so a body without end cannot fill the disk. Without one the body
// counts as 0 bytes long, unless unannouncedMost is given: then it is read
// to its end and may hold at most that many bytes (the caller checks what
// it got against a hash it trusts).
class FileSink : public BodySink {
  public:
    FileSink(std::wstring path, plat::Sha256* hash, LowSpeedLimit limit,
             std::uint64_t unannouncedMost = 0);
    std::size_t Room() const override;

  protected:
    bool Open(const std::string& contentLength) override;
    bool Store(const char* data, std::size_t size) override;
    int Finish() override;
    void Abandon() override;

  private:
    bool Flush();

    std::wstring path_;
    plat::Sha256* hash_;
    plat::OutputFile file_;
    std::vector<char> block_;
    std::size_t filled_ = 0;
    std::uint64_t unannouncedMost_;
    bool unannounced_ = false;  // no Content-Length, read to the end
    std::optional<std::uint64_t> announced_;
    std::uint64_t most_ = 0;  // the bytes the body may hold
};

}  // namespace updater
