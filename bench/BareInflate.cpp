// The bound for extraction under Wine: a bare zlib inflate-and-write loop over the central
// directory, with no checks beyond what it needs to run (no CRC, no name safety), reading each
// member in one piece and writing with the same 1 MiB pieces. Given an uncompressed tar instead, it
// writes the tar's files with no decoding at all: the bound for the same files in any compressed
// form of that tar. Usage: bare_inflate <archive> <target>
#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Le(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void MakeParents(const std::string& path)
{
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == '\\')
            ::CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

uint64_t Octal(const uint8_t* field, size_t length)
{
    uint64_t value = 0;
    for (size_t i = 0; i < length && field[i] >= '0' && field[i] <= '7'; ++i)
        value = value * 8 + (field[i] - '0');
    return value;
}

// Writes the regular files of the tar `in` (ustar headers; pax and GNU extension records are
// passed over) under `target`, read in 1 MiB pieces, making each folder once; the files written.
int WriteTar(HANDLE in, const std::string& target)
{
    std::vector<uint8_t> buffer(1 << 20);
    size_t have = 0, at = 0;
    // At least `count` bytes at `at` (count <= the buffer), or false at the end of the input.
    auto fill = [&](size_t count) {
        if (have - at >= count)
            return true;
        std::memmove(buffer.data(), buffer.data() + at, have - at);
        have -= at;
        at = 0;
        while (have < count) {
            DWORD got = 0;
            if (!::ReadFile(in, buffer.data() + have, static_cast<DWORD>(buffer.size() - have), &got, nullptr) ||
                got == 0)
                return false;
            have += got;
        }
        return true;
    };
    // Passes `count` bytes on to `file` (none: drops them).
    auto pass = [&](uint64_t count, HANDLE file) {
        while (count > 0 && fill(1)) {
            const size_t piece = have - at < count ? have - at : static_cast<size_t>(count);
            DWORD written = 0;
            if (file != INVALID_HANDLE_VALUE)
                ::WriteFile(file, buffer.data() + at, static_cast<DWORD>(piece), &written, nullptr);
            at += piece;
            count -= piece;
        }
    };
    std::string folder;
    int members = 0;
    while (fill(512) && buffer[at] != 0) {
        const uint8_t* header = buffer.data() + at;
        const uint64_t size = Octal(header + 124, 12);
        const char type = static_cast<char>(header[156]);
        std::string name(reinterpret_cast<const char*>(header), strnlen(reinterpret_cast<const char*>(header), 100));
        const std::string prefix(
            reinterpret_cast<const char*>(header + 345), strnlen(reinterpret_cast<const char*>(header + 345), 155));
        if (!prefix.empty())
            name = prefix + "/" + name;
        at += 512;
        const uint64_t padding = (512 - size % 512) % 512;
        if (type != '0' && type != '\0') {
            pass(size + padding, INVALID_HANDLE_VALUE);
            continue;
        }
        if (name.compare(0, 2, "./") == 0)
            name.erase(0, 2);
        for (char& c : name)
            if (c == '/')
                c = '\\';
        const std::string path = target + name;
        const std::string parent = path.substr(0, path.rfind('\\') + 1);
        if (parent != folder) {
            MakeParents(path);
            folder = parent;
        }
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        pass(size, file);
        ::CloseHandle(file);
        pass(padding, INVALID_HANDLE_VALUE);
        ++members;
    }
    return members;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    HANDLE in = ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER frequency, start, stop, size;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    ::GetFileSizeEx(in, &size);
    auto readAt = [&](uint64_t offset, void* buffer, size_t count) {
        OVERLAPPED at {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ::ReadFile(in, buffer, static_cast<DWORD>(count), &got, &at) && got == count;
    };
    std::string target = argv[2];
    if (target.back() != '\\')
        target += '\\';
    uint8_t magic[5] = {};
    if (readAt(257, magic, sizeof(magic)) && std::memcmp(magic, "ustar", sizeof(magic)) == 0) {
        MakeParents(target);
        ::SetFilePointer(in, 0, nullptr, FILE_BEGIN);  // the read at an offset moved it
        const int members = WriteTar(in, target);
        ::QueryPerformanceCounter(&stop);
        std::fprintf(stderr, "bare_inflate: tar written, %.3f s, members %d\n",
            static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), members);
        return 0;
    }
    const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    std::vector<uint8_t> tail(static_cast<size_t>(fileSize < 65557 ? fileSize : 65557));
    readAt(fileSize - tail.size(), tail.data(), tail.size());
    size_t e = tail.size() - 22;
    while (e > 0 && Le(&tail[e], 4) != 0x06054b50)
        --e;
    const uint32_t cdSize = Le(&tail[e + 12], 4), cdOffset = Le(&tail[e + 16], 4);
    std::vector<uint8_t> cd(cdSize);
    readAt(cdOffset, cd.data(), cdSize);
    MakeParents(target);
    std::vector<uint8_t> packed, out(1 << 20);
    int members = 0;
    for (size_t p = 0; p + 46 <= cd.size() && Le(&cd[p], 4) == 0x02014b50;) {
        const uint32_t method = Le(&cd[p + 10], 2), csize = Le(&cd[p + 20], 4), usize = Le(&cd[p + 24], 4);
        const uint32_t nameLength = Le(&cd[p + 28], 2), extra = Le(&cd[p + 30], 2), comment = Le(&cd[p + 32], 2);
        const uint32_t local = Le(&cd[p + 42], 4);
        std::string name(reinterpret_cast<const char*>(&cd[p + 46]), nameLength);
        p += 46 + nameLength + extra + comment;
        for (char& c : name)
            if (c == '/')
                c = '\\';
        std::string path = target + name;
        MakeParents(path);
        if (!name.empty() && name.back() == '\\')
            continue;
        uint8_t header[30];
        readAt(local, header, 30);
        const uint64_t dataStart = local + 30 + Le(header + 26, 2) + Le(header + 28, 2);
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (method == 0) {
            for (uint64_t done = 0; done < csize;) {
                const size_t piece = csize - done < out.size() ? static_cast<size_t>(csize - done) : out.size();
                readAt(dataStart + done, out.data(), piece);
                ::WriteFile(file, out.data(), static_cast<DWORD>(piece), &written, nullptr);
                done += piece;
            }
        } else {
            packed.resize(csize);
            readAt(dataStart, packed.data(), csize);
            z_stream stream {};
            inflateInit2(&stream, -MAX_WBITS);
            stream.next_in = packed.data();
            stream.avail_in = csize;
            int code = Z_OK;
            while (code == Z_OK) {
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                code = inflate(&stream, Z_NO_FLUSH);
                ::WriteFile(file, out.data(), static_cast<DWORD>(out.size() - stream.avail_out), &written, nullptr);
            }
            inflateEnd(&stream);
        }
        (void)usize;
        ::CloseHandle(file);
        ++members;
    }
    ::QueryPerformanceCounter(&stop);
    std::fprintf(stderr, "bare_inflate: %.3f s, members %d\n",
        static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), members);
    return 0;
}
