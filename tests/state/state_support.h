// Folders and file bytes for the update-state suites. Portable: the same
// suites run natively and, cross-built, under Wine against the Win32 calls.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace statetest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder, or a file in it, as the programs spell paths.
    std::wstring Wide() const;
    std::wstring Wide(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

std::wstring WidePath(const std::filesystem::path& path);

bool Exists(const std::filesystem::path& path);
// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The key names of section in INI text, in file order (names as written,
// without surrounding blanks); blank lines and lines without "=" are skipped.
std::vector<std::string> KeysOf(const std::string& text, const std::string& section);

}  // namespace statetest
