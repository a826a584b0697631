#pragma once
// Reading and selecting the rows of a list view that belongs to another process (and reading the
// entries of an extended combo box, the rectangles of header and tab items). The messages carry
// pointers, so their records and text buffers are placed inside that process: a page of its memory
// is borrowed for the lifetime of the reader.
#include <windows.h>

#include <commctrl.h>

#include <string>

namespace testsupport {

class RemoteListView {
public:
    RemoteListView(HWND list, DWORD processId)
        : list_(list),
          process_(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId))
    {
        if (process_ != nullptr)
            memory_ = static_cast<char*>(::VirtualAllocEx(process_, nullptr, kPage, MEM_COMMIT, PAGE_READWRITE));
    }
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;
    ~RemoteListView()
    {
        if (memory_ != nullptr)
            ::VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_ != nullptr)
            ::CloseHandle(process_);
    }

    bool Usable() const { return memory_ != nullptr && ::IsWindow(list_); }
    HWND Handle() const { return list_; }

    int Count() const { return static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }
    int SelectedCount() const { return static_cast<int>(::SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0)); }
    int ColumnWidth(int column) const
    {
        return static_cast<int>(::SendMessageA(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }
    bool IsSelected(int item) const
    {
        return (::SendMessageA(list_, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_SELECTED) & LVIS_SELECTED) != 0;
    }

    // Text of one cell; empty for a row or column that does not exist.
    std::string Text(int item, int subItem = 0) const
    {
        LVITEMA record {};
        record.iSubItem = subItem;
        return RemoteText(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), record);
    }

    // The same as the control holds it in UTF-16 (LVM_GETITEMTEXTW): what the user sees, whatever
    // code page either process runs in.
    std::wstring WideText(int item, int subItem = 0) const
    {
        if (memory_ == nullptr)
            return L"<no access>";
        LVITEMW record {};
        record.iSubItem = subItem;
        record.pszText = reinterpret_cast<wchar_t*>(memory_ + kTextOffset);
        record.cchTextMax = kTextSize / 2;
        Write(&record, sizeof record);
        const wchar_t empty[1] = {};
        Write(empty, sizeof empty, kTextOffset);
        ::SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        wchar_t text[kTextSize / 2 + 1] = {};
        Read(text, kTextSize, kTextOffset);
        return text;
    }

    // The row whose column-0 text is `name`; -1 when there is none.
    int Find(const std::string& name) const
    {
        for (int item = 0, count = Count(); item < count; ++item)
            if (Text(item) == name)
                return item;
        return -1;
    }

    // A rectangle that the control reports through a RECT pointer (LVM_GETITEMRECT with `left` as
    // the part asked for, HDM_GETITEMRECT, TCM_GETITEMRECT), in screen coordinates.
    RECT ScreenRect(UINT message, WPARAM index, LONG left = 0) const
    {
        RECT rect {};
        rect.left = left;
        Write(&rect, sizeof rect);
        ::SendMessageA(list_, message, index, reinterpret_cast<LPARAM>(memory_));
        Read(&rect, sizeof rect);
        ::MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    // The middle of a row's label, in screen coordinates (where a user would click it).
    POINT ItemCentre(int item) const
    {
        RECT rect = ScreenRect(LVM_GETITEMRECT, static_cast<WPARAM>(item), LVIR_LABEL);
        return POINT {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // Text of an entry of an extended combo box (CBEM_GETITEM); the list must be a ComboBoxEx32.
    std::string ComboText(int index) const
    {
        COMBOBOXEXITEMA record {};
        record.mask = CBEIF_TEXT;
        record.iItem = index;
        return RemoteText(CBEM_GETITEMA, 0, record);
    }

    // Selects or deselects one row (-1: every row); `focus` also makes it the focused row. A row
    // selected becomes the selection mark, as a click would make it.
    void Select(int item, bool selected, bool focus = false) const
    {
        if (memory_ == nullptr)
            return;
        LVITEMA record {};
        record.stateMask = LVIS_SELECTED | (focus ? LVIS_FOCUSED : 0u);
        record.state = selected ? record.stateMask : 0;
        Write(&record, sizeof record);
        ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        if (selected)
            ::SendMessageA(list_, LVM_SETSELECTIONMARK, 0, item);
    }

private:
    static const SIZE_T kPage = 4096;
    static const int kTextOffset = 1024;
    static const int kTextSize = 1024;

    void Write(const void* data, SIZE_T size, SIZE_T offset = 0) const
    {
        SIZE_T moved = 0;
        ::WriteProcessMemory(process_, memory_ + offset, data, size, &moved);
    }
    void Read(void* data, SIZE_T size, SIZE_T offset = 0) const
    {
        SIZE_T moved = 0;
        ::ReadProcessMemory(process_, memory_ + offset, data, size, &moved);
    }
    // Sends `message` with a record (LVITEMA, COMBOBOXEXITEMA) whose text goes into the borrowed
    // page, and reads the text back.
    template <typename Record> std::string RemoteText(UINT message, WPARAM wParam, Record record) const
    {
        if (memory_ == nullptr)
            return "<no access>";
        record.pszText = memory_ + kTextOffset;
        record.cchTextMax = kTextSize;
        Write(&record, sizeof record);
        const char empty[1] = {};
        Write(empty, 1, kTextOffset);
        ::SendMessageA(list_, message, wParam, reinterpret_cast<LPARAM>(memory_));
        char text[kTextSize + 1] = {};
        Read(text, kTextSize, kTextOffset);
        return text;
    }

    HWND list_;
    HANDLE process_;
    char* memory_ = nullptr;
};

}  // namespace testsupport
