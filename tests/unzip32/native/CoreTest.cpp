// The ZIP core on archives built byte by byte: directory parsing, damaged and hostile layouts,
// names, masks and the extraction outcome of each member. Runs natively under ASan and UBSan.
#include "tests/unzip32/native/RecordingHost.h"
#include "tests/unzip32/native/ZipBuilder.h"
#include "unzip32/core/Directory.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/Mask.h"
#include "unzip32/core/NameDecoder.h"
#include "unzip32/core/SafePath.h"

#include <gtest/gtest.h>

#include <random>

using namespace unzip;
using ziptest::Archive;
using ziptest::File;
using ziptest::Member;
using ziptest::RecordingHost;

namespace {

std::string Text(size_t size, char seed = 'a')
{
    std::string s;
    for (size_t i = 0; i < size; ++i)
        s += static_cast<char>(seed + static_cast<char>((i * 7 + i / 13) % 26));
    return s;
}

Archive TwoFiles()
{
    Archive a;
    a.members.push_back(File("one.txt", Text(5000)));
    a.members.push_back(File("dir/two.bin", Text(300, 'A'), 0));
    return a;
}

Status Read(const std::string& bytes, Directory& directory)
{
    MemorySource source(bytes.data(), bytes.size());
    return ReadDirectory(source, directory);
}

ExtractReport Unpack(const std::string& bytes, RecordingHost& host, ExtractOptions options = ExtractOptions())
{
    MemorySource source(bytes.data(), bytes.size());
    return Extract(source, host, options);
}

}  // namespace

TEST(Directory, ReadsMembersInOrderWithPrefixTrailingBytesAndComment)
{
    for (int variant = 0; variant < 4; ++variant) {
        Archive a = TwoFiles();
        if (variant & 1)
            a.prefix = "MZ self-extractor stub" + std::string(100, '\0');
        if (variant & 2) {
            a.trailing = std::string(37, 'x');
            a.comment = "false end PK\x05\x06 inside";
        }
        std::string bytes = a.Build();
        Directory d;
        ASSERT_EQ(Status::Ok, Read(bytes, d)) << variant;
        ASSERT_EQ(2u, d.entries.size());
        EXPECT_EQ("one.txt", d.entries[0].name);
        EXPECT_EQ("dir/two.bin", d.entries[1].name);
        EXPECT_EQ(a.prefix.size(), d.prefix);
        RecordingHost host;
        ExtractReport r = Unpack(bytes, host);
        EXPECT_EQ(Status::Ok, r.archiveStatus);
        EXPECT_EQ(2, r.extracted) << variant;
        EXPECT_EQ(Text(5000), host.files["one.txt"]);
        EXPECT_EQ(Text(300, 'A'), host.files["dir/two.bin"]);
    }
}

TEST(Directory, EmptyArchiveHasNoMembers)
{
    Archive a;
    std::string bytes = a.Build();
    Directory d;
    EXPECT_EQ(Status::Ok, Read(bytes, d));
    EXPECT_TRUE(d.entries.empty());
}

TEST(Directory, DamagedLayoutsAreReportedNotRead)
{
    struct Case {
        const char* what;
        std::string bytes;
        Status expected;
    };
    std::string good = TwoFiles().Build();
    std::vector<Case> cases;
    cases.push_back({"empty file", "", Status::NotAnArchive});
    cases.push_back({"no end record", std::string(4000, 'z'), Status::NotAnArchive});
    cases.push_back({"end record only, cut", good.substr(good.size() - 10), Status::NotAnArchive});
    {
        // The directory's second record is cut off by the end of the data before the end record.
        Archive a = TwoFiles();
        a.declaredDirectorySize = 200;
        std::string b = a.Build();
        cases.push_back({"directory size larger than the space", b, Status::Ok});
    }
    {
        Archive a = TwoFiles();
        a.declaredEntries = 3;
        cases.push_back({"count says more than there are", a.Build(), Status::Truncated});
    }
    {
        Archive a = TwoFiles();
        a.declaredEntries = 1;
        cases.push_back({"count says fewer (the records are all inside the directory)", a.Build(), Status::Ok});
    }
    {
        Archive a = TwoFiles();
        std::string b = a.Build();
        size_t central = b.find("PK\x01\x02");
        b[central + 2] = 9;
        cases.push_back({"bad central signature", b, Status::Inconsistent});
    }
    {
        Archive a = TwoFiles();
        a.disk = 1;
        cases.push_back({"multi-disk", a.Build(), Status::MultiDisk});
    }
    {
        std::string b = good;
        b[b.size() - 2] = 5;  // comment length 5 with nothing after the record
        cases.push_back({"comment runs past the end", b, Status::Truncated});
    }
    for (const Case& c : cases) {
        Directory d;
        EXPECT_EQ(c.expected, Read(c.bytes, d)) << c.what;
        RecordingHost host;
        ExtractReport r = Unpack(c.bytes, host);
        if (c.expected == Status::Ok) {
            EXPECT_EQ(2, r.extracted) << c.what;  // tolerated: the directory is where it says
        } else {
            EXPECT_NE(Status::Ok, r.archiveStatus) << c.what;
            EXPECT_TRUE(host.files.empty()) << c.what;
        }
    }
}

