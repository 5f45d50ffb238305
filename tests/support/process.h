// Helpers for tests that run the programs as real processes: child
// processes with a time limit, temporary folders, and the test LAN's names.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exitCode = -1;  // -1 when killed or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string cwd;                    // empty: the test's own
    std::vector<std::string> extraEnv;  // "NAME=value", added to the test's environment
    std::string input;                  // written to the child's standard input
    std::chrono::milliseconds timeout{60000};
};

// Runs argv[0] (searched in PATH) to its end, or kills it after the timeout.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A child that runs while the test goes on; stopped (TERM, then KILL after a
// second) when the object goes away. Its output goes to files.
class BackgroundProcess {
  public:
    BackgroundProcess() = default;
    BackgroundProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~BackgroundProcess();
    BackgroundProcess(BackgroundProcess&& other) noexcept;
    BackgroundProcess& operator=(BackgroundProcess&& other) noexcept;
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool Running();
    // Waits for the child to end by itself; its exit code, or nullopt on time-out.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Asks the child to end and waits for it; its exit code or -1.
    int Stop();
    std::string Output() const;  // standard output so far
    std::string Errors() const;  // standard error so far
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int exitCode_ = -1;
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
};

// A fresh folder, removed with everything in it when the object goes away.
class TempDir {
  public:
    explicit TempDir(const std::string& name = "sltest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::optional<std::string> Env(const char* name);

// Where the programs of each target were gathered (dist/linux, dist/windows).
std::filesystem::path DistDir(const std::string& target);
// The native tools (simulated device and site, search driver), built with the
// native target, and the Windows tools built with the Windows target.
std::filesystem::path ToolPath(const std::string& name);
std::filesystem::path WindowsToolPath(const std::string& name);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Polls until pred holds or the time runs out; true when it held.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout,
             std::chrono::milliseconds step = std::chrono::milliseconds(20));

}  // namespace testsupport

#include <thread>

template <class Pred>
bool testsupport::WaitFor(Pred pred, std::chrono::milliseconds timeout,
                          std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}
