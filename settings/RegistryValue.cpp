#include "settings/RegistryValue.h"

#include <cstring>

namespace settings {

RegistryValue::RegistryValue() : heap_(::HeapCreate(0, 0, 0)) { }

RegistryValue::RegistryValue(DWORD number) : RegistryValue()
{
    SetDword(number);
}

RegistryValue::RegistryValue(const char* text) : RegistryValue()
{
    SetText(text, false);
}

RegistryValue::RegistryValue(const void* bytes, DWORD count) : RegistryValue()
{
    SetBinary(bytes, count);
}

RegistryValue::RegistryValue(const std::vector<std::string>& texts) : RegistryValue()
{
    SetMultiText(texts);
}

RegistryValue::~RegistryValue()
{
    Release();
    if (heap_ != nullptr)
        ::HeapDestroy(heap_);
}

BYTE* RegistryValue::Allocate(DWORD count)
{
    Release();
    if (heap_ == nullptr)
        return nullptr;
    // A zero-byte block still gets an address so that "no data" and "empty data" stay apart.
    data_ = static_cast<BYTE*>(::HeapAlloc(heap_, 0, count > 0 ? count : 1));
    size_ = data_ != nullptr ? count : 0;
    return data_;
}

void RegistryValue::Release()
{
    if (data_ != nullptr && heap_ != nullptr)
        ::HeapFree(heap_, 0, data_);
    data_ = nullptr;
    size_ = 0;
}

void RegistryValue::SetDword(DWORD number)
{
    if (Allocate(sizeof number) != nullptr)
        std::memcpy(data_, &number, sizeof number);
    type_ = REG_DWORD;
}

void RegistryValue::SetText(const char* text, bool expand)
{
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    if (Allocate(static_cast<DWORD>(length + 1)) != nullptr) {
        if (length > 0)
            std::memcpy(data_, text, length);
        data_[length] = 0;
    }
    type_ = expand ? REG_EXPAND_SZ : REG_SZ;
}

void RegistryValue::SetBinary(const void* bytes, DWORD count)
{
    if (Allocate(count) != nullptr && count > 0 && bytes != nullptr)
        std::memcpy(data_, bytes, count);
    type_ = REG_BINARY;
}

void RegistryValue::SetMultiText(const std::vector<std::string>& texts)
{
    std::vector<const char*> pointers;
    pointers.reserve(texts.size());
    for (const std::string& text : texts)
        pointers.push_back(text.c_str());
    SetMultiText(pointers.data(), static_cast<int>(pointers.size()));
}

void RegistryValue::SetMultiText(const char* const* texts, int count)
{
    size_t total = 1;
    for (int i = 0; i < count; ++i)
        total += std::strlen(texts[i]) + 1;
    if (count == 0)
        total += 1;
    type_ = REG_MULTI_SZ;
    if (Allocate(static_cast<DWORD>(total)) == nullptr)
        return;
    BYTE* write = data_;
    for (int i = 0; i < count; ++i) {
        size_t length = std::strlen(texts[i]) + 1;
        std::memcpy(write, texts[i], length);
        write += length;
    }
    *write++ = 0;
    if (count == 0)
        *write = 0;
}

bool RegistryValue::AsText(std::string& text) const
{
    if (type_ != REG_SZ && type_ != REG_EXPAND_SZ && type_ != REG_LINK)
        return false;
    if (data_ == nullptr) {
        text.clear();
        return true;
    }
    const char* chars = reinterpret_cast<const char*>(data_);
    const void* nul = std::memchr(chars, 0, size_);
    text.assign(chars, nul != nullptr ? static_cast<const char*>(nul) - chars : size_);
    return true;
}

bool RegistryValue::AsDword(DWORD& number) const
{
    if ((type_ != REG_DWORD && type_ != REG_DWORD_BIG_ENDIAN) || data_ == nullptr || size_ < sizeof number)
        return false;
    std::memcpy(&number, data_, sizeof number);
    return true;
}

bool RegistryValue::AsBinary(void* destination, DWORD count) const
{
    if (type_ != REG_BINARY && type_ != REG_RESOURCE_LIST && type_ != REG_FULL_RESOURCE_DESCRIPTOR)
        return false;
    if (count != size_ || (count > 0 && (destination == nullptr || data_ == nullptr)))
        return false;
    if (count > 0)
        std::memcpy(destination, data_, count);
    return true;
}

bool RegistryValue::AsMultiText(std::vector<std::string>& texts) const
{
    if (type_ != REG_MULTI_SZ)
        return false;
    texts.clear();
    const char* read = reinterpret_cast<const char*>(data_);
    const char* end = read + (data_ != nullptr ? size_ : 0);
    // A list written by someone else may lack its final NULs: never read past the data.
    while (read < end && *read != 0) {
        const void* nul = std::memchr(read, 0, static_cast<size_t>(end - read));
        const char* stop = nul != nullptr ? static_cast<const char*>(nul) : end;
        texts.emplace_back(read, static_cast<size_t>(stop - read));
        read = stop + 1;
    }
    return true;
}

}  // namespace settings
