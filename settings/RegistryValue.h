#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace settings {

// A typed registry value buffer: data bytes, their size and the registry type, with conversions
// to and from text, numbers, bytes and text lists. The data lives on a private heap of its own.
class RegistryValue {
public:
    RegistryValue();
    explicit RegistryValue(DWORD number);
    explicit RegistryValue(const char* text);
    RegistryValue(const void* bytes, DWORD count);
    explicit RegistryValue(const std::vector<std::string>& texts);
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;
    ~RegistryValue();

    void SetDword(DWORD number);
    // Stores the text and its NUL (one NUL for a null text); REG_EXPAND_SZ when `expand` is set.
    void SetText(const char* text, bool expand = false);
    void SetBinary(const void* bytes, DWORD count);
    // REG_MULTI_SZ: each text with its NUL, then one more NUL (two NULs for an empty list).
    void SetMultiText(const std::vector<std::string>& texts);
    void SetMultiText(const char* const* texts, int count);

    // Text types only (REG_SZ, REG_EXPAND_SZ, REG_LINK): the data up to its first NUL. Otherwise
    // false, and `text` is left alone.
    bool AsText(std::string& text) const;
    // REG_DWORD and REG_DWORD_BIG_ENDIAN: the first four bytes as stored.
    bool AsDword(DWORD& number) const;
    // Byte types, and only when `count` equals the stored size.
    bool AsBinary(void* destination, DWORD count) const;
    // REG_MULTI_SZ: every text up to the first empty one.
    bool AsMultiText(std::vector<std::string>& texts) const;

    // Replaces the block by a new one of `count` bytes; null when that fails.
    BYTE* Allocate(DWORD count);
    void Release();
    void SetType(DWORD type) { type_ = type; }

    BYTE* Data() const { return data_; }
    DWORD Size() const { return size_; }
    DWORD Type() const { return type_; }

private:
    HANDLE heap_ = nullptr;
    BYTE* data_ = nullptr;
    DWORD size_ = 0;
    DWORD type_ = REG_NONE;
};

}  // namespace settings
