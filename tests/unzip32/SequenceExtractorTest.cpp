#include "unzip32/core/SequenceExtractor.h"

#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {

using unzip::Entry;
using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::LinkKind;
using unzip::MemoryHost;
using unzip::Status;

// A reader that plays back members given by the test: each with its content, and a failure where
// the test wants one (in the middle of the content, or instead of the next header).
class ScriptedReader : public unzip::ArchiveReader {
public:
    struct Item {
        Entry entry;
        std::string data;
        Status readFailure = Status::Ok;  // after half the data
        Status nextFailure = Status::Ok;  // instead of this member's header
    };
    std::vector<Item> items;
    size_t piece = 7;  // small pieces, so that a failure comes after some output

    Status Next(Entry& entry, bool& end) override
    {
        if (current_ + 1 >= items.size()) {
            end = true;
            return Status::Ok;
        }
        const Item& item = items[++current_];
        if (item.nextFailure != Status::Ok) {
            detail_ = "header damaged";
            return item.nextFailure;
        }
        entry = item.entry;
        offset_ = 0;
        return Status::Ok;
    }
    Status Read(uint8_t* buffer, size_t capacity, const uint8_t*&, size_t& size, bool& finished) override
    {
        const Item& item = items[current_];
        if (item.readFailure != Status::Ok && offset_ >= item.data.size() / 2) {
            detail_ = "data damaged";
            return item.readFailure;
        }
        size = std::min<size_t>({capacity, item.data.size() - offset_, piece});
        if (item.readFailure != Status::Ok && offset_ < item.data.size() / 2)
            size = std::min(size, item.data.size() / 2 - offset_);
        std::memcpy(buffer, item.data.data() + offset_, size);
        offset_ += size;
        finished = offset_ == item.data.size();
        return Status::Ok;
    }

private:
    size_t current_ = size_t(-1);
    size_t offset_ = 0;
};

ScriptedReader::Item File(const std::string& name, const std::string& data)
{
    ScriptedReader::Item item;
    item.entry.name = name;
    item.entry.size = data.size();
    item.entry.compressedSize = data.size();
    item.data = data;
    return item;
}

ScriptedReader::Item Link(const std::string& name, LinkKind kind, const std::string& target)
{
    ScriptedReader::Item item = File(name, "");
    item.entry.link = kind;
    item.entry.linkTarget = target;
    return item;
}

ExtractReport Play(ScriptedReader& reader, MemoryHost& host, const ExtractOptions& options = ExtractOptions())
{
    ExtractReport report;
    unzip::ExtractSequence(reader, host, options, report);
    return report;
}

TEST(SequenceExtractor, MembersFollowTheRulesOfZipMembers)
{
    ScriptedReader reader;
    // The hard link follows its target at once: the target is committed before it is copied.
    reader.items = {File("docs/", ""), File("docs/a.txt", "first file"), Link("copy.txt", LinkKind::Hard, "docs/a.txt"),
        File("../evil.txt", "x"), File("C:/Windows/evil.dll", "x"), File("dev/CON.txt", "device"),
        Link("docs/up", LinkKind::Symbolic, "../.."), Link("lost.txt", LinkKind::Hard, "nowhere.txt"),
        File("skip.log", "excluded")};
    MemoryHost host;
    ExtractOptions options;
    options.exclude = {"*.log"};
    const ExtractReport report = Play(reader, host, options);

    EXPECT_EQ(Status::Ok, report.archiveStatus);
    EXPECT_EQ(9, report.members);
    EXPECT_EQ(1, report.excluded);
    EXPECT_EQ(2, report.skippedUnsafe);       // "..", drive letter
    EXPECT_EQ(2, report.skippedUnsupported);  // the symbolic link, the hard link to no file written
    EXPECT_EQ(4, report.extracted);           // folder, file, device name made safe, hard link copy
    EXPECT_EQ(1u, host.folders.count("docs"));
    EXPECT_EQ("first file", host.files["docs/a.txt"]);
    EXPECT_EQ("first file", host.files["copy.txt"]);
    EXPECT_EQ("device", host.files["dev/_CON.txt"]);
    for (const auto& file : host.files)
        EXPECT_EQ(std::string::npos, file.first.find("evil")) << file.first;
    EXPECT_EQ(0u, host.files.count("docs/up"));
    EXPECT_EQ(0u, host.files.count("lost.txt"));

    // Listed, a hard link has the size of the copy it makes; one to no file listed has none.
    ScriptedReader again;
    again.items = reader.items;
    again.items.push_back(Link("copy2.txt", LinkKind::Hard, "./copy.txt"));
    MemoryHost lister;
    options.listOnly = true;
    const ExtractReport listing = Play(again, lister, options);
    std::map<std::string, uint64_t> sizes;
    for (const MemoryHost::Listed& member : lister.listed)
        sizes[member.name] = member.size;
    EXPECT_EQ(10u, sizes["copy.txt"]);
    EXPECT_EQ(10u, sizes["copy2.txt"]) << "a link to a link";
    EXPECT_EQ(0u, sizes["lost.txt"]);
    EXPECT_EQ(0u, sizes["docs/up"]);
    EXPECT_EQ(listing.totalSize, 10u * 3 + 1 + 1 + 6);
}