TEST(Directory, Zip64FieldsAreTakenByPosition)
{
    Archive a;
    a.zip64End = true;
    a.members.push_back(File("big.txt", Text(1000)));
    a.members[0].zip64 = true;
    a.members.push_back(File("small.txt", "abc", 0));
    std::string bytes = a.Build();
    Directory d;
    ASSERT_EQ(Status::Ok, Read(bytes, d));
    ASSERT_EQ(2u, d.entries.size());
    EXPECT_EQ(1000u, d.entries[0].size);
    EXPECT_EQ(a.members[0].packed.size(), d.entries[0].compressedSize);
    RecordingHost host;
    ExtractReport r = Unpack(bytes, host);
    EXPECT_EQ(2, r.extracted);
    EXPECT_EQ(Text(1000), host.files["big.txt"]);

    // Only the size slot is full: the extra holds just the size, the offset stays in the record.
    Archive b;
    Member m = File("only-size.txt", Text(70), 0);
    std::string z;
    ziptest::Put16(z, 0x0001);
    ziptest::Put16(z, 8);
    ziptest::Put64(z, 70);
    m.centralExtra = z;
    m.declaredSize = 0xFFFFFFFF;
    b.members.push_back(m);
    std::string bytes2 = b.Build();
    ASSERT_EQ(Status::Ok, Read(bytes2, d));
    EXPECT_EQ(70u, d.entries[0].size);
    EXPECT_EQ(0u, d.entries[0].localOffset);
    RecordingHost host2;
    EXPECT_EQ(1, Unpack(bytes2, host2).extracted);

    // Both slots full but the extra holds only one field: the member is damaged, not read with
    // made-up sizes.
    b.members[0].declaredCompressed = 0xFFFFFFFF;
    RecordingHost host3;
    ExtractReport shortExtra = Unpack(b.Build(), host3);
    EXPECT_EQ(0, shortExtra.extracted);
    EXPECT_EQ(1, shortExtra.damaged);
}

TEST(Directory, NamesFromFlagUnicodeExtraOrCp437)
{
    Archive a;
    Member utf8 = File("\xE4\xB8\x96\xE7\x95\x8C", "", 0);  // 世界 with the UTF-8 flag
    utf8.flags = 0x0800;
    a.members.push_back(utf8);
    a.members.push_back(File("caf\x82", "", 0));  // CP437 é
    Member unicode = File("old\x81", "", 0);
    std::string body;
    body += '\x01';
    ziptest::Put32(body, ziptest::Crc("old\x81"));
    body += "new\xC3\xBC";
    std::string extra;
    ziptest::Put16(extra, 0x7075);
    ziptest::Put16(extra, static_cast<uint32_t>(body.size()));
    unicode.centralExtra = extra + body;
    a.members.push_back(unicode);
    Member stale = unicode;
    stale.name = "stale\x81";
    a.members.push_back(stale);  // the extra's CRC belongs to another name: ignored
    std::string bytes = a.Build();
    Directory d;
    ASSERT_EQ(Status::Ok, Read(bytes, d));
    EXPECT_EQ("\xE4\xB8\x96\xE7\x95\x8C", d.entries[0].name);
    EXPECT_EQ("caf\xC3\xA9", d.entries[1].name);
    EXPECT_EQ("new\xC3\xBC", d.entries[2].name);
    EXPECT_EQ("stale\xC3\xBC", d.entries[3].name);
    EXPECT_EQ(Cp437ToUtf8("\x9c\xe1"), "\xC2\xA3\xC3\x9F");
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
}

