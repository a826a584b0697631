// Archives that the tools wrote (make_salvage_archives.py, folder in KESTROVA_SALVAGE_ARCHIVES) with
// data appended after them.
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::MemoryHost;
using unzip::MemorySource;
using Files = std::map<std::string, std::string>;

const char* const kArchives[] = {"python.zip", "python-stream.zip", "7z.zip", "bsdtar.zip", "bsdtar-stored.zip"};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

ExtractReport Unpack(const std::string& bytes, MemoryHost& host, bool listOnly = false)
{
    MemorySource source(bytes.data(), bytes.size());
    ExtractOptions options;
    options.listOnly = listOnly;
    options.threads = 0;
    return unzip::Extract(source, host, options);
}

Files Extracted(const std::string& bytes)
{
    MemoryHost host;
    Unpack(bytes, host);
    return host.files;
}

class Salvage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* folder = std::getenv("KESTROVA_SALVAGE_ARCHIVES");
        if (folder == nullptr)
            GTEST_SKIP() << "KESTROVA_SALVAGE_ARCHIVES is not set";
        folder_ = folder;
    }
    std::string folder_;
};

// 100 KiB and 8 MiB after the end record, also holding a false end record: the archive extracts
// as it is, not as a damaged one.
TEST_F(Salvage, AppendedData_IsPassedOver)
{
    const std::string noise = ziptest::RandomBytes(8u << 20, 28);
    // A record that points at the first local record (no directory there), and one cut short.
    const std::string stray = "PK\x05\x06" + std::string(4, '\0') + ziptest::Le16(1) + ziptest::Le16(1) +
        ziptest::Le32(46) + ziptest::Le32(0) + ziptest::Le16(0);
    for (const char* name : kArchives) {
        const std::string whole = ReadFile(folder_ + "/" + name);
        const Files expected = Extracted(whole);
        const std::vector<std::string> appended = {
            noise.substr(0, 100u << 10),
            noise,
            noise.substr(0, 50u << 10) + stray + noise.substr(0, 50u << 10) + "PK\x05\x06" + stray.substr(4, 10),
        };
        for (const std::string& tail : appended) {
            MemoryHost host;
            const ExtractReport report = Unpack(whole + tail, host);
            EXPECT_EQ(unzip::Status::Ok, report.archiveStatus) << name << " + " << tail.size();
            EXPECT_TRUE(host.files == expected) << name << " + " << tail.size();
        }
    }
}

}  // namespace
