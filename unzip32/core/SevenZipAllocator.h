#pragma once
#include <7zTypes.h>

#include <cstdlib>

namespace unzip {

// The allocator that 7-Zip's C coders (LZMA, LZMA2, PPMd) take for their dictionaries and models:
// malloc and free.
inline void* SevenZipAllocate(ISzAllocPtr, size_t size)
{
    return std::malloc(size);
}

inline void SevenZipRelease(ISzAllocPtr, void* address)
{
    std::free(address);
}

inline const ISzAlloc kSevenZipAllocator = {SevenZipAllocate, SevenZipRelease};

}  // namespace unzip
