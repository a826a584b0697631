#pragma once
#include <string>
#include <vector>

namespace engine {

// The members reported by listing runs: name, size, packed size and ratio texts, entry i of each
// table describing the same member, and the counter of the next free entry. One per process, shared
// by every UnzipEngine. The tables grow as needed; restarting only resets the counter, so the texts
// of the last run stay readable until the next run writes over them.
class MemberListing {
public:
    static MemberListing& Instance();

    // Counter back to 0; the first name and size entries are cleared.
    void Restart();
    // Stores one member at the counter and advances it.
    void Add(const std::string& name, unsigned long size, unsigned long packedSize, unsigned factor);
    int Counter() const { return counter; }
    void SetCounter(int value) { counter = value; }

    std::vector<std::string> names;
    std::vector<std::string> sizes;
    std::vector<std::string> packedSizes;
    std::vector<std::string> ratios;
    int counter = 0;
};

}  // namespace engine
