#include "framework/ComboBoxEx.h"

namespace fw {

namespace {
const int kTextSize = 4096;
}

int ComboBoxEx::InsertItem(int index, const std::string& text, int image, int selectedImage) const
{
    COMBOBOXEXITEMA item {};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = index;
    item.pszText = const_cast<char*>(text.c_str());
    item.iImage = image;
    item.iSelectedImage = selectedImage;
    return static_cast<int>(Send(CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

std::string ComboBoxEx::GetItemText(int index) const
{
    // The control does not report a text's length: room for a long path in a multibyte code page.
    char buffer[kTextSize] = {};
    COMBOBOXEXITEMA item {};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = buffer;
    item.cchTextMax = kTextSize;
    if (Send(CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) == FALSE)
        return std::string();
    return std::string(item.pszText);
}

}  // namespace fw
