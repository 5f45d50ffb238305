#include "updater/transfer.h"

#include <algorithm>
#include <cstring>

#include "updater/version_file.h"

namespace updater {

LowSpeedGuard::LowSpeedGuard(std::chrono::milliseconds window, std::uint64_t leastBytes,
                             Clock::time_point start)
    : window_(window), leastBytes_(leastBytes) {
    samples_.emplace_back(start, 0);
}

bool LowSpeedGuard::Allows(std::uint64_t total, Clock::time_point now) {
    const Clock::time_point windowStart = now - window_;
    // The front becomes the last sample at or before the window's start.
    while (samples_.size() >= 2 && samples_[1].first <= windowStart) {
        samples_.pop_front();
    }
    if (samples_.front().first <= windowStart && total - samples_.front().second < leastBytes_) {
        return false;
    }
    if (now - samples_.back().first >= window_ / 64) {
        samples_.emplace_back(now, total);
    }
    return true;
}

bool BodySink::Head(int status, const std::string& contentLength, Clock::time_point now) {
    if (headSeen_) {
        return !Decided();
    }
    headSeen_ = true;
    if (status != 200) {
        // The body of any other final status is not read.
        Decide(status);
        return false;
    }
    guard_.emplace(limit_.window, limit_.leastBytes, now);
    return Open(contentLength);
}

bool BodySink::Take(const char* data, std::size_t size, Clock::time_point now) {
    if (Decided() || !headSeen_) {
        return false;
    }
    if (!Store(data, size)) {
        return false;
    }
    return Idle(now);
}

bool BodySink::Idle(Clock::time_point now) {
    if (Decided()) {
        return false;
    }
    return !guard_ || guard_->Allows(total_, now) || Stop(kHttpInternetError);
}

int BodySink::End() {
    if (!Decided()) {
        Decide(headSeen_ ? Finish() : kHttpInternetError);
    }
    return Result();
}

int BodySink::Fail() {
    Stop(kHttpInternetError);
    return Result();
}

bool TextSink::Open(const std::string& contentLength) {
    contentLength_ = contentLength;
    return true;
}

bool TextSink::Store(const char* data, std::size_t size) {
    if (size > kMaxVersionText - total_) {
        Decide(kHttpInternetError);
        return false;
    }
    total_ += size;
    bytes_.append(data, size);
    return true;
}

int TextSink::Finish() {
    if (contentLength_.empty()) {
        return 200;
    }
    const auto announced = ParseContentLength(contentLength_);
    return announced && *announced == total_ ? 200 : kHttpInternetError;
}

FileSink::FileSink(std::wstring path, plat::Sha256* hash, LowSpeedLimit limit,
                   std::uint64_t unannouncedMost)
    : BodySink(limit), path_(std::move(path)), hash_(hash), unannouncedMost_(unannouncedMost) {}

std::size_t FileSink::Room() const {
    // One byte more than the body may hold at most: it ends the download.
    const std::uint64_t left = most_ - total_;
    const std::size_t room = kFileChunk - filled_;
    return left >= room ? room : static_cast<std::size_t>(left + 1);
}

bool FileSink::Open(const std::string& contentLength) {
    unannounced_ = contentLength.empty() && unannouncedMost_ > 0;
    if (unannounced_) {
        most_ = unannouncedMost_;
    } else {
        // Digits that do not fit count as a length no body can match.
        announced_ = ParseContentLength(contentLength);
        most_ = announced_.value_or(0);
    }
    if (!file_.Create(path_)) {
        Decide(kHttpFileNotCreated);
        return false;
    }
    block_.resize(kFileChunk);
    return true;
}

bool FileSink::Flush() {
    if (filled_ == 0) {
        return true;
    }
    if (hash_ != nullptr) {
        hash_->Update(block_.data(), filled_);
    }
    const bool ok = file_.Write(block_.data(), filled_);
    filled_ = 0;
    return ok;
}

bool FileSink::Store(const char* data, std::size_t size) {
    // What fits in the length is kept; a byte beyond it ends the download.
    const std::uint64_t left = most_ - total_;
    const bool beyond = size > left;
    if (beyond) {
        size = static_cast<std::size_t>(left);
    }
    total_ += size;
    while (size > 0) {
        const std::size_t part = std::min(size, kFileChunk - filled_);
        std::memcpy(block_.data() + filled_, data, part);
        filled_ += part;
        data += part;
        size -= part;
        if (filled_ == kFileChunk && !Flush()) {
            Decide(kHttpFileError);
            file_.Close();
            return false;
        }
    }
    return !beyond || Stop(kHttpLengthMismatch);
}

int FileSink::Finish() {
    if (!Flush()) {
        file_.Close();
        return kHttpFileError;
    }
    if (!file_.Close()) {
        return kHttpFileError;
    }
    if (unannounced_) {
        // Read to its end within the bound; the caller's hash decides.
        return 200;
    }
    return announced_ && total_ == *announced_ ? 200 : kHttpLengthMismatch;
}

void FileSink::Abandon() {
    // The bytes that arrived stay in the file; the caller decides about it.
    Flush();
    file_.Close();
}

}  // namespace updater
