#pragma once
// Replaces one imported function in this program's import table while the object lives, so that a
// test can see the exact request the code under test hands to the platform (and still forward it).
#include <windows.h>

#include <cstring>

namespace testsupport {

class ImportPatch {
public:
    ImportPatch(const char* dll, const char* function, void* replacement)
    {
        HMODULE target = ::LoadLibraryA(dll);
        original_ = target != nullptr ? reinterpret_cast<void*>(::GetProcAddress(target, function)) : nullptr;
        auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (original_ == nullptr || directory.VirtualAddress == 0)
            return;
        for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
             entry->Name != 0; ++entry) {
            for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function != 0;
                 ++thunk) {
                if (reinterpret_cast<void*>(thunk->u1.Function) != original_)
                    continue;
                slot_ = reinterpret_cast<void**>(&thunk->u1.Function);
                Write(replacement);
                return;
            }
        }
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    ~ImportPatch()
    {
        if (slot_ != nullptr)
            Write(original_);
    }

    bool Patched() const { return slot_ != nullptr; }
    void* Original() const { return original_; }

private:
    void Write(void* value)
    {
        DWORD old = 0;
        ::VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        *slot_ = value;
        ::VirtualProtect(slot_, sizeof(void*), old, &old);
    }

    void* original_ = nullptr;
    void** slot_ = nullptr;
};

}  // namespace testsupport
