#pragma once
#include <cstddef>
#include <cstdint>

namespace unzip {

// A bounds-checked little-endian cursor over a byte range. Reading past the end yields zeros and
// trips a failure flag that stays set; fields are assembled byte by byte, never overlaid.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) { }

    uint8_t U8()
    {
        if (!Need(1))
            return 0;
        return data_[pos_++];
    }
    uint16_t U16()
    {
        if (!Need(2))
            return 0;
        uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    uint32_t U32()
    {
        if (!Need(4))
            return 0;
        uint32_t v = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
            (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return v;
    }
    uint64_t U64()
    {
        uint64_t low = U32();
        uint64_t high = U32();
        return low | (high << 32);
    }
    // A pointer to the next `count` bytes (null when they are not there), and moves past them.
    const uint8_t* Bytes(size_t count)
    {
        if (!Need(count))
            return nullptr;
        const uint8_t* p = data_ + pos_;
        pos_ += count;
        return p;
    }
    bool Skip(size_t count) { return Bytes(count) != nullptr || count == 0; }

    bool Ok() const { return ok_; }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }

private:
    bool Need(size_t count)
    {
        if (!ok_ || count > size_ - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace unzip
