#include "framework/FileIconCache.h"

#include <windows.h>

#include <commctrl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using fw::FileIconCache;

const char kTestExtension[] = ".kvx";
const char kTestClass[] = "Kestrova.TestIconFile";
const COLORREF kTestColour = RGB(200, 30, 40);

// Writes a .ico file with a 16 x 16 and a 32 x 32 image of one solid colour.
void WriteSolidIcon(const std::string& path, COLORREF colour)
{
    const int sizes[2] = {16, 32};
    std::vector<uint8_t> images[2];
    for (int i = 0; i < 2; ++i) {
        int n = sizes[i];
        BITMAPINFOHEADER header {};
        header.biSize = sizeof header;
        header.biWidth = n;
        header.biHeight = n * 2;  // colour rows, then the mask rows
        header.biPlanes = 1;
        header.biBitCount = 32;
        std::vector<uint8_t>& data = images[i];
        data.resize(sizeof header);
        std::memcpy(data.data(), &header, sizeof header);
        for (int p = 0; p < n * n; ++p) {
            data.push_back(GetBValue(colour));
            data.push_back(GetGValue(colour));
            data.push_back(GetRValue(colour));
            data.push_back(0xFF);
        }
        int maskRow = ((n + 31) / 32) * 4;
        data.insert(data.end(), static_cast<size_t>(maskRow * n), 0);
    }
    std::vector<uint8_t> file = {0, 0, 1, 0, 2, 0};
    uint32_t offset = 6 + 16 * 2;
    for (int i = 0; i < 2; ++i) {
        uint32_t size = static_cast<uint32_t>(images[i].size());
        uint8_t entry[16] = {static_cast<uint8_t>(sizes[i]), static_cast<uint8_t>(sizes[i]), 0, 0, 1, 0, 32, 0};
        std::memcpy(entry + 8, &size, 4);
        std::memcpy(entry + 12, &offset, 4);
        file.insert(file.end(), entry, entry + 16);
        offset += size;
    }
    for (auto& image : images)
        file.insert(file.end(), image.begin(), image.end());
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(handle, file.data(), static_cast<DWORD>(file.size()), &written, nullptr);
    ::CloseHandle(handle);
}

struct IconPixels {
    int width = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, alpha cleared
    bool operator==(const IconPixels& other) const { return width == other.width && pixels == other.pixels; }
};

IconPixels ReadIcon(HICON icon)
{
    IconPixels result;
    ICONINFO info {};
    if (icon == nullptr || !::GetIconInfo(icon, &info))
        return result;
    BITMAP bitmap {};
    ::GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    result.width = bitmap.bmWidth;
    BITMAPINFO request {};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = bitmap.bmWidth;
    request.bmiHeader.biHeight = -bitmap.bmHeight;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    result.pixels.resize(static_cast<size_t>(bitmap.bmWidth) * static_cast<size_t>(bitmap.bmHeight));
    HDC dc = ::GetDC(nullptr);
    ::GetDIBits(
        dc, info.hbmColor, 0, static_cast<UINT>(bitmap.bmHeight), result.pixels.data(), &request, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, dc);
    for (uint32_t& pixel : result.pixels)
        pixel &= 0x00FFFFFF;
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    return result;
}

IconPixels ShellIcon(int index, bool smallSize)
{
    HICON large = nullptr;
    HICON smallIcon = nullptr;
    ::ExtractIconExA("shell32.dll", index, &large, &smallIcon, 1);
    IconPixels pixels = ReadIcon(smallSize ? smallIcon : large);
    ::DestroyIcon(large);
    ::DestroyIcon(smallIcon);
    return pixels;
}

// Takes ownership of an icon so that every path of a test frees it.
struct IconHolder {
    explicit IconHolder(HICON icon) : handle(icon) { }
    ~IconHolder()
    {
        if (handle != nullptr)
            ::DestroyIcon(handle);
    }
    HICON handle;
};