TEST(Extract, MemberProblemsSkipThatMemberOnly)
{
    struct Case {
        const char* what;
        Member bad;
        int ExtractReport::*counter;
    };
    std::vector<Case> cases;
    {
        Member m = File("crc.txt", Text(800));
        m.declaredCrc = 0x12345678;
        cases.push_back({"bad CRC", m, &ExtractReport::damaged});
    }
    {
        Member m = File("short.txt", Text(800));
        m.declaredSize = 700;  // the data inflates to more than declared
        cases.push_back({"lying size (deflate, more)", m, &ExtractReport::damaged});
    }
    {
        Member m = File("long.txt", Text(800));
        m.declaredSize = 900;
        cases.push_back({"lying size (deflate, less)", m, &ExtractReport::damaged});
    }
    {
        Member m = File("stored.txt", Text(800), 0);
        m.declaredSize = 100;
        cases.push_back({"lying size (stored)", m, &ExtractReport::damaged});
    }
    {
        Member m = File("garbage.txt", "this is not deflate data at all", 0);
        m.method = 8;
        m.rawPacked = "\xff\xff\xff\xff\xff\xff not deflate";
        cases.push_back({"damaged deflate", m, &ExtractReport::damaged});
    }
    {
        Member m = File("secret.txt", Text(100), 0);
        m.flags = 1;
        cases.push_back({"encrypted", m, &ExtractReport::skippedEncrypted});
    }
    {
        Member m = File("strong.txt", Text(100), 0);
        m.flags = 0x41;
        cases.push_back({"strong encryption", m, &ExtractReport::skippedEncrypted});
    }
    {
        Member m = File("b.imp", Text(100), 0);
        m.method = 6;
        cases.push_back({"implode", m, &ExtractReport::skippedUnsupported});
    }
    {
        Member m = File("../evil.txt", "x", 0);
        cases.push_back({"dot-dot", m, &ExtractReport::skippedUnsafe});
    }
    for (Case& c : cases) {
        Archive a;
        a.members.push_back(File("first.txt", Text(2000)));
        a.members.push_back(c.bad);
        a.members.push_back(File("last.txt", Text(10, 'k'), 0));
        std::string bytes = a.Build();
        RecordingHost host;
        ExtractReport r = Unpack(bytes, host);
        EXPECT_EQ(Status::Ok, r.archiveStatus) << c.what;
        EXPECT_EQ(1, r.*(c.counter)) << c.what;
        EXPECT_EQ(2, r.extracted) << c.what;
        EXPECT_EQ(2u, host.files.size()) << c.what;
        EXPECT_EQ(0u, host.files.count(c.bad.name)) << c.what;
        EXPECT_EQ(1u, host.LinesWith("skipping")) << c.what;
        EXPECT_EQ(0, host.open) << c.what;
        // Never more output than the member declares.
        uint64_t declared = 2000 + 10 + (c.bad.declaredSize >= 0 ? uint64_t(c.bad.declaredSize) : c.bad.data.size());
        EXPECT_LE(host.bytesWritten, declared) << c.what;
    }
}

