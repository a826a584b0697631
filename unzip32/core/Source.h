#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace unzip {

// Bytes of the archive seen in place (a mapped view of the file): valid while the view lives.
class SourceView {
public:
    virtual ~SourceView() = default;
    const uint8_t* data = nullptr;
};

// Random access to the archive's bytes, with 64-bit positions.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they cannot all be read.
    virtual bool Read(uint64_t offset, void* buffer, size_t count) = 0;
    // The `count` bytes at `offset` without copying them, where the source can show them in place
    // (null otherwise, or when the range lies outside the archive). May run on several threads.
    virtual std::unique_ptr<SourceView> View(uint64_t offset, size_t count)
    {
        (void)offset;
        (void)count;
        return nullptr;
    }
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
    std::unique_ptr<SourceView> View(uint64_t offset, size_t count) override
    {
        if (offset > size_ || count > size_ - offset)
            return nullptr;
        auto view = std::make_unique<SourceView>();
        view->data = data_ + offset;
        return view;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace unzip
