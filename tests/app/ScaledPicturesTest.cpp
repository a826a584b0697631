#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/ScaledPictures.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ProcessWindows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using fw::ScaledPictures;

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info {};
    if (bitmap == nullptr || ::GetObjectA(bitmap, sizeof info, &info) == 0)
        return SIZE {-1, -1};
    return SIZE {info.bmWidth, info.bmHeight};
}

SIZE IconSize(HICON icon)
{
    ICONINFO info {};
    if (icon == nullptr || !::GetIconInfo(icon, &info))
        return SIZE {-1, -1};
    SIZE size = BitmapSize(info.hbmColor);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    return size;
}

std::vector<unsigned char> Pixels(HBITMAP bitmap)
{
    BITMAP info {};
    ::GetObjectA(bitmap, sizeof info, &info);
    std::vector<unsigned char> bits(static_cast<size_t>(info.bmWidthBytes) * static_cast<size_t>(info.bmHeight));
    ::GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data());
    return bits;
}

// A picture of the 96-DPI design with its size there.
struct Picture {
    int id;
    int width, height;
};
const Picture kPictures[] = {
    {IDB_OPTIONS, 16, 16}, {IDB_UP, 26, 24}, {IDB_DESKTOP, 26, 24}, {IDB_DELETE, 26, 24}, {IDB_REFRESH, 26, 24},
    {IDB_SEARCH, 26, 24}, {IDB_EXECUTE, 26, 24}, {IDB_EMAIL, 16, 16}, {IDB_WEBSITE, 16, 16}, {IDB_UP_ROOT, 26, 24},
    {IDB_VIEW, 26, 24}, {IDB_LOCATION_HEADING, 290, 15}, {IDB_QUICK_ACCESS_HEADING, 290, 15},
    {IDB_MASKS_HEADING, 290, 15}, {IDB_ABOUT_HEADING, 290, 15},
};

// Expects every picture the window shows to come from the set for `dpi`: each button's and
// heading's bitmap at that set's size, the icons at the sizes Windows uses at `dpi`.
void ExpectPicturesFor(const app::MainWindow& window, UINT dpi)
{
    const UINT setDpi = ScaledPictures::kSetDpi[ScaledPictures::SetFor(dpi)];
    const std::pair<const fw::Button*, int> buttons[] = {
        {&window.upButton, 26}, {&window.refreshButton, 26}, {&window.desktopButton, 26},
        {&window.searchButton, 26}, {&window.deleteButton, 26}, {&window.viewButton, 26},
        {&window.executeButton, 26}, {&window.optionsButton, 16}, {&window.websiteButton, 16},
        {&window.emailButton, 16},
    };
    for (const auto& button : buttons) {
        const int height = button.second == 26 ? 24 : 16;
        SIZE size = BitmapSize(button.first->GetBitmap());
        EXPECT_EQ(size.cx, fw::ScaleForDpi(button.second, setDpi)) << dpi << " DPI, button " << button.first->GetText();
        EXPECT_EQ(size.cy, fw::ScaleForDpi(height, setDpi)) << dpi << " DPI, button " << button.first->GetText();
    }
    const settings::SettingsDialog& settings = app::Settings();
    for (const fw::Static* heading :
        {&settings.locationHeading, &settings.quickAccessHeading, &settings.masksHeading, &settings.aboutHeading}) {
        SIZE size = BitmapSize(reinterpret_cast<HBITMAP>(heading->Send(STM_GETIMAGE, IMAGE_BITMAP)));
        EXPECT_EQ(size.cx, fw::ScaleForDpi(290, setDpi)) << dpi << " DPI";
        EXPECT_EQ(size.cy, fw::ScaleForDpi(15, setDpi)) << dpi << " DPI";
    }
    for (bool big : {true, false}) {
        SIZE size = IconSize(reinterpret_cast<HICON>(window.Send(WM_GETICON, big ? ICON_BIG : ICON_SMALL)));
        EXPECT_EQ(size.cx, ScaledPictures::IconSize(dpi, big)) << dpi << " DPI, big " << big;
        EXPECT_EQ(size.cy, ScaledPictures::IconSize(dpi, big)) << dpi << " DPI, big " << big;
    }
}

// Every picture of every set is among the resources, drawn at its set's size (a missing line in
// the resource script or a file of the wrong scale shows here).
TEST(ScaledPicturesResources, EverySetHoldsEveryPictureAtItsScale)
{
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    for (int set = 0; set < ScaledPictures::kSets; ++set) {
        const UINT dpi = ScaledPictures::kSetDpi[set];
        for (const Picture& picture : kPictures) {
            fw::OwnedBitmap bitmap(static_cast<HBITMAP>(::LoadImageA(
                instance, MAKEINTRESOURCEA(ScaledPictures::PictureId(picture.id, set)), IMAGE_BITMAP, 0, 0, 0)));
            SIZE size = BitmapSize(bitmap);
            EXPECT_EQ(size.cx, fw::ScaleForDpi(picture.width, dpi)) << "picture " << picture.id << ", set " << set;
            EXPECT_EQ(size.cy, fw::ScaleForDpi(picture.height, dpi)) << "picture " << picture.id << ", set " << set;
        }
    }
}

class ScaledPicturesTest : public testsupport::OpenMainWindowFixture { };