// Stored members that leave their sizes to a data descriptor, written by a tool whose directory
// offsets leave the descriptor's bytes out: the later records then seem shifted by bytes in front
// of the archive, while the first still stands at the very start.
TEST(Extract, StoredMembersWithDataDescriptors)
{
    struct Case {
        const char* what;
        bool signature;
        uint32_t sizeInDescriptor;  // 0: the true size
        bool firstExtracted;
    };
    const Case cases[] = {
        {"descriptor with signature", true, 0, true},
        {"descriptor without signature", false, 0, true},
        {"descriptor contradicting the directory", true, 999, false},
    };
    for (const Case& c : cases) {
        Archive a;
        Member first = File("first.xml", Text(610), 0);
        first.flags = 0x0008;
        a.members.push_back(first);
        a.members.push_back(File("second.xml", Text(82, 'c'), 0));
        std::string bytes = a.Build();
        std::string descriptor;
        if (c.signature)
            ziptest::Put32(descriptor, 0x08074b50);
        ziptest::Put32(descriptor, ziptest::Crc(a.members[0].data));
        ziptest::Put32(descriptor, c.sizeInDescriptor != 0 ? c.sizeInDescriptor : 610);
        ziptest::Put32(descriptor, c.sizeInDescriptor != 0 ? c.sizeInDescriptor : 610);
        bytes.insert(static_cast<size_t>(a.members[1].offset), descriptor);

        RecordingHost host;
        ExtractReport r = Unpack(bytes, host);
        EXPECT_EQ(Status::Ok, r.archiveStatus) << c.what;
        EXPECT_EQ(host.files.count("second.xml"), 1u) << c.what;
        if (c.firstExtracted) {
            EXPECT_EQ(host.files["first.xml"], a.members[0].data) << c.what;
            EXPECT_EQ(r.damaged, 0) << c.what;
        } else {
            EXPECT_EQ(host.files.count("first.xml"), 0u) << c.what;
            EXPECT_EQ(r.damaged, 1) << c.what;
        }
    }

    // A deflated member's stream ends by itself: a descriptor that disagrees does not matter
    // when the data checks out against the directory.
    Archive a;
    Member deflated = File("streamed.txt", Text(3000));
    deflated.flags = 0x0008;
    a.members.push_back(deflated);
    std::string bytes = a.Build();
    RecordingHost host;
    ExtractReport r = Unpack(bytes, host);
    EXPECT_EQ(r.damaged, 0);
    EXPECT_EQ(host.files["streamed.txt"], deflated.data);
}

TEST(Extract, UnsupportedMethodIsNamed)
{
    Archive a;
    Member m = File("x.shr", Text(10), 0);
    m.method = 1;
    a.members.push_back(m);
    RecordingHost host;
    Unpack(a.Build(), host);
    EXPECT_EQ(1u, host.LinesWith("Shrink"));
}

TEST(Extract, OverlappingAndSharedRecordsAreRefused)
{
    // Two members pointing at the same local record (the classic quine-style bomb).
    {
        Archive b;
        b.members.push_back(File("a.txt", Text(4000)));
        Member twin = File("a.txt", Text(4000));
        b.members.push_back(twin);
        std::string built = b.Build();
        // Point the second central record at offset 0.
        size_t second = built.rfind("PK\x01\x02");
        built[second + 42] = built[second + 43] = built[second + 44] = built[second + 45] = 0;
        RecordingHost host;
        ExtractReport r = Unpack(built, host);
        EXPECT_EQ(2, r.overlapping);
        EXPECT_EQ(0, r.extracted);
    }
    // A member whose data runs into the next member's record.
    {
        Archive a;
        a.members.push_back(File("a.txt", Text(100), 0));
        a.members.push_back(File("b.txt", Text(100), 0));
        a.members[0].declaredCompressed = 150;
        a.members[0].declaredSize = 150;
        RecordingHost host;
        ExtractReport r = Unpack(a.Build(), host);
        EXPECT_EQ(1, r.overlapping);
        EXPECT_EQ(1, r.extracted);
        EXPECT_EQ(1u, host.files.count("b.txt"));
    }
    // A record pointing into the directory, or past the end.
    for (int64_t offset : {int64_t(0xFFFFFFF0), int64_t(200)}) {
        Archive a;
        a.members.push_back(File("a.txt", Text(100), 0));
        a.members[0].declaredOffset = offset;
        RecordingHost host;
        ExtractReport r = Unpack(a.Build(), host);
        EXPECT_EQ(0, r.extracted);
        EXPECT_EQ(1, r.damaged + r.overlapping);
    }
}

TEST(Extract, BombOutputStopsAtTheDeclaredSize)
{
    Archive a;
    a.members.push_back(File("bomb.bin", std::string(20u << 20, '\0')));
    a.members[0].declaredSize = 1000;
    RecordingHost host;
    ExtractReport r = Unpack(a.Build(), host);
    EXPECT_EQ(1, r.damaged);
    EXPECT_LE(host.bytesWritten, 1000u);
    EXPECT_EQ(1, host.abandoned);
}

