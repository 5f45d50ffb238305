#include <utility>

#include "finder/discovery/search_targets.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/targets_dlg.h"
#include "finder/ui/targets_file.h"

CTargetsDlg::CTargetsDlg(HWND parent, std::wstring file, std::function<void()> onAdded)
    : CDialogImpl(IDD_TARGETS_DIALOG, parent),
      m_strFile(std::move(file)),
      m_fnAdded(std::move(onAdded)) {}

std::span<const win::EventEntry<CTargetsDlg>> CTargetsDlg::Events() {
    using D = CTargetsDlg;
    static constexpr win::EventEntry<D> table[] = {
        win::OnCommand(IDC_BUTTON_ADD, &D::OnAdd, BN_CLICKED),
        win::OnCommand(IDOK, &D::OnAdd, BN_CLICKED),  // Enter in the entry
        win::OnCommand(IDC_BUTTON_REMOVE, &D::OnRemove, BN_CLICKED),
    };
    return table;
}

bool CTargetsDlg::OnInitDialog() {
    SendMessageW(Item(IDC_EDIT_TARGET), EM_LIMITTEXT, discovery::kMaxRememberedChars, 0);
    m_targets = finder::LoadTargets(m_strFile);
    Refill();
    return true;
}

void CTargetsDlg::Refill() {
    HWND list = Item(IDC_LIST_TARGETS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::wstring& target : m_targets) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(target.c_str()));
    }
}

void CTargetsDlg::ShowMessage(const std::wstring& text) {
    SetWindowTextW(Item(IDC_TARGET_MESSAGE), text.c_str());
}

win::HandlerResult CTargetsDlg::OnAdd(WPARAM, LPARAM) {
    HWND edit = Item(IDC_EDIT_TARGET);
    std::wstring entry(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    entry.resize(static_cast<std::size_t>(
        GetWindowTextW(edit, entry.data(), static_cast<int>(entry.size()))));
    std::vector<std::wstring> targets = m_targets;
    if (const std::wstring_view refused =
            finder::AddTargetMessage(discovery::AddTargetToList(entry, targets));
        !refused.empty()) {
        ShowMessage(std::wstring(refused));
        return 0;
    }
    if (!Commit(std::move(targets))) {
        return 0;
    }
    SetWindowTextW(edit, L"");
    if (m_fnAdded) {
        m_fnAdded();
    }
    return 0;
}

win::HandlerResult CTargetsDlg::OnRemove(WPARAM, LPARAM) {
    const LRESULT index = SendMessageW(Item(IDC_LIST_TARGETS), LB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<std::size_t>(index) >= m_targets.size()) {
        return 0;
    }
    std::vector<std::wstring> targets = m_targets;
    targets.erase(targets.begin() + index);
    Commit(std::move(targets));
    return 0;
}

bool CTargetsDlg::Commit(std::vector<std::wstring> targets) {
    if (!finder::SaveTargets(m_strFile, targets)) {
        ShowMessage(finder::kTargetsNotSaved);
        return false;
    }
    m_targets = std::move(targets);
    Refill();
    ShowMessage(L"");
    return true;
}