IconPixels Loaded(FileIconCache& cache, const std::string& extension)
{
    IconHolder icon(cache.LoadIconForExtension(extension));
    return ReadIcon(icon.handle);
}

// Registers a test extension under HKEY_CLASSES_ROOT whose icon is a red .ico file of its own,
// and removes the registration afterwards.
class FileIconCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        iconPath = std::string(temp) + "kv_icon_test.ico";
        WriteSolidIcon(iconPath, kTestColour);
    }
    static void TearDownTestSuite() { ::DeleteFileA(iconPath.c_str()); }
    void SetUp() override { Register(iconPath); }
    void TearDown() override
    {
        ::SHDeleteKeyA(HKEY_CLASSES_ROOT, kTestExtension);
        ::SHDeleteKeyA(HKEY_CLASSES_ROOT, kTestClass);
    }
    static void Register(const std::string& defaultIcon)
    {
        ::SHSetValueA(
            HKEY_CLASSES_ROOT, kTestExtension, nullptr, REG_SZ, kTestClass, static_cast<DWORD>(sizeof kTestClass));
        std::string key = std::string(kTestClass) + "\\DefaultIcon";
        ::SHSetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, defaultIcon.c_str(),
            static_cast<DWORD>(defaultIcon.size() + 1));
    }
    static IconPixels Solid(int width)
    {
        IconPixels pixels;
        pixels.width = width;
        uint32_t value = (static_cast<uint32_t>(GetRValue(kTestColour)) << 16) |
            (static_cast<uint32_t>(GetGValue(kTestColour)) << 8) | GetBValue(kTestColour);
        pixels.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(width), value);
        return pixels;
    }
    static std::string iconPath;
};
std::string FileIconCacheTest::iconPath;

TEST(FileIconCacheLookup, NormalisesMasksNamesAndBareExtensions)
{
    EXPECT_EQ(FileIconCache::LookupExtension("*.TXT"), ".txt");
    EXPECT_EQ(FileIconCache::LookupExtension(".TXT"), ".txt");
    EXPECT_EQ(FileIconCache::LookupExtension("readme.TXT"), ".txt");
    EXPECT_EQ(FileIconCache::LookupExtension("  *.Zip "), ".zip");
    EXPECT_EQ(FileIconCache::LookupExtension("TXT"), ".TXT") << "three characters or fewer keep their case";
    EXPECT_EQ(FileIconCache::LookupExtension("txt"), ".txt");
    EXPECT_EQ(FileIconCache::LookupExtension(".c"), ".c");
    EXPECT_EQ(FileIconCache::LookupExtension(""), ".");
    EXPECT_EQ(FileIconCache::LookupExtension("html"), ".") << "a longer text without a dot has no extension";
    EXPECT_EQ(FileIconCache::LookupExtension("*.*"), ".");
}

TEST_F(FileIconCacheTest, ReadsTheClassAndItsDefaultIconFromClassesRoot)
{
    EXPECT_EQ(FileIconCache::ReadClassesRootDefault(kTestExtension), kTestClass);
    EXPECT_EQ(FileIconCache::ReadClassesRootDefault(std::string(kTestClass) + "\\DefaultIcon"), iconPath);
    EXPECT_EQ(FileIconCache::ReadClassesRootDefault(".no-such-extension-kv"), "");
    Register("  " + iconPath + "  ");
    EXPECT_EQ(FileIconCache::ReadClassesRootDefault(std::string(kTestClass) + "\\DefaultIcon"), iconPath);
}

TEST_F(FileIconCacheTest, EveryFormOfAnExtensionFindsItsRegisteredIcon)
{
    FileIconCache cache;
    for (const char* form : {"*.KVX", ".KVX", "readme.KVX", "KVX", "kvx", " *.kvx "})
        EXPECT_EQ(Loaded(cache, form), Solid(16)) << form;
    cache.AttachSystemList(FileIconCache::kLargeIcons);
    EXPECT_EQ(Loaded(cache, "*.kvx"), Solid(32)) << "large icons after attaching the large list";
    // A longer name without a dot looks up "." instead.
    EXPECT_EQ(Loaded(cache, "READMEKVX"), ShellIcon(0, false));
}

