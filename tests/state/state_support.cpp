#include "tests/state/state_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

namespace statetest {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> g_counter{0};

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

TempFolder::TempFolder() {
    std::random_device rd;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "slstate-" << (rd() & 0xFFFFFF) << "-" << (ticks & 0xFFFFFF) << "-" << g_counter++;
    path_ = fs::temp_directory_path() / name.str();
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::wstring TempFolder::Wide() const { return WidePath(path_); }
std::wstring TempFolder::Wide(const std::string& name) const { return WidePath(path_ / name); }

std::wstring WidePath(const std::filesystem::path& path) {
    // Test folders are ASCII, so the library's conversion is exact.
    return path.wstring();
}

bool Exists(const std::filesystem::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> KeysOf(const std::string& text, const std::string& section) {
    std::vector<std::string> keys;
    const std::string bom = "\xEF\xBB\xBF";
    std::string body = text.rfind(bom, 0) == 0 ? text.substr(bom.size()) : text;
    std::replace(body.begin(), body.end(), '\r', '\n');  // a lone CR ends a line too
    std::istringstream in(body);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            inside = trimmed == "[" + section + "]";
            continue;
        }
        const auto eq = trimmed.find('=');
        if (inside && eq != std::string::npos) {
            keys.push_back(Trim(trimmed.substr(0, eq)));
        }
    }
    return keys;
}

}  // namespace statetest
