// The finder's start-up: the order of its steps and the hand-off to the
// installer, the Updater or an open finder window.
#include <utility>

#include "finder/app/tobrel_app.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/finder_resource.h"
#include "platform/paths.h"

namespace {
constexpr wchar_t kUpdaterFileName[] = L"Updater.exe";
constexpr wchar_t kInstallerOffer[] = L"新しいバージョンが見つかりました。アップデートしますか？";
}  // namespace

CTobrelApp::CTobrelApp(IFinderShell* shell, std::vector<std::uint8_t> publicKey)
    : m_pShell(shell), m_publicKey(std::move(publicKey)) {}

void CTobrelApp::SetShell(IFinderShell* shell) { m_pShell = shell; }

bool CTobrelApp::StartInstance() {
    if (m_pShell == nullptr) {
        return false;
    }
    IFinderShell& shell = *m_pShell;
    shell.InitCommonControls();
    if (!shell.StartSockets()) {
        shell.ShowMessageBox(shell.LoadText(IDS_SOCKETS_INIT_FAILED), kMbOk);
        return false;
    }
    if (InitPaths()) {
        RefreshProfile();
    } else {
        CreateProfile();
    }
    if (IsInstallerPending() &&
        shell.ShowMessageBox(kInstallerOffer, kMbYesNo | kMbIconQuestion) == kIdYes) {
        // Held until the process has started: what runs is what was checked.
        LaunchProgram(m_strInstallerPath);
        ReleaseInstaller();
        return false;
    }
    ReleaseInstaller();
    BuildUpdaterPath();
    LaunchProgram(m_strUpdaterPath);
    if (shell.RaiseWindowByTitle(finder::kMainDialogCaption)) {
        return false;
    }
    shell.RunMainDialog();
    return false;
}

void CTobrelApp::BuildUpdaterPath() {
    m_strUpdaterPath = plat::JoinPath(m_strAppDir, kUpdaterFileName);
}

bool CTobrelApp::LaunchProgram(const std::wstring& path) {
    const std::optional<std::wstring> commandLine = QuotedCommandLine(path);
    // A cut path would start some other program, or none: refuse it.
    if (!commandLine || m_pShell == nullptr) {
        return false;
    }
    return m_pShell->StartProcess(*commandLine);
}

std::optional<std::wstring> QuotedCommandLine(const std::wstring& path) {
    if (path.empty() || path.find(L'"') != std::wstring::npos ||
        path.size() + 2 >= kCommandLineCapacity) {
        return std::nullopt;
    }
    return L"\"" + path + L"\"";
}
