// The library's volume sets name the other volumes after the file the caller named, for each way
// splitters name them, and open those that are there.
#include "tests/support/TestFolder.h"
#include "unzip32/dll/Win32Volumes.h"

#include <gtest/gtest.h>

using testsupport::TestFolder;
using unzip::VolumeNaming;
using unzip::Win32Volumes;

namespace {

// The volume's bytes, as the set reads them; "(none)" when it is not there.
std::string Contents(Win32Volumes& set, unsigned number)
{
    unzip::Source* volume = set.Volume(number);
    if (volume == nullptr)
        return "(none)";
    std::string bytes(static_cast<size_t>(volume->Size()), '\0');
    return volume->Read(0, &bytes[0], bytes.size()) ? bytes : "(unreadable)";
}

}  // namespace

TEST(Win32Volumes, EachNamingFindsItsVolumesBesideTheNamedFile)
{
    TestFolder dir;
    for (const char* name : {"photos.part01.rar", "photos.part02.rar", "old.RAR", "old.R00", "old.R01", "disk.zip",
             "disk.z01", "cut.7z.001", "cut.7z.002", "plain.zip", "plain.rar", "notes.txt", "short.01", "year.2024"})
        dir.WriteFile(name, name);
    auto open = [&](const char* name) { return Win32Volumes::ForArchive(unzip::AnsiToWide(dir.Child(name).c_str())); };

    auto parts = open("photos.part01.rar");
    ASSERT_NE(nullptr, parts);
    EXPECT_EQ(VolumeNaming::RarParts, parts->Naming());
    EXPECT_EQ("photos.part02.rar", parts->VolumeName(2));
    EXPECT_EQ("photos.part10.rar", parts->VolumeName(10));
    EXPECT_EQ("photos.part02.rar", Contents(*parts, 2));
    EXPECT_EQ("(none)", Contents(*parts, 3));
    EXPECT_EQ("photos.part123.rar", open("photos.part1.rar")->VolumeName(123));

    auto old = open("old.RAR");
    ASSERT_NE(nullptr, old);
    EXPECT_EQ(VolumeNaming::RarOld, old->Naming());
    EXPECT_EQ("old.RAR", old->VolumeName(1));
    EXPECT_EQ("old.R00", old->VolumeName(2));
    EXPECT_EQ("old.R99", old->VolumeName(101));
    EXPECT_EQ("old.S00", old->VolumeName(102));
    EXPECT_EQ("old.R01", Contents(*old, 3));

    auto spanned = open("disk.zip");
    ASSERT_NE(nullptr, spanned);
    EXPECT_EQ(VolumeNaming::ZipSpanned, spanned->Naming());
    EXPECT_EQ("disk.z01", Contents(*spanned, 1));
    EXPECT_EQ("(none)", Contents(*spanned, 2));

    auto numbered = open("cut.7z.001");
    ASSERT_NE(nullptr, numbered);
    EXPECT_EQ(VolumeNaming::Numbered, numbered->Naming());
    EXPECT_EQ("cut.7z.001", Contents(*numbered, 1));
    EXPECT_EQ("cut.7z.002", Contents(*numbered, 2));

    // A .zip without .z01 beside it, a .rar without .r00, a number not from .0001, other names: no set.
    for (const char* alone : {"plain.zip", "plain.rar", "notes.txt", "short.01", "year.2024"})
        EXPECT_EQ(nullptr, open(alone)) << alone;
}
