#include "finder/discovery/search_log.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <vector>

std::mutex g_csLog;

namespace {

std::mutex g_pathLock;
std::wstring g_logPath = L"slwintool.log";
std::atomic<bool> g_logEnabled{true};

}  // namespace

void SetLogEnabled(bool enabled) { g_logEnabled.store(enabled); }

void SetLogFilePath(const std::wstring& path) {
    std::lock_guard lock(g_pathLock);
    g_logPath = path;
}

std::wstring LogFilePath() {
    std::lock_guard lock(g_pathLock);
    return g_logPath;
}

void WriteLog(const wchar_t* format, ...) {
    if (!g_logEnabled.load()) {
        return;
    }
    // Large enough for a whole answer, so the cut below is ours, not the
    // library's (whose behaviour on overflow differs between platforms).
    std::vector<wchar_t> buffer(8192, L'\0');
    int written = -1;
    for (int attempt = 0; attempt < 2 && written < 0; ++attempt) {
        std::fill(buffer.begin(), buffer.end(), L'\0');
        va_list args;
        va_start(args, format);
        written = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (written < 0 || static_cast<std::size_t>(written) >= buffer.size()) {
            written = -1;
            buffer.resize(buffer.size() * 16);
        }
    }
    buffer.back() = L'\0';
    std::wstring_view message(buffer.data());
    if (message.size() > kLogEntryMax) {
        message = message.substr(0, kLogEntryMax);
    }
    const std::wstring path = LogFilePath();
    std::lock_guard lock(g_csLog);
    AppendLogEntry(path, message);
}
