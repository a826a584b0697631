#pragma once
// Decoding one 7z folder: its coders joined into a chain (or, with BCJ2, a tree) of streams that
// each pull their input from the packed streams or from the coders before them.
#include "unzip32/core/Crypto.h"
#include "unzip32/core/SevenZipHeaders.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unzip {
namespace sevenzip {

// AES keys made from one password, kept by their salt and number of rounds (every folder of an
// archive usually shares them, and making one costs 2^19 hashes).
class KeyCache {
public:
    // The password as UTF-16LE.
    void SetPassword(const std::string& utf8);
    bool HasPassword() const { return hasPassword_; }
    void Clear();
    ~KeyCache() { Clear(); }
    // The key for `power` (2^power rounds of SHA-256) and `salt`; false with `detail` when it
    // cannot be made.
    Status Key(Crypto* crypto, unsigned power, const std::vector<uint8_t>& salt, uint8_t key[32], std::string& detail);

private:
    struct Made {
        unsigned power;
        std::vector<uint8_t> salt;
        uint8_t key[32];
    };
    std::vector<uint8_t> password_;
    bool hasPassword_ = false;
    std::vector<Made> made_;
};

// One stream of bytes of known size, read in pieces.
class Stream {
public:
    explicit Stream(uint64_t size) : size_(size) { }
    virtual ~Stream() = default;
    // Up to `capacity` bytes into `buffer`; `got` is 0 only at the stream's end. DataError when
    // the data inside ends before the declared size.
    Status Read(uint8_t* buffer, size_t capacity, size_t& got);
    uint64_t Size() const { return size_; }

protected:
    // As Read, with `capacity` no more than what is left of the size: 0 bytes for data that ended.
    virtual Status Produce(uint8_t* buffer, size_t capacity, size_t& got) = 0;

private:
    uint64_t size_;
    uint64_t produced_ = 0;
};

// What a folder's decoding needs around it.
struct FolderContext {
    Source* source = nullptr;
    Crypto* crypto = nullptr;
    KeyCache* keys = nullptr;
    uint64_t memoryLimit = 0;
    std::string detail;  // what a failure was about
};

// The folder's method as 7-Zip shows it, short: "LZMA2", "PPMd BCJ", "LZMA2 AES".
std::string FolderMethodText(const Folder& folder);
bool FolderIsEncrypted(const Folder& folder);

// The memory the folder's coders take for dictionaries and models (0 for unknown coders).
uint64_t FolderMemory(const Folder& folder);

// Sets up the streams of folder `index` of `info`: UnsupportedMethod (with context.detail) for a
// coder not decoded here or a folder needing more memory than the limit.
Status OpenFolder(const StreamsInfo& info, size_t index, FolderContext& context, std::unique_ptr<Stream>& stream);

}  // namespace sevenzip
}  // namespace unzip
