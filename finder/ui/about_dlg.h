// The About box: template 100, nothing of its own beyond the template.
#pragma once

#include <span>

#include "finder/ui/finder_resource.h"
#include "platform/win32/dialog.h"

class CAboutDlg : public win::CDialogImpl<CAboutDlg> {
  public:
    explicit CAboutDlg(HWND parent = nullptr) : CDialogImpl(IDD_ABOUTBOX, parent) {}
    static std::span<const win::EventEntry<CAboutDlg>> Events() { return {}; }
};
