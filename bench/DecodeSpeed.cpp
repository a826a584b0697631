// Decoding speed of the ZIP core's decoders alone: every member of an archive (held in memory) is
// decoded to memory with the CRC check, on one thread, and the output rate is printed per
// compression method. Compares our Deflate64 decoder with zlib's inflate on the same data (the
// same files in a Deflate64 and a Deflate archive). With a thread count, members are decoded by
// the workers as the library does (a large bzip2 or deflated member on several cores, the latter
// unless KESTROVA_PARALLEL_INFLATE=off). Usage: decode_speed <archive> [rounds] [threads]
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_speed <archive> [rounds] [threads]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string bytes = all.str();
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 0;
    double best = 1e30;
    unzip::ExtractReport report;
    for (int round = 0; round < rounds; ++round) {
        unzip::MemorySource source(bytes.data(), bytes.size());
        unzip::MemoryHost host(0);  // nothing kept: output is decoded and checked only
        unzip::ExtractOptions options;
        options.testOnly = true;
        unzip::StdWorkerThreads workers;
        options.threads = threads;
        options.workers = threads > 0 ? &workers : nullptr;
        const auto start = std::chrono::steady_clock::now();
        report = unzip::Extract(source, host, options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    std::printf("decode_speed: %s: %d of %d members, %.1f MB in %.3f s, %.0f MB/s\n", argv[1], report.extracted,
        report.members, static_cast<double>(report.totalSize) / 1e6, best,
        static_cast<double>(report.totalSize) / 1e6 / best);
    return report.extracted == report.members ? 0 : 1;
}
