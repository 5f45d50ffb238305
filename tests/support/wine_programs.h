// Windows programs run under the run's Wine prefix and driven from native
// tests: the finder's names and texts, the window driver sl_uictl, and the
// records of sl_recorder (the stand-in for a program that the finder starts).
#pragma once

#include <chrono>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace testsupport {

inline constexpr char kFinderExe[] = "ソルベリオ Windows Tool.exe";
inline constexpr char kOfferText[] = "新しいバージョンが見つかりました。アップデートしますか？";

// A path of this machine as the Windows programs see it: Z:\...
std::string WindowsPath(const std::filesystem::path& path);

// The non-empty lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// Runs sl_uictl with `args` (see its usage) under Wine.
ProcessResult Uictl(std::vector<std::string> args,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(30000));

// The finders a test starts under Wine, from the folder they are in. Each
// one still running when the object goes is closed by its window (and
// waited for up to 20 s), so that no finder outlives its test.
class Finders {
  public:
    Finders() = default;
    ~Finders() { CloseAll(); }
    Finders(const Finders&) = delete;
    Finders& operator=(const Finders&) = delete;

    // extraEnv reaches what the finder starts, too.
    BackgroundProcess& Start(const std::filesystem::path& folder,
                             std::vector<std::string> extraEnv = {});
    // Closes the newest finder's window; true when it then ended.
    bool CloseLast();
    void CloseAll();

  private:
    std::list<BackgroundProcess> started_;
};

// The starts that an sl_recorder copy at `program` recorded, one line each.
std::vector<std::string> RecordedStarts(const std::filesystem::path& program);
// The line that it records for a start by its quoted path with no arguments.
std::string NoArgumentsStart(const std::filesystem::path& program);

}  // namespace testsupport
