#include "tests/state/version_fixture.h"

#include "tests/state/state_support.h"

#ifdef _WIN32
#include "platform/paths.h"
#else
#include "platform/version_record.h"
#endif

namespace statetest {

#ifdef _WIN32

// The test program itself carries 1.0.0.0; the two fixture programs beside it
// carry the other resources.
std::wstring VersionedModule(const std::filesystem::path& folder, VersionSource source) {
    const std::wstring self = plat::ModuleFilePath();
    const std::wstring here = plat::RemoveFileSpec(self);
    switch (source) {
        case VersionSource::k1000:
            return self;
        case VersionSource::kOtherBlock:
            return plat::JoinPath(here, L"sl_fixture_other_block.exe");
        case VersionSource::kEmpty:
            return plat::JoinPath(here, L"sl_fixture_empty_version.exe");
        case VersionSource::kNone:
            break;
    }
    WriteBytes(folder / "finder.exe", "not a program");
    return WidePath(folder / "finder.exe");
}

#else

namespace {

std::string Record(const std::string& key, const std::string& value) {
    return std::string(plat::kVersionRecordTag) + key + value + std::string(1, '\0');
}

}  // namespace

std::wstring VersionedModule(const std::filesystem::path& folder, VersionSource source) {
    std::string body =
        "\x7f"
        "ELF padding ";
    switch (source) {
        case VersionSource::k1000:
            body += Record(plat::kVersionRecordKey, "1.0.0.0");
            break;
        case VersionSource::kOtherBlock:
            body += Record("040904b0/ProductVersion=", "9.9.9.9");
            break;
        case VersionSource::kEmpty:
            body += Record(plat::kVersionRecordKey, "");
            break;
        case VersionSource::kNone:
            break;
    }
    body += " more padding";
    WriteBytes(folder / "finder", body);
    return WidePath(folder / "finder");
}

#endif

}  // namespace statetest
