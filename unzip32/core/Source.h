#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace unzip {

// Random access to the archive's bytes, with 64-bit positions.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they cannot all be read.
    virtual bool Read(uint64_t offset, void* buffer, size_t count) = 0;
};

// An archive held in memory (tests and the fuzzer).
class MemorySource : public Source {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) { }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* buffer, size_t count) override
    {
        if (offset > size_ || count > size_ - offset)
            return false;
        if (count > 0)
            std::memcpy(buffer, data_ + offset, count);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace unzip
