#include "updater/http.h"

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

}  // namespace updater