TEST(SequenceExtractor, DamageLeavesNoPartialFileAndEndsWhereTheReaderCannotGoOn)
{
    ScriptedReader reader;
    ScriptedReader::Item damaged = File("damaged.bin", std::string(100, 'd'));
    damaged.readFailure = Status::CrcMismatch;
    ScriptedReader::Item broken = File("never.txt", "x");
    broken.nextFailure = Status::Truncated;
    reader.items = {File("good.txt", "good"), damaged, File("after.txt", "after"), broken, File("unread.txt", "x")};
    MemoryHost host;
    const ExtractReport report = Play(reader, host);

    // The members the reader moved past stay; the one read last before the failure is not
    // committed (a check after its data, as a gzip trailer, may be what failed) and takes the failure.
    EXPECT_EQ(Status::Ok, report.archiveStatus);
    EXPECT_EQ(1, report.extracted);
    EXPECT_EQ(2, report.damaged);  // the member's data, and the member before the damaged header
    EXPECT_EQ("good", host.files["good.txt"]);
    EXPECT_EQ(0u, host.files.count("damaged.bin"));
    EXPECT_EQ(0u, host.files.count("after.txt"));
    EXPECT_EQ(0u, host.files.count("unread.txt"));
    const std::string lines = [&] {
        std::string all;
        for (const std::string& line : host.lines)
            all += line;
        return all;
    }();
    EXPECT_NE(std::string::npos, lines.find("skipping: damaged.bin (data damaged)")) << lines;
    EXPECT_NE(std::string::npos, lines.find("skipping: after.txt (header damaged)")) << lines;
    EXPECT_NE(std::string::npos, lines.find("error: header damaged")) << lines;

    // A reader that fails before its first member fails the archive as a whole.
    ScriptedReader nothing;
    nothing.items = {broken};
    MemoryHost empty;
    const ExtractReport whole = Play(nothing, empty);
    EXPECT_EQ(Status::Truncated, whole.archiveStatus);
    EXPECT_EQ("header damaged", whole.archiveDetail);
    EXPECT_EQ(0, whole.damaged);
}

// A later member of a name taken in the run gets a number; a hard link copies the file its target
// member was written to, and a link's own copy is numbered too.
TEST(SequenceExtractor, NamesTakenInTheRunAreNumberedLinksIncluded)
{
    ScriptedReader reader;
    reader.items = {File("Notes.txt", "one"), File("notes.txt", "two"), Link("copy.txt", LinkKind::Hard, "notes.txt"),
        Link("NOTES.TXT", LinkKind::Hard, "Notes.txt")};
    MemoryHost host;
    const ExtractReport report = Play(reader, host);
    EXPECT_EQ(4, report.extracted);
    EXPECT_EQ(2, report.renamed);
    const std::map<std::string, std::string> expected {
        {"Notes.txt", "one"}, {"notes (2).txt", "two"}, {"copy.txt", "two"}, {"NOTES (3).TXT", "one"}};
    EXPECT_EQ(expected, host.files);
}

// The other kinds of archive treat what was in the target before the run as ZIP archives do, a
// hard link's copy too.
TEST(SequenceExtractor, ExistingFilesAreOverwrittenSkippedOrKeptBoth)
{
    using unzip::ExistingFiles;
    for (ExistingFiles existing : {ExistingFiles::Overwrite, ExistingFiles::Skip, ExistingFiles::KeepBoth}) {
        SCOPED_TRACE(static_cast<int>(existing));
        ScriptedReader reader;
        reader.items = {File("edited.txt", "new"), File("dir", "a file"), File("new.txt", "one"),
            Link("copy.txt", LinkKind::Hard, "new.txt"), File("NEW.txt", "two")};
        MemoryHost host;
        host.files = {{"edited.txt", "mine"}, {"copy.txt", "mine"}};
        host.folders = {"dir"};
        ExtractOptions options;
        options.existing = existing;
        const ExtractReport report = Play(reader, host, options);
        std::map<std::string, std::string> expected {{"new.txt", "one"}, {"NEW (2).txt", "two"}};
        if (existing == ExistingFiles::Overwrite) {
            expected.insert({{"edited.txt", "new"}, {"copy.txt", "one"}});
            EXPECT_EQ(1, report.skippedBlocked);
        } else if (existing == ExistingFiles::Skip) {
            expected.insert({{"edited.txt", "mine"}, {"copy.txt", "mine"}});
            EXPECT_EQ(3, report.skippedExisting);
        } else {
            expected.insert({{"edited.txt", "mine"}, {"copy.txt", "mine"}, {"edited (2).txt", "new"},
                {"dir (2)", "a file"}, {"copy (2).txt", "one"}});
            EXPECT_EQ(3, report.keptBoth);
        }
        EXPECT_EQ(1, report.renamed);
        EXPECT_EQ(expected, host.files);
    }
}

