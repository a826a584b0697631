// UNZIP32.DLL on archives split into volumes (make_volume_archives.py, in
// KESTROVA_METHOD_ARCHIVES/volumes), named by their first volume or, for a PKZIP spanned set, by
// its .zip: each extracts byte for byte from the files beside it; with a volume missing the run
// fails with result 3, names the volume and writes nothing.
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using testsupport::TestFolder;

namespace {

class Unzip32Volumes : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* archives = std::getenv("KESTROVA_METHOD_ARCHIVES");
        if (archives == nullptr || *archives == '\0')
            GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
        folder = testsupport::FromHost(archives) + "\\volumes";
    }
    // Extracts `archive` and compares what came out with the original files.
    void ExtractsByteForByte(const std::string& archive)
    {
        TestFolder out;
        const std::string target = out.Child("out");
        EXPECT_EQ(0, dllrun::RunLibrary(folder + "\\" + archive, target.c_str())) << archive;
        EXPECT_EQ(dllrun::FileSums(folder + "\\files"), dllrun::FileSums(target)) << archive;
    }
    // Runs `named` in a copy of the volumes without `left` and expects the message naming it.
    void MissingVolumeIsNamed(
        const std::vector<std::string>& volumes, const std::string& named, const std::string& left)
    {
        TestFolder copy;
        for (const std::string& volume : volumes) {
            if (volume == left)
                continue;
            ASSERT_TRUE(::CopyFileA((folder + "\\" + volume).c_str(), copy.Child(volume).c_str(), FALSE));
        }
        const std::string target = copy.Child("out");
        EXPECT_EQ(UZ_SEVERE_ERROR, dllrun::RunLibrary(copy.Child(named), target.c_str())) << left;
        const std::vector<std::string>& printed = dllrun::Current().printed;
        const std::string expected = "error: the volume " + left + " is missing\n";
        EXPECT_NE(printed.end(), std::find(printed.begin(), printed.end(), expected)) << left;
        EXPECT_EQ(0, dllrun::CountEntries(target)) << left;
    }

    std::string folder;
};

}  // namespace

TEST_F(Unzip32Volumes, SplitAndSpannedZipExtractByteForByte)
{
    ExtractsByteForByte("split.zip.001");
    ExtractsByteForByte("spanned.zip");
}

TEST_F(Unzip32Volumes, SevenZipVolumesExtractByteForByteAndAMissingOneIsNamed)
{
    TestFolder probe;
    dllrun::RunLibrary(folder + "\\photos.7z.001", probe.Child("out").c_str());
    const std::vector<std::string>& printed = dllrun::Current().printed;
    if (std::find(printed.begin(), printed.end(), "error: 7z archives are not read yet\n") != printed.end())
        GTEST_SKIP() << "this library reads no 7z archive yet";
    ExtractsByteForByte("photos.7z.001");
    const std::vector<std::string> volumes = {"photos.7z.001", "photos.7z.002", "photos.7z.003", "photos.7z.004"};
    MissingVolumeIsNamed(volumes, "photos.7z.001", "photos.7z.004");
    MissingVolumeIsNamed(volumes, "photos.7z.001", "photos.7z.002");
}

TEST_F(Unzip32Volumes, AMissingVolumeIsNamedWithResultThreeAndNoFile)
{
    const std::vector<std::string> split = {"split.zip.001", "split.zip.002", "split.zip.003", "split.zip.004"};
    MissingVolumeIsNamed(split, "split.zip.001", "split.zip.002");
    MissingVolumeIsNamed(split, "split.zip.001", "split.zip.004");
    MissingVolumeIsNamed({"spanned.z01", "spanned.z02", "spanned.z03", "spanned.zip"}, "spanned.zip", "spanned.z02");
}
