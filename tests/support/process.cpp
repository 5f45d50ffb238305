#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_counter{0};

fs::path UniqueName(const std::string& stem) {
    std::random_device rd;
    std::ostringstream name;
    name << stem << "-" << getpid() << "-" << g_counter++ << "-" << (rd() & 0xFFFFFF);
    return name.str();
}

// Forks and execs argv with stdin from inFile (or /dev/null) and the output
// into the two files. Returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, const ProcessOptions& options,
            const fs::path& inFile, const fs::path& outFile, const fs::path& errFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    for (const auto& extra : options.extraEnv) {
        const auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
        env.push_back(extra);
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        setpgid(0, 0);  // own group, so a stop reaches its children too
        const int in = open(inFile.empty() ? "/dev/null" : inFile.c_str(), O_RDONLY);
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) {
            _exit(126);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
            _exit(126);
        }
        environ = envp.data();
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

// Waits for pid until the deadline; the exit code, -1 for a signal, or
// nullopt when it still runs.
std::optional<int> WaitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0) {
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Terminate(pid_t pid) {
    kill(-pid, SIGTERM);
    auto code = WaitUntil(pid, std::chrono::steady_clock::now() + std::chrono::seconds(1));
    if (!code) {
        kill(-pid, SIGKILL);
        code = WaitUntil(pid, std::chrono::steady_clock::now() + std::chrono::seconds(5));
    }
    return code.value_or(-1);
}

fs::path ScratchDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / UniqueName("slproc");
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    const fs::path base = ScratchDir() / UniqueName("run");
    const fs::path in = base.string() + ".in";
    const fs::path out = base.string() + ".out";
    const fs::path err = base.string() + ".err";
    if (!options.input.empty()) {
        WriteFile(in, options.input);
    }
    ProcessResult result;
    const pid_t pid = Spawn(argv, options, options.input.empty() ? fs::path() : in, out, err);
    auto code = WaitUntil(pid, std::chrono::steady_clock::now() + options.timeout);
    if (!code) {
        result.timedOut = true;
        Terminate(pid);
    } else {
        result.exitCode = *code;
    }
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    std::error_code ec;
    fs::remove(in, ec);
    fs::remove(out, ec);
    fs::remove(err, ec);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const ProcessOptions& options) {
    const fs::path base = ScratchDir() / UniqueName("bg");
    outFile_ = base.string() + ".out";
    errFile_ = base.string() + ".err";
    pid_ = Spawn(argv, options, fs::path(), outFile_, errFile_);
}

BackgroundProcess::~BackgroundProcess() {
    Stop();
    std::error_code ec;
    if (!outFile_.empty()) {
        fs::remove(outFile_, ec);
        fs::remove(errFile_, ec);
    }
}

BackgroundProcess::BackgroundProcess(BackgroundProcess&& other) noexcept {
    *this = std::move(other);
}

BackgroundProcess& BackgroundProcess::operator=(BackgroundProcess&& other) noexcept {
    if (this != &other) {
        Stop();
        pid_ = other.pid_;
        exitCode_ = other.exitCode_;
        outFile_ = std::move(other.outFile_);
        errFile_ = std::move(other.errFile_);
        other.pid_ = -1;
        other.outFile_.clear();
        other.errFile_.clear();
    }
    return *this;
}

bool BackgroundProcess::Running() {
    if (pid_ < 0) {
        return false;
    }
    auto code = WaitUntil(pid_, std::chrono::steady_clock::now());
    if (code) {
        exitCode_ = *code;
        pid_ = -1;
        return false;
    }
    return true;
}

std::optional<int> BackgroundProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ < 0) {
        return exitCode_;
    }
    auto code = WaitUntil(pid_, std::chrono::steady_clock::now() + timeout);
    if (code) {
        exitCode_ = *code;
        pid_ = -1;
    }
    return code;
}

int BackgroundProcess::Stop() {
    if (pid_ >= 0) {
        exitCode_ = Terminate(pid_);
        pid_ = -1;
    }
    return exitCode_;
}

std::string BackgroundProcess::Output() const { return ReadFile(outFile_); }
std::string BackgroundProcess::Errors() const { return ReadFile(errFile_); }

TempDir::TempDir(const std::string& name) {
    path_ = fs::temp_directory_path() / UniqueName(name);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

fs::path DistDir(const std::string& target) {
    if (target == "windows") {
        if (auto dist = Env("SL_WINDOWS_DIST")) {
            return *dist;
        }
    }
    const fs::path source = Env("SL_SOURCE_DIR").value_or(SL_SOURCE_DIR_DEFAULT);
    return source / "dist" / target;
}

fs::path ToolPath(const std::string& name) {
    const fs::path tools = Env("SL_TOOLS_DIR").value_or(SL_TOOLS_DIR_DEFAULT);
    return tools / name;
}

fs::path WindowsToolPath(const std::string& name) {
    const fs::path source = Env("SL_SOURCE_DIR").value_or(SL_SOURCE_DIR_DEFAULT);
    const fs::path tools =
        Env("SL_WINDOWS_TOOLS_DIR").value_or((source / "build/windows/bin").string());
    return tools / name;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace testsupport
