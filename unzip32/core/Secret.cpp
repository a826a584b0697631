#include "unzip32/core/Secret.h"

#include <cstring>

namespace unzip {

void Wipe(void* data, size_t size)
{
    // Stores through a volatile pointer are never optimised away, even right before a free.
    volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = 0;
}

void Secret::Assign(const void* data, size_t size)
{
    Clear();
    bytes_.reset(new uint8_t[size + 1]);
    if (size > 0)
        std::memcpy(bytes_.get(), data, size);
    bytes_[size] = 0;
    size_ = size;
}

void Secret::Clear()
{
    if (bytes_)
        Wipe(bytes_.get(), size_ + 1);
    bytes_.reset();
    size_ = 0;
}

}  // namespace unzip
