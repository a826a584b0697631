// Legacy names (no UTF-8 flag) through UNZIP32.DLL as an independent client calls it, in the Windows
// locale the test runs in (KESTROVA_TEST_LOCALE, e.g. "ru-RU"; CTest runs this program once per
// locale, Wine taking the locale from LC_ALL). The archives were written by Java's ZipOutputStream
// and bsdtar with names in the locales' OEM pages, or made by hand (make_producer_archives.py, in
// KESTROVA_PRODUCER_ARCHIVES); every file holds its own name and a newline. Names are compared as
// the file system holds them (FindFirstFileW), so a 0x5C trail byte that made a folder shows.
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"
#include "unzip32/dll/Win32NameCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>

using testsupport::TestFolder;

namespace {

struct Locale {
    const char* name;     // as Windows names it
    unsigned oem, ansi;   // its code pages
    const char* archive;  // what a user there gets from a colleague
    std::vector<std::string> files;
};

const Locale kLocales[] = {
    {"ru-RU", 866, 1251, "ru-cp866.zip",
        {"Документы/Отчёт за 2023.txt", "Документы/Счёт №15 (копия).txt", "Документы/Письмо директору.txt"}},
    {"zh-CN", 936, 936, "zh-gbk.zip",
        {"中文资料/说明文档.txt", "中文资料/会议记录 2023.txt", "中文资料/图片/照片1.jpg"}},
    {"ja-JP", 932, 932, "ja-cp932.zip",
        {"日本語フォルダ/ソフト表示.txt", "日本語フォルダ/機能一覧.txt", "日本語フォルダ/表計算/予定表.txt"}},
    {"de-DE", 850, 1252, "de-ibm850.zip",
        {"Übersicht/Größe ändern.txt", "Übersicht/Straßenkarte für Köln.txt", "Übersicht/Bücher © Müller Verlag.txt"}},
    {"en-US", 437, 1252, "us-cp437.zip", {"Café/Résumé.txt", "Café/Menü ½ Preis.txt", "Café/Naïve façade.txt"}},
};

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

const Locale* Current()
{
    const std::string name = Env("KESTROVA_TEST_LOCALE");
    for (const Locale& locale : kLocales)
        if (name == locale.name)
            return &locale;
    return nullptr;
}

std::string Archive(const char* name)
{
    return testsupport::FromHost(Env("KESTROVA_PRODUCER_ARCHIVES")) + "\\" + name;
}

// What extracting `files` must leave, as dllrun::Walk lists it: each folder once, nothing else.
std::vector<std::string> Tree(const std::vector<std::string>& files)
{
    std::set<std::string> tree;
    for (std::string file : files) {
        std::replace(file.begin(), file.end(), '/', '\\');
        for (size_t slash = file.find('\\'); slash != std::string::npos; slash = file.find('\\', slash + 1))
            tree.insert(file.substr(0, slash + 1));
        tree.insert(file);
    }
    return std::vector<std::string>(tree.begin(), tree.end());
}

// Extracts `archive` and checks the tree and every file's bytes; then lists it and checks that the
// listing names the same files.
void ExpectTrueNames(const char* archive, const std::vector<std::string>& files, dllrun::RunOptions run)
{
    SCOPED_TRACE(archive);
    TestFolder target;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(Archive(archive), target.Path().c_str(), run));
    EXPECT_EQ(Tree(files), dllrun::Walk(target.Path()));
    for (const std::string& file : files)
        EXPECT_EQ(file + "\n", dllrun::Contents(target.Child(file))) << file;

    run.list = true;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(Archive(archive), target.Path().c_str(), run));
    std::vector<std::string> listed;
    for (const dllrun::Listed& member : dllrun::Current().listed)
        if (member.name.back() != '/' && member.name.back() != '\\')
            listed.push_back(member.name);
    std::vector<std::string> expected = files;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);
}

dllrun::RunOptions WithPage(unsigned page)
{
    dllrun::RunOptions run;
    run.choosePage = true;
    run.namePage = page;
    return run;
}

class LegacyNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        locale_ = Current();
        ASSERT_NE(nullptr, locale_) << "KESTROVA_TEST_LOCALE names none of the locales";
        ASSERT_FALSE(Env("KESTROVA_PRODUCER_ARCHIVES").empty());
    }
    const Locale* locale_ = nullptr;
};

