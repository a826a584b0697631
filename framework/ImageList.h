#pragma once
#include <windows.h>

#include <commctrl.h>

namespace fw {

// Owns an image list and destroys it with itself, unless it was attached as a borrowed list
// (the shell's system image list, say) or detached. Move-only.
class ImageList {
public:
    ImageList() = default;
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;
    ImageList(ImageList&& other) noexcept : list_(other.list_), owned_(other.owned_) { other.list_ = nullptr; }
    ImageList& operator=(ImageList&& other) noexcept
    {
        if (this != &other) {
            Reset();
            list_ = other.list_;
            owned_ = other.owned_;
            other.list_ = nullptr;
        }
        return *this;
    }
    ~ImageList() { Reset(); }

    bool Create(int width, int height, UINT flags, int initial, int grow)
    {
        Reset();
        list_ = ::ImageList_Create(width, height, flags, initial, grow);
        owned_ = true;
        return list_ != nullptr;
    }
    // Takes ownership of a list made elsewhere (a drag image, say).
    void AttachOwned(HIMAGELIST list)
    {
        Reset();
        list_ = list;
        owned_ = true;
    }
    // Takes a list that someone else owns; it is never destroyed from here.
    void AttachBorrowed(HIMAGELIST list)
    {
        Reset();
        list_ = list;
        owned_ = false;
    }
    HIMAGELIST Detach()
    {
        HIMAGELIST list = list_;
        list_ = nullptr;
        return list;
    }
    void Reset()
    {
        if (list_ != nullptr && owned_)
            ::ImageList_Destroy(list_);
        list_ = nullptr;
    }

    HIMAGELIST Handle() const { return list_; }
    operator HIMAGELIST() const { return list_; }
    int GetCount() const { return list_ != nullptr ? ::ImageList_GetImageCount(list_) : 0; }
    // Appends an icon; returns its index, or -1 when the icon is null or cannot be added.
    int AddIcon(HICON icon) const { return list_ != nullptr ? ::ImageList_ReplaceIcon(list_, -1, icon) : -1; }

private:
    HIMAGELIST list_ = nullptr;
    bool owned_ = true;
};

}  // namespace fw