TEST_F(FileIconCacheTest, IconLocationIndexFollowsTheLastComma)
{
    FileIconCache cache;
    Register("shell32.dll,3");
    EXPECT_EQ(Loaded(cache, "*.kvx"), ShellIcon(3, true));
    EXPECT_FALSE(ShellIcon(3, true) == ShellIcon(0, true)) << "the test needs two different shell icons";
    Register(iconPath + ",0");
    EXPECT_EQ(Loaded(cache, "*.kvx"), Solid(16));
}

TEST_F(FileIconCacheTest, UnusableRegistrationsFallBackToTheFirstShellIcon)
{
    FileIconCache cache;
    IconPixels fallback = ShellIcon(0, true);
    ASSERT_FALSE(fallback.pixels.empty());
    for (const char* location : {"%1", "C:\\no\\such\\viewer.exe,2", "", ",5"}) {
        Register(location);
        EXPECT_EQ(Loaded(cache, "*.kvx"), fallback) << location;
    }
    Register(iconPath + ",7");
    EXPECT_EQ(Loaded(cache, "*.kvx"), fallback) << "an index the file does not have";
    EXPECT_EQ(Loaded(cache, "*.no-such-extension-kv"), fallback);
    EXPECT_EQ(Loaded(cache, ""), fallback);
}

TEST_F(FileIconCacheTest, EveryAddAppendsANewImage)
{
    FileIconCache cache;
    int before = cache.GetCount();
    int first = cache.AddIconForExtension("*.kvx");
    int second = cache.AddIconForExtension("*.kvx");
    EXPECT_GE(first, 0);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(cache.GetCount(), before + 2);
    IconHolder stored(::ImageList_GetIcon(cache, second, ILD_NORMAL));
    EXPECT_EQ(ReadIcon(stored.handle), Solid(16));
}

TEST(FileIconCacheSystemList, AttachesTheShellsSystemListsAndNeverDestroysThem)
{
    SHFILEINFOA info {};
    HIMAGELIST smallList = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &info, sizeof info, 0x4001));
    HIMAGELIST largeList = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &info, sizeof info, 0x4000));
    ASSERT_NE(smallList, nullptr);
    ASSERT_NE(smallList, largeList);

    FileIconCache survivor;
    EXPECT_EQ(survivor.Handle(), smallList);
    EXPECT_EQ(survivor.Flags(), 0x4001u);
    {
        auto other = std::make_unique<FileIconCache>();
        EXPECT_TRUE(other->AttachSystemList(0x4000));
        EXPECT_EQ(other->Handle(), largeList);
        int width = 0, height = 0;
        ::ImageList_GetIconSize(*other, &width, &height);
        EXPECT_EQ(width, ::GetSystemMetrics(SM_CXICON));
    }
    // Both lists are still alive after a cache on each was destroyed.
    EXPECT_GT(::ImageList_GetImageCount(smallList), 0);
    EXPECT_GT(::ImageList_GetImageCount(largeList), 0);
    EXPECT_GE(survivor.AddIconForExtension("*.txt"), 0);
}

TEST(FileIconCacheSystemList, SystemIndexMatchesTheShellsAnswerForExistingPaths)
{
    char windows[MAX_PATH] = {};
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    FileIconCache cache;
    SHFILEINFOA info {};
    ::SHGetFileInfoA(windows, 0, &info, sizeof info, 0x4001);
    EXPECT_EQ(cache.GetSystemIconIndex(windows), info.iIcon);
    ::SHGetFileInfoA("C:\\", 0, &info, sizeof info, 0x4001);
    EXPECT_EQ(cache.GetSystemIconIndex("C:\\"), info.iIcon);
    EXPECT_NE(cache.GetSystemIconIndex(windows), cache.GetSystemIconIndex("C:\\")) << "folder and drive differ";
}

}  // namespace
