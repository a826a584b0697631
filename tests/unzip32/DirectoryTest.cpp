#include "unzip32/core/Directory.h"

#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"

#include <gtest/gtest.h>

namespace {

using unzip::Directory;
using unzip::MemorySource;
using unzip::Status;
using ziptest::Archive;
using ziptest::Member;

Status Read(const std::string& bytes, Directory& directory)
{
    MemorySource source(bytes.data(), bytes.size());
    return unzip::ReadDirectory(source, directory);
}

Archive TwoMembers()
{
    Archive archive;
    archive.members.push_back({"a.txt", "hello"});
    archive.members.push_back({"dir/b.txt", ziptest::Text(5000)});
    return archive;
}

// Each row: a damaged or unusual archive, the status the directory reader must give, and the
// files extracted from it: those of its directory, or (directory refused) those its local records
// prove whole.
struct Row {
    const char* what;
    std::string bytes;
    Status status;
    size_t files;
};

TEST(Directory, DamagedArchives_GiveTheirStatus)
{
    const std::string good = TwoMembers().Build();
    Archive multiDisk = TwoMembers();
    multiDisk.disk = 1;
    Archive overCount = TwoMembers();
    overCount.declaredEntries = 3;
    Archive lyingZip64 = TwoMembers();
    lyingZip64.zip64End = true;
    lyingZip64.declaredEntries = 0x7FFFFFFFFFFFll;  // a count no allocation may follow
    std::string cutComment = good.substr(0, good.size() - 2) + ziptest::Le16(40) + "short";
    Archive overSize = TwoMembers();
    overSize.declaredDirectorySize = 200;
    Archive underCount = TwoMembers();
    underCount.declaredEntries = 1;
    std::string badSignature = good;
    badSignature[badSignature.find("PK\x01\x02") + 2] = 9;
    const std::vector<Row> rows = {
        {"empty file", std::string(), Status::NotAnArchive, 0},
        {"text", std::string(300, 'x'), Status::NotAnArchive, 0},
        {"end record only, cut", good.substr(good.size() - 10), Status::NotAnArchive, 0},
        {"central directory cut", good.substr(0, 40) + good.substr(good.size() - 22), Status::Inconsistent, 0},
        {"more entries declared", overCount.Build(), Status::Truncated, 2},
        {"multi-disk", multiDisk.Build(), Status::MultiDisk, 0},
        {"huge ZIP64 count", lyingZip64.Build(), Status::Truncated, 2},
        {"comment runs past the end", cutComment, Status::Truncated, 2},
        {"bad central signature", badSignature, Status::Inconsistent, 2},
        {"directory size past the end record", overSize.Build(), Status::Ok, 2},
        {"fewer entries declared than recorded", underCount.Build(), Status::Ok, 2},
    };
    for (const Row& row : rows) {
        Directory directory;
        EXPECT_EQ(row.status, Read(row.bytes, directory)) << row.what;
        unzip::MemoryHost host;
        MemorySource source(row.bytes.data(), row.bytes.size());
        const unzip::ExtractReport report = unzip::Extract(source, host, unzip::ExtractOptions());
        EXPECT_EQ(static_cast<int>(row.files), report.extracted) << row.what;
        EXPECT_EQ(row.files, host.files.size()) << row.what;
    }
}

TEST(Directory, EmptyArchive_HasNoMembers)
{
    Archive archive;
    archive.comment = "nothing here";
    Directory directory;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    EXPECT_TRUE(directory.entries.empty());
    EXPECT_EQ("nothing here", directory.comment);
}

// End records in the comment that are not the archive's: one that points nowhere, the signature
// as text in a long comment (its "disk numbers" are letters), and a complete empty record at the
// very end. Each is passed over for the record whose directory is there.
TEST(Directory, CommentWithFalseEndSignature_IsSkipped)
{
    const std::string emptyRecord = "PK\x05\x06" + std::string(16, '\0') + ziptest::Le16(0);
    const std::vector<std::string> comments = {
        "PK\x05\x06" + std::string(12, '\x01') + ziptest::Le16(0) + " trailing text",
        ziptest::Text(16000) + " PK\x05\x06 marks the end of a zip archive. " + ziptest::Text(16000, 2),
        "an empty archive follows: " + emptyRecord,
    };
    for (const std::string& comment : comments) {
        Archive archive = TwoMembers();
        archive.comment = comment;
        Directory directory;
        ASSERT_EQ(Status::Ok, Read(archive.Build(), directory)) << comment.substr(0, 30);
        ASSERT_EQ(2u, directory.entries.size()) << comment.substr(0, 30);
        EXPECT_EQ("dir/b.txt", directory.entries[1].name);
        EXPECT_EQ(comment, directory.comment);
    }
}

TEST(Directory, PrefixAndTrailingBytes_AreAllowed)
{
    for (bool adjust : {true, false}) {
        Archive archive = TwoMembers();
        archive.prefix = "MZ" + std::string(1000, '\0');
        archive.adjustOffsets = adjust;
        archive.trailing = std::string(77, 'j');
        Directory directory;
        ASSERT_EQ(Status::Ok, Read(archive.Build(), directory)) << adjust;
        ASSERT_EQ(2u, directory.entries.size());
        EXPECT_EQ(1002u, directory.entries[0].localOffset) << "offsets point at the real records";
    }
}

TEST(Directory, Zip64RecordAndExtra_GiveSizesAndOffsets)
{
    Archive archive = TwoMembers();
    archive.zip64End = true;
    archive.prefix = "stub";
    archive.adjustOffsets = false;
    for (Member& m : archive.members)
        m.zip64 = true;
    Directory directory;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    ASSERT_EQ(2u, directory.entries.size());
    EXPECT_EQ(5000u, directory.entries[1].size);
    EXPECT_EQ(4u, directory.entries[0].localOffset);
}

TEST(Directory, Zip64ExtraWithOnlyTheFullFields_IsReadByPosition)
{
    // Only the offset is 0xFFFFFFFF: the extra holds just that one field.
    Archive archive;
    Member m {"x", "data"};
    m.method = 0;
    m.declaredOffset = 0xFFFFFFFFll;
    m.centralExtra = ziptest::Extra(0x0001, ziptest::Le64(0));
    archive.members.push_back(m);
    Directory directory;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    EXPECT_EQ(0u, directory.entries[0].localOffset);
    EXPECT_EQ(4u, directory.entries[0].size);
}

TEST(Directory, MoreThan65535Members_AreAllRead)
{
    Archive archive;
    for (int i = 0; i < 70000; ++i) {
        Member m {std::to_string(i), ""};
        m.method = 0;
        archive.members.push_back(m);
    }
    Directory directory;
    // A classic end record whose count wrapped, as many writers leave it.
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    EXPECT_EQ(70000u, directory.entries.size());
    archive.zip64End = true;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    EXPECT_EQ(70000u, directory.entries.size());
}

TEST(Directory, HugeDirectory_IsRefusedWithinTheMemoryBound)
{
    // 180,000 members: more than the directory may hold in memory.
    Archive archive;
    const std::string name(60, 'n');
    for (int i = 0; i < 180000; ++i) {
        Member m {name + std::to_string(i), ""};
        m.method = 0;
        archive.members.push_back(m);
    }
    archive.zip64End = true;
    Directory directory;
    EXPECT_EQ(Status::OutOfMemory, Read(archive.Build(), directory));
}

TEST(Directory, Names_FromFlagUnicodeExtraOrCp437)
{
    Archive archive;
    Member utf8 {"\xE4\xB8\x96\xE7\x95\x8C", ""};  // 世界
    utf8.flags = 0x0800;
    Member cp437 {
        "\x81"
        "ber",
        ""};  // "über" in CP437
    Member unicodeExtra {"caf\x82", ""};
    unicodeExtra.centralExtra =
        ziptest::Extra(0x7075, std::string("\x01", 1) + ziptest::Le32(ziptest::Crc("caf\x82")) + "caf\xC3\xA9!");
    Member staleExtra {"old", ""};
    staleExtra.centralExtra = ziptest::Extra(0x7075, std::string("\x01", 1) + ziptest::Le32(1234) + "new");
    Member unixUtf8 {"\xC3\xA9t\xC3\xA9", ""};  // été from a Unix host without the flag
    unixUtf8.versionMadeBy = 0x0314;
    for (Member* m : {&utf8, &cp437, &unicodeExtra, &staleExtra, &unixUtf8}) {
        m->method = 0;
        archive.members.push_back(*m);
    }
    Directory directory;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    ASSERT_EQ(5u, directory.entries.size());
    EXPECT_EQ("\xE4\xB8\x96\xE7\x95\x8C", directory.entries[0].name);
    EXPECT_EQ(
        "\xC3\xBC"
        "ber",
        directory.entries[1].name);
    EXPECT_EQ("caf\xC3\xA9!", directory.entries[2].name);
    EXPECT_EQ("old", directory.entries[3].name) << "an extra whose CRC does not match the name is ignored";
    EXPECT_EQ("\xC3\xA9t\xC3\xA9", directory.entries[4].name);
}

TEST(Directory, TimesFromExtras)
{
    Archive archive;
    Member ntfs {"n", ""};
    ntfs.centralExtra = ziptest::Extra(0x000a,
        ziptest::Le32(0) + ziptest::Le16(1) + ziptest::Le16(24) + ziptest::Le64(132000000000000000ull) +
            ziptest::Le64(1) + ziptest::Le64(2));
    Member ut {"u", ""};
    ut.centralExtra = ziptest::Extra(0x5455, std::string("\x01", 1) + ziptest::Le32(1600000000));
    archive.members = {ntfs, ut};
    Directory directory;
    ASSERT_EQ(Status::Ok, Read(archive.Build(), directory));
    EXPECT_TRUE(directory.entries[0].hasNtfsTime);
    EXPECT_EQ(132000000000000000ull, directory.entries[0].ntfsModified);
    EXPECT_TRUE(directory.entries[1].hasUnixTime);
    EXPECT_EQ(1600000000, directory.entries[1].unixModified);
}

}  // namespace
