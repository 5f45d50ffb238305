#include "tests/support/release_signing.h"

#include <unistd.h>

#include <atomic>

#include "tests/support/process.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// A scratch file of its own for each call.
fs::path Scratch(const std::string& name) {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() /
           ("slsign-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + name);
}

std::string Run(const std::vector<std::string>& argv) {
    const ProcessResult result = RunProcess(argv);
    return result.exitCode == 0 ? result.out : std::string();
}

}  // namespace

SignedUpdater TestKeyUpdater(bool windows) {
    if (windows) {
        return {WindowsToolPath("signed/Updater.exe"), WindowsToolPath("signed/update_key.pem")};
    }
    return {ToolPath("signed/Updater"), ToolPath("signed/update_key.pem")};
}

bool MakeSigningKey(const fs::path& path) {
    return RunProcess({"openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out",
                       path.string()})
               .exitCode == 0;
}

std::string Sha256Hex(const std::string& bytes) {
    const fs::path file = Scratch(".bin");
    WriteFile(file, bytes);
    const std::string out = Run({"openssl", "dgst", "-sha256", "-r", file.string()});
    fs::remove(file);
    return out.substr(0, 64);
}

std::string VersionLines(const std::string& latest, const std::string& url,
                         const std::string& installerBytes) {
    return "LatestVersion=" + latest + "\nURL=" + url + "\nSHA256=" + Sha256Hex(installerBytes) +
           "\n";
}

std::string Signed(const std::string& body, const fs::path& privateKey) {
    const fs::path file = Scratch(".txt");
    const fs::path signature = Scratch(".sig");
    WriteFile(file, body);
    std::string base64;
    if (RunProcess({"openssl", "dgst", "-sha256", "-sign", privateKey.string(), "-out",
                    signature.string(), file.string()})
            .exitCode == 0) {
        base64 = Run({"openssl", "base64", "-A", "-in", signature.string()});
    }
    fs::remove(file);
    fs::remove(signature);
    return base64.empty() ? std::string() : body + "Signature=" + base64 + "\n";
}

}  // namespace testsupport