// Deflated members too large to decode in one call are streamed, with the same size and CRC
// checks; stored members above a mebibyte are copied from the archive in place, CRC checked.
TEST(Extract, LargeMembersKeepTheirChecks)
{
    const std::string zeros(41u << 20, '\0');  // more than a decoder may hold at once
    struct Case {
        const char* what;
        Member member;
        bool good;
    };
    std::vector<Case> cases;
    cases.push_back({"streamed", File("big.bin", zeros), true});
    {
        Member m = File("more.bin", zeros);
        m.declaredSize = static_cast<int64_t>(zeros.size()) - 1;
        cases.push_back({"streamed, more than declared", m, false});
    }
    {
        Member m = File("less.bin", zeros);
        m.declaredSize = static_cast<int64_t>(zeros.size()) + 1;
        cases.push_back({"streamed, less than declared", m, false});
    }
    {
        Member m = File("crc.bin", zeros);
        m.declaredCrc = 1;
        cases.push_back({"streamed, bad CRC", m, false});
    }
    cases.push_back({"stored in place", File("stored.bin", Text(3u << 20), 0), true});
    {
        Member m = File("stored-crc.bin", Text(3u << 20), 0);
        m.declaredCrc = 1;
        cases.push_back({"stored in place, bad CRC", m, false});
    }
    for (Case& c : cases) {
        Archive a;
        a.members.push_back(c.member);
        RecordingHost host;
        ExtractReport r = Unpack(a.Build(), host);
        EXPECT_EQ(c.good ? 1 : 0, r.extracted) << c.what;
        EXPECT_EQ(c.good ? 0 : 1, r.damaged) << c.what;
        EXPECT_EQ(c.good ? 1u : 0u, host.files.size()) << c.what;
        if (c.good)
            EXPECT_TRUE(host.files.begin()->second == c.member.data) << c.what;
        EXPECT_EQ(0, host.open) << c.what;
    }
}

TEST(Extract, FoldersListingAndOptions)
{
    Archive a;
    a.members.push_back(File("top/", "", 0));
    a.members.push_back(File("top/sub/file.c", Text(3000)));
    a.members.push_back(File("top/x.bak", Text(10), 0));
    a.members.push_back(File("README", "", 0));
    std::string bytes = a.Build();

    RecordingHost lister;
    ExtractOptions list;
    list.listOnly = true;
    ExtractReport listed = Unpack(bytes, lister, list);
    ASSERT_EQ(4u, lister.listed.size());
    EXPECT_EQ("top/sub/file.c", lister.listed[1].name);
    EXPECT_EQ(CompressionFactor(3000, a.members[1].packed.size()), lister.listed[1].factor);
    EXPECT_GT(lister.listed[1].factor, 50u);
    EXPECT_EQ(0u, lister.listed[2].factor);  // stored
    EXPECT_EQ(0u, lister.listed[3].factor);  // empty
    EXPECT_TRUE(lister.files.empty());
    EXPECT_EQ(4, listed.matched);

    RecordingHost host;
    ExtractOptions options;
    options.exclude = {"*.BAK"};
    Unpack(bytes, host, options);
    EXPECT_EQ(1u, host.files.count("top/x.bak"));  // case-sensitive by default
    RecordingHost host2;
    options.ignoreCase = true;
    ExtractReport r = Unpack(bytes, host2, options);
    EXPECT_EQ(0u, host2.files.count("top/x.bak"));
    EXPECT_EQ(1, r.excluded);
    EXPECT_EQ(1u, host2.folders.count("top/sub"));
    EXPECT_EQ(1u, host2.files.count("README"));

    RecordingHost flat;
    ExtractOptions junk;
    junk.keepFolders = false;
    Unpack(bytes, flat, junk);
    EXPECT_EQ(1u, flat.files.count("file.c"));
}

TEST(CompressionFactor, IsTheShareSaved)
{
    EXPECT_EQ(0u, CompressionFactor(0, 0));
    EXPECT_EQ(0u, CompressionFactor(100, 100));
    EXPECT_EQ(0u, CompressionFactor(100, 120));
    EXPECT_EQ(58u, CompressionFactor(1000, 420));
    EXPECT_EQ(99u, CompressionFactor(uint64_t(1) << 40, 1));
}

