#include "settings/ShellLink.h"
#include "settings/ShellFolders.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string Profile()
{
    const char* profile = std::getenv("USERPROFILE");
    return profile != nullptr ? profile : "";
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ThisProgram()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

class ShellLinkTest : public ::testing::Test {
protected:
    void SetUp() override { desktop = Profile() + "\\Desktop\\"; }
    void TearDown() override
    {
        for (const char* name : {"KvLinkTest.lnk", "KvLinkTest.LNK", "KvLinkTest.LNK.lnk", "KvLinkTest.lnk.lnk"})
            ::DeleteFileA((desktop + name).c_str());
    }
    std::string desktop;
};

TEST_F(ShellLinkTest, AppendsLnkOnlyWhenThePathHoldsNone)
{
    settings::ShellLink link;
    EXPECT_EQ(link.CreateShellLink(ThisProgram(), "KvLinkTest", "\\Desktop\\"), S_OK);
    EXPECT_TRUE(FileExists(desktop + "KvLinkTest.lnk"));
    ::DeleteFileA((desktop + "KvLinkTest.lnk").c_str());

    EXPECT_EQ(link.CreateShellLink(ThisProgram(), "KvLinkTest.LNK", "\\Desktop\\"), S_OK);
    EXPECT_TRUE(FileExists(desktop + "KvLinkTest.LNK"));
    EXPECT_FALSE(FileExists(desktop + "KvLinkTest.LNK.lnk"));
}

TEST_F(ShellLinkTest, MissingFolderOrProfileFailsQuietly)
{
    settings::ShellLink link;
    EXPECT_TRUE(FAILED(link.CreateShellLink(ThisProgram(), "KvLinkTest", "\\No Such Folder\\")));
    EXPECT_FALSE(FileExists(Profile() + "\\No Such Folder"));

    std::string saved = Profile();
    ::_putenv("USERPROFILE=");
    EXPECT_EQ(settings::ShellLink::ShortcutPath("\\Desktop\\"), "\\Desktop\\Kestrova.lnk");
    EXPECT_TRUE(FAILED(link.CreateShellLink(ThisProgram(), "KvLinkTest", "\\Desktop\\")));
    ::_putenv(("USERPROFILE=" + saved).c_str());
    EXPECT_FALSE(FileExists(desktop + "KvLinkTest.lnk"));
    EXPECT_EQ(settings::ShellLink::ShortcutPath("\\Desktop\\"), saved + "\\Desktop\\Kestrova.lnk");
}

TEST(ShellFolders, DesktopModuleAndVersion)
{
    EXPECT_STRCASEEQ(settings::GetDesktopFolder().c_str(), (Profile() + "\\Desktop").c_str());
    EXPECT_EQ(settings::GetProgramVersion(), "1.8.00");
    HWND window = ::CreateWindowExA(
        0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_STRCASEEQ(settings::GetModulePath(window).c_str(), ThisProgram().c_str());
    ::DestroyWindow(window);
}

}  // namespace
