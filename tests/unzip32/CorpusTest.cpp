// Every archive of the shared test corpus through the real library: nothing may ever land outside
// the target, each archive gives the outcome its MANIFEST names, and for every archive that
// python's zipfile reads cleanly the extracted files match its sizes and CRCs. The table comes
// from make_corpus_expected.py; the corpus is found through KESTROVA_SOURCE (the tree's root).
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

struct CorpusMember {
    bool strict = false;
    bool duplicate = false;  // a later member has the same name and replaces this one
    uint64_t size = 0;
    uint32_t crc = 0;
    std::string name;
};

struct CorpusArchive {
    std::string path;
    std::string outcome;
    bool clean = false;
    std::vector<CorpusMember> members;
};

std::vector<CorpusArchive> LoadTable(const std::string& file)
{
    std::vector<CorpusArchive> table;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (fields.size() >= 4 && fields[0] == "A") {
            table.push_back({fields[1], fields[2], fields[3] == "1", {}});
        } else if (fields.size() >= 5 && fields[0] == "M" && !table.empty()) {
            CorpusMember m;
            m.strict = fields[1] == "1";
            m.duplicate = fields[1] == "2";
            m.size = std::stoull(fields[2]);
            m.crc = static_cast<uint32_t>(std::stoul(fields[3], nullptr, 16));
            m.name = fields[4];
            table.back().members.push_back(m);
        }
    }
    return table;
}

bool Allowed(const std::string& outcome, int result)
{
    if (outcome == "ok")
        return result == 0;
    if (outcome == "encrypted")
        return result == 5;
    if (outcome == "unsupported")
        return result == 1 || result == 5;
    if (outcome == "refuse")
        return result == 1;
    if (outcome == "multidisk")
        return result == 3;
    if (outcome == "corrupt")
        return result != 0 && result != -1;
    return result != -1;
}

TEST(Corpus, EveryArchiveGivesItsOutcome_NothingOutsideTheTarget)
{
    const char* source = std::getenv("KESTROVA_SOURCE");
    if (source == nullptr)
        GTEST_SKIP() << "KESTROVA_SOURCE is not set";
    const std::string root = testsupport::FromHost(source);
    const std::string corpus = root + "\\..\\shared\\corpus";
    if (::GetFileAttributesA((corpus + "\\expected.json").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no corpus at " << corpus;
    const std::vector<CorpusArchive> table = LoadTable(root + "\\tests\\unzip32\\corpus_expected.txt");
    ASSERT_GT(table.size(), 500u);

    std::map<int, int> results;
    int checkedFiles = 0;
    for (const CorpusArchive& archive : table) {
        const testsupport::TestFolder folder;
        const std::string sandbox = folder.Path();
        const std::string target = sandbox + "\\out\\x";
        const int result = dllrun::RunLibrary(corpus + "\\" + testsupport::FromHost(archive.path), target.c_str());
        const dllrun::Seen& seen = dllrun::Current();
        ++results[result];
        EXPECT_TRUE(Allowed(archive.outcome, result))
            << archive.path << ": outcome " << archive.outcome << ", result " << result
            << (seen.printed.empty() ? std::string() : ", first line: " + seen.printed[0]);
        EXPECT_FALSE(seen.offThread) << archive.path;

        for (const std::string& p : dllrun::Walk(sandbox))
            EXPECT_TRUE(p == "out\\" || p == "out\\x\\" || p.rfind("out\\x\\", 0) == 0)
                << archive.path << " wrote outside the target: " << p;

        // An archive refused as a whole (where its outcome allows that) has nothing to compare.
        bool refusedWhole = false;
        for (const std::string& line : seen.printed)
            refusedWhole = refusedWhole || line.rfind("error: ", 0) == 0;
        if (archive.clean && !(refusedWhole && archive.outcome != "ok")) {
            // Every file python reads must be there with its size and CRC: plain names at their
            // path, others (names decoded or made safe differently) somewhere in the output.
            // Members the library reported as skipped are left out; so are earlier duplicates.
            const std::multiset<std::pair<uint64_t, uint32_t>> extracted = dllrun::FileSums(target);
            std::string skipped;
            size_t skippedCount = 0;
            for (const std::string& line : seen.printed)
                if (line.rfind("skipping: ", 0) == 0) {
                    skipped += line;
                    ++skippedCount;
                }
            size_t missing = 0;
            std::string missingNames;
            for (const CorpusMember& m : archive.members) {
                if (m.duplicate)
                    continue;
                ++checkedFiles;
                if (m.strict) {
                    const std::string bytes = dllrun::Contents(target + "\\" + testsupport::FromHost(m.name));
                    if (bytes.size() == m.size && ziptest::Crc(bytes) == m.crc)
                        continue;
                    if (skipped.find("skipping: " + m.name + " (") != std::string::npos)
                        continue;
                }
                if (extracted.count({m.size, m.crc}) == 0) {
                    ++missing;
                    missingNames += " " + m.name;
                }
            }
            EXPECT_LE(missing, skippedCount) << archive.path << ": not extracted:" << missingNames;
        }
    }
    std::printf("corpus: %zu archives, %d member files checked; results:", table.size(), checkedFiles);
    for (const auto& r : results)
        std::printf(" %d x%d", r.first, r.second);
    std::printf("\n");
}

}  // namespace