// The library's codec: the locale's own pages (not 65001, which GetOEMCP answers in this UTF-8
// process), the samples of every page both ways, and refusals instead of look-alikes.
TEST_F(LegacyNames, CodecTakesThePagesOfTheLocale)
{
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SNAME, name, LOCALE_NAME_MAX_LENGTH);
    ASSERT_EQ(locale_->name, dllrun::Utf8(name)) << "Wine did not take the locale from LC_ALL";
    const unzip::Win32NameCodec codec;
    EXPECT_EQ(locale_->oem, codec.OemPage());
    EXPECT_EQ(locale_->ansi, codec.AnsiPage());

    const struct {
        unsigned page;
        std::string bytes, text;
    } samples[] = {{866, "\x8e\xe2\xe7\xf1\xe2", "Отчёт"}, {936, "\xcb\xb5\xc3\xf7\xce\xc4\xb5\xb5", "说明文档"},
        {932, "\x83\x5c\x83\x74\x83\x67\x95\x5c\x8e\xa6", "ソフト表示"}, {850, "\x47\x72\x94\xe1\x65", "Größe"},
        {437, "Caf\x82", "Café"}};
    for (const auto& sample : samples) {
        std::string utf8, bytes;
        EXPECT_TRUE(codec.ToUtf8(sample.page, sample.bytes, utf8) && utf8 == sample.text) << sample.page;
        EXPECT_TRUE(codec.FromUtf8(sample.page, sample.text, bytes) && bytes == sample.bytes) << sample.page;
    }
    std::string out;
    EXPECT_FALSE(codec.ToUtf8(932, "a\x81", out));        // a lead byte without its trail byte
    EXPECT_FALSE(codec.FromUtf8(866, "日", out));         // not in the page
    EXPECT_FALSE(codec.FromUtf8(1252, "\xc4\x80", out));  // 'Ā' only as a look-alike 'A'
    EXPECT_FALSE(codec.ToUtf8(65001, "a", out));
}

// As Windows does: the locale's own archive under its true names (the US one keeps CP437).
TEST_F(LegacyNames, OwnLocaleArchiveKeepsItsNames)
{
    ExpectTrueNames(locale_->archive, locale_->files, dllrun::RunOptions());
    ExpectTrueNames(locale_->archive, locale_->files, WithPage(UZ_NAMES_AS_WINDOWS));
}

// Archives from the other locales are recognised by their names.
TEST_F(LegacyNames, AutomaticFindsEveryLocalesArchive)
{
    for (const Locale& locale : kLocales)
        if (std::string(locale.name) != "en-US" || locale_ == &locale)
            ExpectTrueNames(locale.archive, locale.files, WithPage(UZ_NAMES_AUTOMATIC));
}

TEST_F(LegacyNames, ExplicitPageIsTakenAndUnknownOnesRefused)
{
    ExpectTrueNames("ru-cp866.zip", kLocales[0].files, WithPage(866));
    ExpectTrueNames("ja-cp932.zip", kLocales[2].files, WithPage(932));
    for (unsigned page : {65001u, 1200u, 65000u, 2u, 12345u}) {
        TestFolder target;
        EXPECT_EQ(UZ_BAD_ARGUMENT, dllrun::RunLibrary(Archive("ru-cp866.zip"), target.Path().c_str(), WithPage(page)))
            << page;
        EXPECT_EQ(0, dllrun::CountEntries(target.Path())) << page;
    }
}

// A Unicode Path extra counts only when its CRC-32 is of the header name as stored.
TEST_F(LegacyNames, UnicodePathExtraOnlyWhenItMatches)
{
    ExpectTrueNames("unicode-path.zip", {"Документы/Отчёт за 2023.txt", "Документы/Сводка.txt"}, WithPage(866));
}

int calls = 0;
int UZ_API RussianPassword(char* buffer, int size, const char*, const char*)
{
    ++calls;
    const std::string typed = "Пароль";
    if (static_cast<int>(typed.size()) >= size)
        return 1;
    std::memcpy(buffer, typed.c_str(), typed.size() + 1);
    return 0;
}

// An old writer on a Russian system took the password's CP866 bytes; the user types it once.
TEST_F(LegacyNames, PasswordWrittenInTheOemPageOpensOnTheFirstAnswer)
{
    if (locale_->oem != 866)
        GTEST_SKIP() << "the password is in CP866";
    TestFolder target;
    dllrun::RunOptions run;
    run.password = &RussianPassword;
    calls = 0;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(Archive("ru-zipcrypto.zip"), target.Path().c_str(), run));
    EXPECT_EQ(1, calls);
    EXPECT_EQ("secret.txt\n", dllrun::Contents(target.Child("secret.txt")));
}

}  // namespace
