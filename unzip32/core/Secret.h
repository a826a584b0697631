#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace unzip {

// Overwrites memory that held a password or a key, in a way the compiler may not leave out.
void Wipe(void* data, size_t size);

// A password or key: its bytes are wiped when they are replaced and when it goes away. It is never
// copied, so no stray copy outlives it.
class Secret {
public:
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { Clear(); }

    void Assign(const void* data, size_t size);
    void Clear();
    const uint8_t* Data() const { return bytes_.get(); }
    size_t Size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
};

}  // namespace unzip
