// libFuzzer target over the whole read-and-extract path of the ZIP core: directory search and
// parsing, name decoding, path sanitising, record checks and inflating, extracting into memory.
// Besides the sanitizers it checks that every file the core asks for is a safe relative path.
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool IsSafeComponent(const std::string& part)
{
    if (part.empty() || part == "." || part == ".." || part.back() == '.' || part.back() == ' ')
        return false;
    for (unsigned char c : part)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '<' || c == '>' || c == '"' ||
            c == '|' || c == '?' || c == '*')
            return false;
    return true;
}

void CheckPath(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t stop = path.find('/', start);
        if (stop == std::string::npos)
            stop = path.size();
        if (!IsSafeComponent(path.substr(start, stop - start)))
            std::abort();
        start = stop + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unzip::MemorySource source(data, size);
    {
        unzip::MemoryHost host(1u << 20);
        unzip::ExtractOptions options;
        options.exclude = {"*.bak", "skip?/*"};
        unzip::ExtractReport report = unzip::Extract(source, host, options);
        uint64_t written = 0;
        for (const auto& file : host.files) {
            CheckPath(file.first);
            if (file.second != "<not kept>")
                written += file.second.size();
        }
        for (const auto& folder : host.folders)
            CheckPath(folder);
        if (written > report.totalSize)
            std::abort();  // more output than the directory declares
    }
    {
        unzip::MemoryHost host(0);
        unzip::ExtractOptions options;
        options.listOnly = true;
        unzip::Extract(source, host, options);
    }
    return 0;
}