// Moving between scales reloads every picture, in either direction, and the headings keep their
// places.
TEST_F(ScaledPicturesTest, LoadPicturesShowsTheSetNearestTheDpi)
{
    ExpectPicturesFor(*window, fw::WindowDpi(*window));
    const settings::SettingsDialog& settings = app::Settings();
    const RECT heading = testsupport::RectInParent(settings.locationHeading);
    for (UINT dpi : {120u, 144u, 192u, 96u, 130u, 170u, 288u, 96u}) {
        window->LoadPictures(dpi);
        ExpectPicturesFor(*window, dpi);
        RECT now = testsupport::RectInParent(settings.locationHeading);
        EXPECT_TRUE(::EqualRect(&now, &heading)) << "the heading keeps its place at " << dpi << " DPI";
    }
}

// In a drive's root Up shows the greyed picture, and still does after a change of scale.
TEST_F(ScaledPicturesTest, UpKeepsItsRootPictureAcrossAChangeOfScale)
{
    window->NavigateTo("C:\\");
    window->LoadPictures(144);
    fw::OwnedBitmap root(static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr),
        MAKEINTRESOURCEA(IDB_SCALED(IDB_UP_ROOT, 2)), IMAGE_BITMAP, 0, 0, 0)));
    EXPECT_EQ(Pixels(window->upButton.GetBitmap()), Pixels(root));
    window->NavigateTo("C:\\windows\\");
    window->LoadPictures(192);
    fw::OwnedBitmap up(static_cast<HBITMAP>(::LoadImageA(
        ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_SCALED(IDB_UP, 3)), IMAGE_BITMAP, 0, 0, 0)));
    EXPECT_EQ(Pixels(window->upButton.GetBitmap()), Pixels(up));
}

// The window opened by a program at the system's DPI shows that DPI's set from the start. Wine
// reads LogPixels when a program starts, so each DPI runs in a child copy of this test program
// (ScaledPicturesAtStart below), with the prefix's LogPixels set meanwhile and put back after.
class LogPixels {
public:
    LogPixels() : desktop_(Read(kDesktop)), fonts_(Read(kFonts)) { }
    ~LogPixels()
    {
        Restore(kDesktop, desktop_);
        Restore(kFonts, fonts_);
    }
    bool Set(DWORD dpi) { return Write(kDesktop, dpi) && Write(kFonts, dpi); }

private:
    static constexpr const char* kDesktop = "Control Panel\\Desktop";
    static constexpr const char* kFonts = "Software\\Wine\\Fonts";
    struct Value {
        bool present = false;
        DWORD dpi = 0;
    };
    static Value Read(const char* key)
    {
        Value value;
        DWORD size = sizeof value.dpi;
        value.present = ::RegGetValueA(HKEY_CURRENT_USER, key, "LogPixels", RRF_RT_REG_DWORD, nullptr, &value.dpi,
                            &size) == ERROR_SUCCESS;
        return value;
    }
    static bool Write(const char* key, DWORD dpi)
    {
        return ::RegSetKeyValueA(HKEY_CURRENT_USER, key, "LogPixels", REG_DWORD, &dpi, sizeof dpi) == ERROR_SUCCESS;
    }
    static void Restore(const char* key, const Value& value)
    {
        if (value.present)
            Write(key, value.dpi);
        else
            ::RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "LogPixels");
    }
    Value desktop_, fonts_;
};

const char kExpectedDpi[] = "KESTROVA_TEST_SYSTEM_DPI";

TEST(ScaledPicturesAtSystemDpi, AWindowOpenedAtEachDpiShowsItsSet)
{
    if (std::getenv(kExpectedDpi) != nullptr)
        GTEST_SKIP() << "the child's own run";
    LogPixels logPixels;
    for (DWORD dpi : {120u, 144u, 192u, 96u}) {
        ASSERT_TRUE(logPixels.Set(dpi));
        testsupport::ChildProcess child;
        ASSERT_TRUE(child.StartCommand("\"" + testsupport::ThisProgram() + "\" --gtest_filter=ScaledPicturesAtStart.*",
            std::string(), kExpectedDpi, std::to_string(dpi)))
            << dpi << " DPI: error " << child.StartError();
        DWORD exitCode = 99;
        ASSERT_TRUE(child.WaitForExit(120000, exitCode)) << dpi << " DPI";
        EXPECT_EQ(exitCode, 0u) << "the window at " << dpi << " DPI (see the child's output above)";
    }
}

class ScaledPicturesAtStart : public testsupport::MainWindowFixture { };

TEST_F(ScaledPicturesAtStart, ShowsTheSetOfTheSystemDpi)
{
    const char* expected = std::getenv(kExpectedDpi);
    if (expected == nullptr)
        GTEST_SKIP() << "runs as a child of ScaledPicturesAtSystemDpi";
    const UINT dpi = static_cast<UINT>(std::atoi(expected));
    // As the program's manifest declares it: per-monitor aware, version 2 where there is one.
    using SetContextFunction = BOOL(WINAPI*)(HANDLE);
    auto setContext = reinterpret_cast<SetContextFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))))
        ::SetProcessDPIAware();
    ASSERT_TRUE(Open());
    ASSERT_EQ(fw::WindowDpi(*window), dpi);
    ExpectPicturesFor(*window, dpi);
}

}  // namespace
