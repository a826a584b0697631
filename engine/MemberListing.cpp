#include "engine/MemberListing.h"

namespace engine {

MemberListing& MemberListing::Instance()
{
    static MemberListing listing;
    return listing;
}

void MemberListing::Restart()
{
    counter = 0;
    if (!names.empty()) {
        names[0].clear();
        sizes[0].clear();
    }
}

void MemberListing::Add(const std::string& name, unsigned long size, unsigned long packedSize, unsigned factor)
{
    const size_t at = static_cast<size_t>(counter);
    if (at >= names.size()) {
        names.resize(at + 1);
        sizes.resize(at + 1);
        packedSizes.resize(at + 1);
        ratios.resize(at + 1);
    }
    names[at] = name;
    sizes[at] = std::to_string(size);
    packedSizes[at] = std::to_string(packedSize);
    ratios[at] = std::to_string(factor) + "%";
    ++counter;
}

}  // namespace engine
