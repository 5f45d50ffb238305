#include <windows.h>

#include "platform/win32/list_view.h"

// After windows.h, which it builds on.
#include <commctrl.h>

namespace win {

int CListView::InsertColumn(int index, const std::wstring& title, int width) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(title.c_str());
    column.cx = width;
    column.iSubItem = index;
    return static_cast<int>(
        SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
}

int CListView::ColumnWidth(int index) const {
    return static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOLUMNWIDTH, index, 0));
}

bool CListView::SetColumnWidth(int index, int width) {
    return SendMessageW(m_hWnd, LVM_SETCOLUMNWIDTH, index, MAKELPARAM(width, 0)) != FALSE;
}

void CListView::SetExtendedStyle(DWORD styles) {
    // A zero mask replaces every extended style.
    SendMessageW(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, styles);
}

int CListView::InsertItem(int index, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return static_cast<int>(
        SendMessageW(m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListView::SetItemText(int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return SendMessageW(m_hWnd, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != FALSE;
}

bool CListView::DeleteAllItems() { return SendMessageW(m_hWnd, LVM_DELETEALLITEMS, 0, 0) != 0; }

int CListView::ItemCount() const {
    return static_cast<int>(SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

int CListView::FirstSelected() const {
    return static_cast<int>(
        SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring CListView::ItemText(int row, int column) const {
    // Grow the buffer until the text comes back shorter than it.
    std::wstring buffer(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto length = static_cast<std::size_t>(
            SendMessageW(m_hWnd, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < buffer.size() || buffer.size() >= (1u << 20)) {
            buffer.resize(length < buffer.size() ? length : buffer.size() - 1);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void CListView::SetSelected(int row, bool selected) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageW(m_hWnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace win
