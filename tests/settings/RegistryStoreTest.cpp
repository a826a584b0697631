#include "settings/RegistryAccess.h"
#include "settings/RegistryStore.h"
#include "settings/RegistryValue.h"
#include "tests/support/RegistryFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using settings::RegistryAccess;
using settings::RegistryStore;
using settings::RegistryValue;

class RegistryStoreTest : public testsupport::RegistryFixture {
protected:
    static void WriteDwordRaw(const std::string& subKey, const char* name, DWORD number)
    {
        ::SHSetValueA(HKEY_CURRENT_USER, KeyPath(subKey).c_str(), name, REG_DWORD, &number, sizeof number);
    }
    static bool KeyExists(const std::string& path)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }
};

TEST_F(RegistryStoreTest, ReadStringTrimsAndGivesEmptyTextForMissingOrNonTextValues)
{
    RegistryStore store;
    WriteRaw("Folders", "Last", " \t C:\\My Games\\ \r\n");
    EXPECT_EQ(store.ReadString("Folders", "Last"), "C:\\My Games\\");
    WriteDwordRaw("Folders", "Number", 7);
    EXPECT_EQ(store.ReadString("Folders", "Number"), "");
    EXPECT_EQ(store.ReadString("Folders", "Nothing"), "");
    EXPECT_EQ(store.ReadString("No Such Key", "Last"), "");
    WriteRaw("Folders", "Blank", "   ");
    EXPECT_EQ(store.ReadString("Folders", "Blank"), "");
}

