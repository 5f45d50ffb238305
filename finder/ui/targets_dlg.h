// The "検索先の指定" dialog: an entry for an address, host name or range,
// the remembered targets, 追加, 削除 and 閉じる. Every change is written to
// "search.ini" at once; an entry that is not a valid target is refused with
// a message in the dialog and nothing is written.
#pragma once

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "finder/ui/finder_resource.h"
#include "platform/win32/dialog.h"

class CTargetsDlg : public win::CDialogImpl<CTargetsDlg> {
  public:
    // file: "search.ini"; onAdded: called after a target was added and saved.
    CTargetsDlg(HWND parent, std::wstring file, std::function<void()> onAdded);

    static std::span<const win::EventEntry<CTargetsDlg>> Events();

    const std::vector<std::wstring>& Targets() const { return m_targets; }

  protected:
    bool OnInitDialog() override;

  private:
    win::HandlerResult OnAdd(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnRemove(WPARAM wParam, LPARAM lParam);
    void Refill();
    void ShowMessage(const std::wstring& text);
    // Saves the list and shows it; says so and keeps the old one when it
    // cannot be saved.
    bool Commit(std::vector<std::wstring> targets);

    std::wstring m_strFile;
    std::function<void()> m_fnAdded;
    std::vector<std::wstring> m_targets;
};
