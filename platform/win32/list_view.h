// A thin owner-less view of a report-style list-view control.
#pragma once

#include <windows.h>

#include <string>

namespace win {

class CListView {
  public:
    void Attach(HWND control) { m_hWnd = control; }
    HWND Hwnd() const { return m_hWnd; }

    // Column with its sub-item index equal to its position; left aligned.
    int InsertColumn(int index, const std::wstring& title, int width);
    int ColumnWidth(int index) const;
    bool SetColumnWidth(int index, int width);
    // Replaces every extended style with these.
    void SetExtendedStyle(DWORD styles);
    // A text-only row; the index the row actually got, or -1.
    int InsertItem(int index, const std::wstring& text);
    bool SetItemText(int row, int column, const std::wstring& text);
    bool DeleteAllItems();
    int ItemCount() const;
    // The first selected row in list order, or -1.
    int FirstSelected() const;
    // A cell's text, of any length.
    std::wstring ItemText(int row, int column) const;
    void SetSelected(int row, bool selected);

  private:
    HWND m_hWnd = nullptr;
};

}  // namespace win