TEST_F(RegistryStoreTest, WriteStringTrimsCreatesTheKeysAndStoresText)
{
    RegistryStore store;
    ASSERT_FALSE(KeyExists(kProgramKey));
    store.WriteString("Not To Extract", "0", "  *.bak  ");
    EXPECT_EQ(ReadRaw("Not To Extract", "0"), "*.bak");
    EXPECT_EQ(RawType("Not To Extract", "0"), static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryStoreTest, WriteNumberStoresSignedDecimalText)
{
    RegistryStore store;
    store.WriteNumber("Placement", "Top", -5);
    store.WriteNumber("Placement", "Left", 0);
    store.WriteNumber("Columns", "Explore Name", 180);
    store.WriteNumber("Columns", "Big", -2147483647 - 1);
    EXPECT_EQ(ReadRaw("Placement", "Top"), "-5");
    EXPECT_EQ(ReadRaw("Placement", "Left"), "0");
    EXPECT_EQ(ReadRaw("Columns", "Explore Name"), "180");
    EXPECT_EQ(ReadRaw("Columns", "Big"), "-2147483648");
    EXPECT_EQ(RawType("Columns", "Explore Name"), static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryStoreTest, ReadFlagIsTrueOnlyForOne)
{
    RegistryStore store;
    const struct {
        const char* stored;
        bool flag;
    } cases[] = {{"1", true}, {" 1 ", true}, {"0", false}, {"01", false}, {"yes", false}, {"", false}, {"11", false}};
    for (const auto& c : cases) {
        WriteRaw("Extract", "Title Extract", c.stored);
        EXPECT_EQ(store.ReadFlag("Extract", "Title Extract"), c.flag) << "'" << c.stored << "'";
    }
    EXPECT_FALSE(store.ReadFlag("Extract", "Missing"));
}

TEST_F(RegistryStoreTest, AnEmptySubKeyAddressesTheProgramKeyItself)
{
    RegistryStore store;
    store.WriteString("", "Version", "1.8.00");
    EXPECT_EQ(ReadRaw("", "Version"), "1.8.00");
    EXPECT_EQ(store.ReadString("", "Version"), "1.8.00");
}

TEST_F(RegistryStoreTest, DeleteEntryRemovesAValueOrAWholeTree)
{
    RegistryAccess access(HKEY_CURRENT_USER);
    const std::string base = std::string(kProgramKey) + "\\Tree";
    ASSERT_TRUE(access.WriteText(base, "keep", "a"));
    ASSERT_TRUE(access.WriteText(base, "drop", "b"));
    ASSERT_TRUE(access.WriteText(base + "\\one\\two\\three", "deep", "c"));
    ASSERT_TRUE(access.WriteText(base + "\\one\\side", "x", "d"));

    EXPECT_TRUE(access.DeleteEntry(base, "drop"));
    EXPECT_EQ(ReadRaw("Tree", "drop"), "<missing>");
    EXPECT_EQ(ReadRaw("Tree", "keep"), "a");
    EXPECT_FALSE(access.DeleteEntry(base, "drop")) << "a second delete of the value fails";

    EXPECT_TRUE(access.DeleteEntry(base, nullptr));
    EXPECT_FALSE(KeyExists(base));
    EXPECT_TRUE(KeyExists(kProgramKey));
    EXPECT_FALSE(access.DeleteEntry(base, nullptr)) << "a missing key cannot be deleted";
}

TEST_F(RegistryStoreTest, QueryKeyCountsCountsSubKeysAndValues)
{
    RegistryAccess access;
    const std::string base = std::string(kProgramKey) + "\\Counts";
    DWORD keys = 99, values = 99;
    EXPECT_FALSE(access.QueryKeyCounts(base, &keys, &values));
    EXPECT_EQ(keys, 0u);
    EXPECT_EQ(values, 0u);

    ASSERT_TRUE(access.WriteText(base + "\\Empty", "", ""));
    access.DeleteEntry(base + "\\Empty", "");
    EXPECT_FALSE(access.QueryKeyCounts(base + "\\Empty", &keys, &values)) << "an existing empty key";
    EXPECT_EQ(keys, 0u);
    EXPECT_EQ(values, 0u);

    access.WriteText(base, "a", "1");
    access.WriteText(base, "b", "2");
    EXPECT_TRUE(access.QueryKeyCounts(base, &keys, nullptr));
    EXPECT_EQ(keys, 1u);
    EXPECT_TRUE(access.QueryKeyCounts(base, nullptr, &values));
    EXPECT_EQ(values, 2u);
}

TEST_F(RegistryStoreTest, TypedValuesRoundTripThroughTheRegistry)
{
    RegistryAccess access;
    const std::string base = std::string(kProgramKey) + "\\Typed";
    ASSERT_TRUE(access.WriteDword(base, "n", 0xDEADBEEF));
    DWORD number = 0;
    EXPECT_TRUE(access.ReadDword(base, "n", number));
    EXPECT_EQ(number, 0xDEADBEEFu);
    std::string text = "untouched";
    EXPECT_FALSE(access.ReadText(base, "n", text)) << "a number is not text";
    EXPECT_EQ(text, "untouched");

    const unsigned char bytes[5] = {1, 0, 2, 0, 3};
    ASSERT_TRUE(access.WriteBinary(base, "b", bytes, sizeof bytes));
    unsigned char back[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(access.ReadBinary(base, "b", back, 4)) << "the count must match the stored size";
    EXPECT_EQ(back[0], 9);
    EXPECT_TRUE(access.ReadBinary(base, "b", back, 5));
    EXPECT_EQ(std::memcmp(back, bytes, 5), 0);

    std::vector<std::string> list {"*.bak", "", "*.tmp"};
    ASSERT_TRUE(access.WriteMultiText(base, "m", {"*.bak", "*.tmp"}));
    list.clear();
    EXPECT_TRUE(access.ReadMultiText(base, "m", list));
    EXPECT_EQ(list, (std::vector<std::string> {"*.bak", "*.tmp"}));

    std::string missing = "kept";
    EXPECT_FALSE(access.ReadText(base, "absent", missing));
    EXPECT_EQ(missing, "kept");
}

TEST(RegistryValue, BuffersAndConversions)
{
    RegistryValue empty;
    EXPECT_EQ(empty.Type(), static_cast<DWORD>(REG_NONE));
    std::string text = "x";
    EXPECT_FALSE(empty.AsText(text));

    RegistryValue list(std::vector<std::string> {});
    EXPECT_EQ(list.Type(), static_cast<DWORD>(REG_MULTI_SZ));
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list.Data()[0], 0);
    EXPECT_EQ(list.Data()[1], 0);
    std::vector<std::string> texts {"stale"};
    EXPECT_TRUE(list.AsMultiText(texts));
    EXPECT_TRUE(texts.empty());

    RegistryValue two(std::vector<std::string> {"ab", "c"});
    EXPECT_EQ(two.Size(), 3u + 2u + 1u);

    RegistryValue nullText(static_cast<const char*>(nullptr));
    EXPECT_EQ(nullText.Size(), 1u);
    EXPECT_TRUE(nullText.AsText(text));
    EXPECT_EQ(text, "");

    RegistryValue expanded;
    expanded.SetText("%TEMP%\\x", true);
    EXPECT_EQ(expanded.Type(), static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_TRUE(expanded.AsText(text));
    EXPECT_EQ(text, "%TEMP%\\x") << "references are not expanded";

    // Text without a terminating NUL (written by someone else) ends at the data's end.
    RegistryValue raw;
    BYTE* block = raw.Allocate(3);
    std::memcpy(block, "abc", 3);
    raw.SetType(REG_SZ);
    EXPECT_TRUE(raw.AsText(text));
    EXPECT_EQ(text, "abc");

    RegistryValue big(0x01020304u);
    DWORD number = 0;
    EXPECT_TRUE(big.AsDword(number));
    EXPECT_EQ(number, 0x01020304u);
    big.SetType(REG_DWORD_BIG_ENDIAN);
    EXPECT_TRUE(big.AsDword(number));
    EXPECT_EQ(number, 0x01020304u) << "taken as stored, without swapping";

    RegistryValue bytes("text");
    unsigned char out[5];
    EXPECT_FALSE(bytes.AsBinary(out, 5)) << "text is not bytes";
}

TEST(RegistryAccessRoot, SetRootSwapsAndConnectRemoteReachesThisMachine)
{
    RegistryAccess access(HKEY_CURRENT_USER);
    EXPECT_EQ(access.SetRoot(HKEY_CLASSES_ROOT), HKEY_CURRENT_USER);
    EXPECT_EQ(access.Root(), HKEY_CLASSES_ROOT);
    RegistryAccess copy(access);
    EXPECT_EQ(copy.Root(), HKEY_CLASSES_ROOT);
    EXPECT_TRUE(access.ConnectRemote(nullptr, HKEY_CURRENT_USER));
    EXPECT_NE(access.Root(), HKEY_CLASSES_ROOT);
    ::RegCloseKey(access.Root());
}

}  // namespace
