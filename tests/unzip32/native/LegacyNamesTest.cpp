// Legacy names (no UTF-8 flag) read in a code page for the whole archive, through the tests' iconv
// codec: the user's OEM page, a page given, the CP437 fallback, the Unicode path extra, and names
// whose double-byte characters end in the byte of a backslash.
#include "tests/support/IconvNameCodec.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"

#include <gtest/gtest.h>

#include <set>

using unzip::ExtractOptions;
using unzip::MemoryHost;
using unzip::MemorySource;
using ziptest::Archive;
using ziptest::Stored;

namespace {

std::string InPage(unsigned page, const std::string& utf8)
{
    std::string bytes;
    EXPECT_TRUE(kvtest::IconvNameCodec().FromUtf8(page, utf8, bytes)) << page << " " << utf8;
    return bytes;
}

// The names the run extracted (the files' '/'-joined paths).
std::set<std::string> Extracted(
    const Archive& archive, const unzip::NameCodec* codec, unsigned namePage, ExtractOptions options = ExtractOptions())
{
    const std::string bytes = archive.Build();
    MemorySource source(bytes.data(), bytes.size());
    MemoryHost host;
    host.names = codec;
    options.namePage = namePage;
    unzip::Extract(source, host, options);
    for (const std::string& line : host.lines)
        EXPECT_EQ(std::string::npos, line.find("skipping")) << line;
    std::set<std::string> names;
    for (const auto& file : host.files)
        names.insert(file.first);
    return names;
}

const std::string kRussian = "Документы/Отчёт за 2023.txt";
const std::string kChinese = "中文资料/说明文档.txt";

}  // namespace

TEST(LegacyNames, ReadInTheUsersOemPage_AsWindowsOrGivenPage)
{
    struct Row {
        unsigned oem, ansi;
        std::string name;
    };
    for (const Row& row : {Row {866, 1251, kRussian}, Row {936, 936, kChinese}}) {
        Archive archive;
        archive.members = {Stored(InPage(row.oem, row.name), "x"), Stored("plain.txt", "y")};
        const kvtest::IconvNameCodec user(row.oem, row.ansi);
        EXPECT_EQ(
            (std::set<std::string> {row.name, "plain.txt"}), Extracted(archive, &user, unzip::kNamePageAsWindows));
        // A US user who names the page.
        const kvtest::IconvNameCodec us;
        EXPECT_EQ((std::set<std::string> {row.name, "plain.txt"}), Extracted(archive, &us, row.oem));
    }
}

TEST(LegacyNames, UsArchiveUnchanged_InvalidNameFallsBackToCp437_NoCodecIsCp437)
{
    Archive archive;
    archive.members = {Stored("\x9A"
                              "ber Stra\xE1"
                              "e.txt",
                           "1"),
        Stored("plain.txt", "2")};  // Über Straße
    const std::set<std::string> cp437 = {"Über Straße.txt", "plain.txt"};
    const kvtest::IconvNameCodec us;
    EXPECT_EQ(cp437, Extracted(archive, &us, unzip::kNamePageAsWindows));
    EXPECT_EQ(cp437, Extracted(archive, &us, unzip::kNamePageAutomatic));
    EXPECT_EQ(cp437, Extracted(archive, nullptr, 866)) << "without a codec every legacy name is CP437";

    // 0x80 is no character in CP932: that name alone is read as CP437, and the member still goes.
    const kvtest::IconvNameCodec japanese(932, 932);
    Archive mixed;
    mixed.members = {Stored("\x80"
                            "1.txt",
                         "3"),
        Stored(InPage(932, "表.txt"), "4")};
    EXPECT_EQ((std::set<std::string> {"Ç1.txt", "表.txt"}), Extracted(mixed, &japanese, unzip::kNamePageAsWindows));
}

TEST(LegacyNames, UnicodePathExtra_CountsOnlyWhenItsCrcMatches)
{
    const std::string stored = InPage(866, "Отчёт.txt");
    ziptest::Member valid = Stored(stored, "1");
    valid.centralExtra =
        ziptest::Extra(0x7075, std::string("\x01", 1) + ziptest::Le32(ziptest::Crc(stored)) + "Report.txt");
    ziptest::Member stale = Stored(InPage(866, "Сводка.txt"), "2");
    stale.centralExtra =
        ziptest::Extra(0x7075, std::string("\x01", 1) + ziptest::Le32(ziptest::Crc(stored)) + "Stale.txt");
    Archive archive;
    archive.members = {valid, stale};
    const kvtest::IconvNameCodec russian(866, 1251);
    EXPECT_EQ(
        (std::set<std::string> {"Report.txt", "Сводка.txt"}), Extracted(archive, &russian, unzip::kNamePageAsWindows));
}

// ソ, 表 and 能 end in 0x5C in CP932: the name is decoded before it is cut, so that byte never
// makes a folder, nor a file a folder, with folders kept or not and for the masks.
TEST(LegacyNames, DoubleByteCharactersEndingInBackslash_NeverMakeAFolder)
{
    Archive archive;
    archive.members = {Stored(InPage(932, "日本語フォルダ/ソフト表示.txt"), "1"), Stored(InPage(932, "ソ"), "2"),
        Stored(InPage(932, "機能/"), "")};
    const kvtest::IconvNameCodec japanese(932, 932);
    const std::string bytes = archive.Build();
    MemorySource source(bytes.data(), bytes.size());
    MemoryHost host;
    host.names = &japanese;
    ExtractOptions options;
    options.include = {"*/ソフト表示.txt", "ソ", "機能*"};
    EXPECT_EQ(2, unzip::Extract(source, host, options).extracted);
    EXPECT_EQ((std::set<std::string> {"日本語フォルダ/ソフト表示.txt", "ソ"}), Extracted(archive, &japanese, 1));
    EXPECT_EQ((std::set<std::string> {"日本語フォルダ", "機能"}), host.folders);

    options.keepFolders = false;
    EXPECT_EQ((std::set<std::string> {"ソフト表示.txt", "ソ"}), Extracted(archive, &japanese, 1, options));
}
