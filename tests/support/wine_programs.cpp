#include "tests/support/wine_programs.h"

#include <sstream>

#include "tests/support/testlan.h"

namespace testsupport {

namespace fs = std::filesystem;

std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

ProcessResult Uictl(std::vector<std::string> args, std::chrono::milliseconds timeout) {
    args.insert(args.begin(), WindowsToolPath("sl_uictl.exe").string());
    ProcessOptions options;
    options.timeout = timeout;
    return RunProcess(UnderWine(args), options);
}

std::vector<std::string> RecordedStarts(const fs::path& program) {
    return Lines(ReadFile(program.string() + ".log"));
}

std::string NoArgumentsStart(const fs::path& program) {
    return "argc=0\tcmdline=\"" + WindowsPath(program) + "\"";
}

void Finders::CloseAll() {
    for (BackgroundProcess& finder : started_) {
        if (finder.Running()) {
            Uictl({"close", "@finder"});
            finder.Wait(std::chrono::seconds(20));
        }
    }
}

BackgroundProcess& Finders::Start(const std::filesystem::path& folder,
                                  std::vector<std::string> extraEnv) {
    ProcessOptions options;
    options.cwd = folder.string();
    options.extraEnv = std::move(extraEnv);
    started_.emplace_back(UnderWine({(folder / kFinderExe).string()}), options);
    return started_.back();
}

bool Finders::CloseLast() {
    return !started_.empty() && Uictl({"close", "@finder"}).exitCode == 0 &&
           started_.back().Wait(std::chrono::seconds(20)).has_value();
}

}  // namespace testsupport