// Hard links are output: their copies count in the total written, and links to one big member
// stop at a bound (a bomb) rather than multiplying it without end.
TEST(SequenceExtractor, HardLinkCopiesCountAndAreBounded)
{
    const uint64_t kMiB = 1u << 20;
    ScriptedReader reader;
    reader.items = {File("big.bin", std::string(kMiB, 'b'))};
    for (int i = 0; i < 100000; ++i)
        reader.items.push_back(
            Link("link" + std::to_string(i), LinkKind::Hard, i % 2 == 0 && i > 0 ? "link0" : "big.bin"));
    MemoryHost host(4 * kMiB);
    ExtractOptions options;
    options.quiet = 1;
    const ExtractReport report = Play(reader, host, options);

    EXPECT_EQ(1 + 1024, report.extracted);
    EXPECT_EQ(100000 - 1024, report.overlapping);
    EXPECT_EQ(1025 * kMiB, report.totalSize);
    EXPECT_EQ(std::string(kMiB, 'b'), host.files["link1"]);
    EXPECT_EQ(0u, host.files.count("link1024"));
    ASSERT_FALSE(host.lines.empty());
    EXPECT_EQ("skipping: link1024 (hard links copy more than the archive holds)\n", host.lines.front());
}

// Stops when asked before the second member: nothing of it or after it is written.
class StoppingHost : public MemoryHost {
public:
    bool Service(const std::string& name, uint64_t) override { return name == "second.txt"; }
};

TEST(SequenceExtractor, TestModeWritesNothingAndStopEndsTheRun)
{
    ScriptedReader reader;
    ScriptedReader::Item bad = File("bad.txt", "0123456789");
    bad.readFailure = Status::DataError;
    reader.items = {File("dir/first.txt", "one"), bad, Link("same.txt", LinkKind::Hard, "dir/first.txt")};
    MemoryHost host;
    ExtractOptions options;
    options.testOnly = true;
    const ExtractReport tested = Play(reader, host, options);
    EXPECT_EQ(2, tested.extracted);  // the file and the link to it
    EXPECT_EQ(1, tested.damaged);
    EXPECT_TRUE(host.files.empty());
    EXPECT_TRUE(host.folders.empty());

    ScriptedReader stopped;
    stopped.items = {File("first.txt", "one"), File("second.txt", "two"), File("third.txt", "three")};
    StoppingHost stopping;
    const ExtractReport report = Play(stopped, stopping);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(1u, stopping.files.size());
    EXPECT_EQ("one", stopping.files["first.txt"]);
}

// Files written behind on a worker thread come out as when written on the calling thread: the same
// files, counts and lines in the same order, a hard link still finds the file just before it, a
// damaged member and the member before a damaged header leave nothing, and big members pass through
// the bounded queue.
TEST(SequenceExtractor, WritingBehindOnAWorkerChangesNothingButTheThread)
{
    ScriptedReader reader;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "dir" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".txt";
        reader.items.push_back(
            File(name, std::string(static_cast<size_t>(i * 37 % 5000), static_cast<char>('a' + i % 26))));
        if (i % 50 == 3)
            reader.items.push_back(Link("link" + std::to_string(i), LinkKind::Hard, name));
        if (i % 97 == 5)
            reader.items.back().readFailure = Status::CrcMismatch;
    }
    reader.items.push_back(File("big.bin", std::string(40u << 20, 'b')));
    reader.items.push_back(File("last.txt", "before the damaged header"));
    ScriptedReader::Item broken = File("never.txt", "x");
    broken.nextFailure = Status::Truncated;
    reader.items.push_back(broken);

    reader.piece = 64u << 10;
    ScriptedReader again = reader;
    MemoryHost inlineHost(256u << 20);
    const ExtractReport expected = Play(reader, inlineHost);
    unzip::StdWorkerThreads workers;
    ExtractOptions options;
    options.threads = 1;
    options.workers = &workers;
    MemoryHost behind(256u << 20);
    const ExtractReport report = Play(again, behind, options);

    EXPECT_EQ(expected.extracted, report.extracted);
    EXPECT_EQ(expected.damaged, report.damaged);
    EXPECT_EQ(inlineHost.lines, behind.lines);
    EXPECT_EQ(inlineHost.files, behind.files);
    EXPECT_EQ(0u, behind.files.count("last.txt"));
    EXPECT_EQ(std::string(40u << 20, 'b'), behind.files["big.bin"]);
    EXPECT_GT(report.extracted, 290);
}

TEST(SequenceExtractor, UnknownContentIsNoArchiveKestrovaKnows)
{
    const std::string text(4000, 't');
    unzip::MemorySource source(text.data(), text.size());
    MemoryHost host;
    const ExtractReport report = unzip::Extract(source, host, ExtractOptions());
    EXPECT_EQ(Status::NotAnArchive, report.archiveStatus);
    ASSERT_FALSE(host.lines.empty());
    EXPECT_EQ("error: not an archive Kestrova knows\n", host.lines.back());
}

}  // namespace