TEST(SafePath, RefusesEscapesAndMakesWindowsNamesSafe)
{
    struct Case {
        const char* name;
        bool refused;
        const char* joined;  // the parts joined with '/', when not refused
    };
    const Case cases[] = {
        {"a/b/c.txt", false, "a/b/c.txt"},
        {"a\\b\\c.txt", false, "a/b/c.txt"},
        {"./a//b", false, "a/b"},
        {"../x", true, ""},
        {"a/../../x", true, ""},
        {"a\\..\\x", true, ""},
        {"/etc/passwd", true, ""},
        {"\\windows\\x", true, ""},
        {"C:\\x", true, ""},
        {"c:x", true, ""},
        {"\\\\server\\share\\x", true, ""},
        {"\\\\?\\C:\\x", true, ""},
        {"//server/share", true, ""},
        {"CON", false, "_CON"},
        {"dir/nul.txt", false, "dir/_nul.txt"},
        {"com1", false, "_com1"},
        {"LPT9.log", false, "_LPT9.log"},
        {"console", false, "console"},
        {"a<b>c:d\"e|f?g*h", false, "a_b_c_d_e_f_g_h"},
        {"file.txt:stream", false, "file.txt_stream"},
        {"tab\there", false, "tab_here"},
        {"trailing. ", false, "trailing"},
        {"dir./x", false, "dir/x"},
        {"...", true, ""},
        {"", true, ""},
        {"/", true, ""},
    };
    for (const Case& c : cases) {
        SafeName safe = MakeSafe(c.name);
        EXPECT_EQ(c.refused, safe.refused) << c.name;
        if (!c.refused) {
            std::string joined;
            for (const std::string& part : safe.parts)
                joined += (joined.empty() ? "" : "/") + part;
            EXPECT_EQ(c.joined, joined) << c.name;
        }
    }
}

TEST(Mask, WildcardsSeparatorsAndCase)
{
    struct Case {
        const char* mask;
        const char* name;
        bool ignoreCase;
        bool matches;
    };
    const Case cases[] = {
        {"*.bak", "x.bak", false, true},
        {"*.bak", "sub/x.bak", false, true},
        {"*.bak", "x.bak.txt", false, false},
        {"*.bak", "X.BAK", false, false},
        {"*.bak", "X.BAK", true, true},
        {"?.txt", "a.txt", false, true},
        {"?.txt", "ab.txt", false, false},
        {"sub\\*", "sub/deep/x", false, true},
        {"sub/*", "sub\\x", false, true},
        {"a*b*c", "aXXbYYc", false, true},
        {"a*b*c", "aXXbYY", false, false},
        {"*", "", false, true},
        {"", "", false, true},
        {"", "a", false, false},
        {"**a", "bbba", false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.matches, MatchMask(c.mask, c.name, c.ignoreCase)) << c.mask << " ~ " << c.name;
    // A pathological mask stays fast (no exponential back-tracking).
    EXPECT_FALSE(MatchMask(std::string(50, '*') + "b", std::string(5000, 'a'), false));
}

// Flipping bytes of a good archive: nothing crashes, every output is finished or removed, and
// nothing exceeds what the directory declares.
TEST(Smoke, ByteFlips)
{
    Archive a;
    a.members.push_back(File("a/", "", 0));
    a.members.push_back(File("a/one.txt", Text(3000)));
    a.members.push_back(File("two.txt", Text(500, 'Q'), 0));
    a.comment = "comment";
    const std::string good = a.Build();
    std::mt19937 random(7);
    for (size_t i = 0; i < good.size() * 2; ++i) {
        std::string bytes = good;
        size_t at = i < good.size() ? i : random() % good.size();
        bytes[at] = static_cast<char>(i < good.size() ? ~bytes[at] : static_cast<char>(random()));
        MemorySource source(bytes.data(), bytes.size());
        Directory d;
        ReadDirectory(source, d);
        uint64_t declared = 0;
        for (const Entry& e : d.entries)
            declared += e.size;
        RecordingHost host;
        Extract(source, host, ExtractOptions());
        ASSERT_EQ(0, host.open) << at;
        ASSERT_LE(host.bytesWritten, declared) << at;
    }
}
