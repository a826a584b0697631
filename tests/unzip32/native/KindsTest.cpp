// The archive kinds read through libarchive (tar, its compressed forms, single compressed files,
// cpio, ISO, CAB, RAR 4 and 5) as the tools wrote them (tests/unzip32/make_kind_archives.py, in
// KESTROVA_KIND_ARCHIVES): each extracts byte for byte through the core; RAR volumes follow one
// another and a missing one is named; a stop reaches the run while data left out is decoded;
// links, unsafe names, encryption, damage and data of no known kind are refused with the reason,
// leaving no wrong file. A tar.bz2 decoded on the run's threads gives what one thread gives, and
// files written from the decoded pieces on the writer's thread are whole.
#include "tests/support/IconvNameCodec.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"
#include "unzip32/core/Volumes.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::MemoryHost;
using unzip::MemorySource;

namespace {

std::string Folder()
{
    const char* folder = std::getenv("KESTROVA_KIND_ARCHIVES");
    return folder != nullptr ? folder : "";
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The regular files under `tree` by their '/'-joined path (links are never extracted).
std::map<std::string, std::string> Tree(const fs::path& tree)
{
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(tree))
        if (fs::is_regular_file(item.symlink_status()))
            files[fs::relative(item.path(), tree).generic_string()] = ReadFile(item.path());
    return files;
}

struct KindRun {
    std::string bytes;
    std::unique_ptr<MemorySource> source;
    MemoryHost host;
    ExtractReport report;
};

// Extracts the archive `name` of the folder into memory.
void Extract(
    KindRun& run, const std::string& name, unzip::VolumeSet* volumes = nullptr, const ExtractOptions& options = {})
{
    run.bytes = ReadFile(fs::path(Folder()) / name);
    run.source = std::make_unique<MemorySource>(run.bytes.data(), run.bytes.size());
    run.host.archiveName = fs::path(name).filename().string();
    run.host.volumes = volumes;
    run.report = unzip::Extract(*run.source, run.host, options);
}

std::string Lines(const MemoryHost& host)
{
    std::string all;
    for (const std::string& line : host.lines)
        all += line;
    return all;
}

// The volumes beside a .part1.rar, from the folder; `missing` is left out.
class FolderVolumes : public unzip::VolumeSet {
public:
    FolderVolumes(std::string first, unsigned missing) : first_(std::move(first)), missing_(missing) { }
    unzip::VolumeNaming Naming() const override { return unzip::VolumeNaming::RarParts; }
    unzip::Source* Volume(unsigned number) override
    {
        if (number == missing_ || !fs::exists(fs::path(Folder()) / VolumeName(number)))
            return nullptr;
        auto& volume = volumes_[number];
        if (volume.source == nullptr) {
            volume.bytes = ReadFile(fs::path(Folder()) / VolumeName(number));
            volume.source = std::make_unique<MemorySource>(volume.bytes.data(), volume.bytes.size());
        }
        return volume.source.get();
    }
    std::string VolumeName(unsigned number) const override
    {
        std::string name = first_;
        return name.replace(name.find("part1"), 5, "part" + std::to_string(number));
    }

private:
    struct Held {
        std::string bytes;
        std::unique_ptr<MemorySource> source;
    };
    std::string first_;
    unsigned missing_;
    std::map<unsigned, Held> volumes_;
};

class Kinds : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Folder().empty())
            GTEST_SKIP() << "KESTROVA_KIND_ARCHIVES is not set";
    }
};

TEST_F(Kinds, EveryArchiveExtractsByteForByte)
{
    std::ifstream list(fs::path(Folder()) / "kinds.txt");
    std::string name, tree;
    int archives = 0;
    while (list >> name >> tree) {
        SCOPED_TRACE(name);
        ++archives;
        KindRun run;
        Extract(run, name);
        EXPECT_EQ(run.report.archiveStatus, unzip::Status::Ok) << run.report.archiveDetail;
        EXPECT_EQ(run.report.damaged + run.report.skippedUnsafe, 0) << Lines(run.host);
        EXPECT_EQ(run.host.files, Tree(fs::path(Folder()) / tree)) << Lines(run.host);
    }
    EXPECT_GE(archives, 20);
}

TEST_F(Kinds, RarVolumesFollowOneAnotherAndAMissingOneIsNamed)
{
    for (const std::string first : {"rar/rar4-volumes.part1.rar", "rar/rar5-volumes.part1.rar"}) {
        SCOPED_TRACE(first);
        FolderVolumes all(first, 0);
        KindRun whole;
        Extract(whole, first, &all);
        EXPECT_EQ(whole.report.archiveStatus, unzip::Status::Ok) << whole.report.archiveDetail;
        EXPECT_GT(whole.report.extracted, 0);
        EXPECT_EQ(whole.report.extracted, whole.report.members) << Lines(whole.host);

        FolderVolumes gap(first, 3);
        KindRun missing;
        Extract(missing, first, &gap);
        EXPECT_NE(Lines(missing.host).find(gap.VolumeName(3).substr(4) + " is missing"), std::string::npos)
            << Lines(missing.host);
        EXPECT_LT(missing.report.extracted, whole.report.extracted);
    }
}

TEST_F(Kinds, LinksUnsafeNamesAndEncryptionAreRefusedWithTheReason)
{
    KindRun links;
    Extract(links, "links.tar");
    EXPECT_EQ(links.host.files, (std::map<std::string, std::string> {{"a.txt", "first\n"}, {"b.txt", "first\n"}}));
    EXPECT_EQ(links.report.skippedUnsupported, 1);
    EXPECT_EQ(links.report.totalSize, 12u);  // the hard link's copy is output too

    KindRun hostile;
    Extract(hostile, "hostile.tar");
    EXPECT_EQ(hostile.host.files, (std::map<std::string, std::string> {{"_CON", "bad"}, {"ok.txt", "bad"}}));
    EXPECT_EQ(hostile.report.skippedUnsafe, 3) << Lines(hostile.host);

    KindRun encrypted;
    Extract(encrypted, "rar/rar4-encrypted.rar");
    EXPECT_TRUE(encrypted.host.files.empty());
    EXPECT_GE(encrypted.report.skippedEncrypted + (encrypted.report.archiveStatus == unzip::Status::Encrypted), 1);
    EXPECT_NE(Lines(encrypted.host).find("RAR encryption is not supported"), std::string::npos)
        << Lines(encrypted.host);
}

TEST_F(Kinds, LegacyNamesAreReadInTheChosenPage)
{
    kvtest::IconvNameCodec russian(866, 1251);
    KindRun run;
    run.host.names = &russian;
    Extract(run, "legacy.tar");
    EXPECT_EQ(run.host.files,
        (std::map<std::string, std::string> {{"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", "dos"}}));
}

// Names met one by one are judged together: the short ones after long ones take their page.
TEST_F(Kinds, LegacyNamesOfOneArchiveAreReadInOnePage)
{
    kvtest::IconvNameCodec russian(866, 1251);
    KindRun run;
    run.host.names = &russian;
    ExtractOptions automatic;
    automatic.namePage = unzip::kNamePageAutomatic;
    Extract(run, "legacy-1251.tar", nullptr, automatic);
    EXPECT_EQ(run.host.files,
        (std::map<std::string, std::string> {
            {"Документы/Отчёт за 2023.txt", "ru"}, {"Документы/Я.txt", "ru"}, {"Ёж.txt", "ru"}}));
}

// A host that stops the run at its third Service call.
class StopAtThirdService : public MemoryHost {
public:
    bool Service(const std::string&, uint64_t) override { return ++services == 3; }
    int services = 0;
};

// A member left out of solid data (a 7z block, a compressed tar) is still decoded to reach the one
// after it: Service is asked on the way, and a stop asked for there ends the run before that one.
TEST_F(Kinds, AStopReachesTheRunWhileDataLeftOutIsDecoded)
{
    ExtractOptions options;
    options.exclude = {"big.bin"};
    for (const char* name : {"passover.tar.gz", "passover.tar.xz", "passover.tar.zst", "passover.7z"}) {
        SCOPED_TRACE(name);
        const std::string bytes = ReadFile(fs::path(Folder()) / name);
        MemorySource source(bytes.data(), bytes.size());
        StopAtThirdService stopping;
        const ExtractReport stopped = unzip::Extract(source, stopping, options);
        EXPECT_TRUE(stopped.stopped);
        EXPECT_EQ(stopping.services, 3);
        EXPECT_TRUE(stopping.files.empty()) << Lines(stopping);

        KindRun whole;
        Extract(whole, name, nullptr, options);
        EXPECT_FALSE(whole.report.stopped);
        EXPECT_EQ(whole.report.excluded, 1);
        EXPECT_EQ(whole.host.files, (std::map<std::string, std::string> {{"small.txt", "after the big one\n"}}))
            << Lines(whole.host);
    }
}

// Damage that only the compressed stream's last check shows (gzip's trailer, xz's footer): the
// last member is never left, nor the member read last before the failure; those before stay exact,
// as bsdtar keeps them.
TEST_F(Kinds, AFailedStreamCheckLeavesNoFileOfTheLastMember)
{
    const auto originals = Tree(fs::path(Folder()) / "files");
    for (const auto& pair : std::map<std::string, std::string> {{"badcheck.tar.gz", "tar-pax.tar.gz"},
             {"cutcheck.tar.gz", "tar-pax.tar.gz"}, {"badcheck.tar.xz", "tar-pax.tar.xz"}}) {
        SCOPED_TRACE(pair.first);
        KindRun good;
        Extract(good, pair.second);
        std::string last;
        for (const std::string& line : good.host.lines)
            if (line.rfind("  inflating: ./", 0) == 0)
                last = line.substr(15, line.size() - 16);
        ASSERT_EQ(originals.count(last), 1u) << Lines(good.host);

        KindRun run;
        Extract(run, pair.first);
        EXPECT_EQ(run.host.files.count(last), 0u) << Lines(run.host);
        EXPECT_LT(run.host.files.size(), originals.size());
        for (const auto& file : run.host.files)
            EXPECT_EQ(file.second, originals.at(file.first)) << file.first;
        EXPECT_GE(run.report.damaged, 1) << Lines(run.host);
        EXPECT_NE(Lines(run.host).find("skipping: ./"), std::string::npos) << Lines(run.host);
    }
}

TEST_F(Kinds, DamageTruncationAndUnknownDataGiveAMessageAndNoWrongFile)
{
    const auto originals = Tree(fs::path(Folder()) / "files");
    for (const std::string name : {"damaged.tar.gz", "truncated.tar.xz"}) {
        SCOPED_TRACE(name);
        KindRun run;
        Extract(run, name);
        EXPECT_TRUE(run.report.damaged > 0 || run.report.archiveStatus != unzip::Status::Ok);
        EXPECT_NE(Lines(run.host).find("error: "), std::string::npos) << Lines(run.host);
        for (const auto& file : run.host.files)
            EXPECT_EQ(file.second, originals.at(file.first)) << file.first;
    }

    std::string noise(70000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919u) >> 3);
    for (const std::string& bytes : {noise, std::string("plain text, no archive\n")}) {
        MemorySource source(bytes.data(), bytes.size());
        MemoryHost host;
        const ExtractReport report = unzip::Extract(source, host, {});
        EXPECT_EQ(report.archiveStatus, unzip::Status::NotAnArchive) << report.archiveDetail;
        EXPECT_TRUE(host.files.empty());
    }
}

}  // namespace

namespace {

// Extracts `packed` and `damaged` with no threads and with two: both runs give the same files and
// counts; the sound archive gives `files`, the damaged one leaves out its big member.
void CompareRuns(const std::string& packed, const std::string& damaged,
    const std::vector<std::pair<std::string, std::string>>& files, const std::string& name)
{
    for (const std::string* bytes : {&packed, &damaged}) {
        std::map<std::string, std::string> outcome[2];
        ExtractReport reports[2];
        for (unsigned threads : {0u, 2u}) {
            MemorySource source(bytes->data(), bytes->size());
            MemoryHost host;
            host.archiveName = name;
            unzip::StdWorkerThreads workers;
            ExtractOptions options;
            options.threads = threads;
            options.workers = threads > 0 ? &workers : nullptr;
            reports[threads / 2] = unzip::Extract(source, host, options);
            outcome[threads / 2] = host.files;
        }
        EXPECT_EQ(outcome[0], outcome[1]);
        EXPECT_EQ(reports[0].archiveStatus, reports[1].archiveStatus);
        EXPECT_EQ(reports[0].damaged, reports[1].damaged);
        if (bytes == &packed) {
            EXPECT_EQ(outcome[1], (std::map<std::string, std::string>(files.begin(), files.end())));
        } else {
            EXPECT_EQ(outcome[1].count("big.log"), 0u);
            EXPECT_TRUE(reports[1].damaged > 0 || reports[1].archiveStatus != unzip::Status::Ok);
        }
    }
}

// Writes as MemoryHost does, each piece after a pause: the reader decodes far ahead of the writer.
class SlowHost : public MemoryHost {
public:
    unzip::Status CreateOutput(const std::vector<std::string>& parts, const unzip::Entry& entry,
        std::unique_ptr<unzip::OutputFile>& file) override
    {
        const unzip::Status made = MemoryHost::CreateOutput(parts, entry, file);
        if (made == unzip::Status::Ok)
            file = std::make_unique<Slow>(std::move(file));
        return made;
    }

private:
    class Slow : public unzip::OutputFile {
    public:
        explicit Slow(std::unique_ptr<unzip::OutputFile> file) : file_(std::move(file)) { }
        unzip::Status Write(const uint8_t* data, size_t count) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return file_->Write(data, count);
        }
        unzip::Status Commit(const unzip::Entry& entry) override { return file_->Commit(entry); }
        void Abandon() override { file_->Abandon(); }

    private:
        std::unique_ptr<unzip::OutputFile> file_;
    };
};

}  // namespace

// The members' data is written on the run's writer thread straight from the pieces the stream was
// decoded into, and a piece is decoded into again only once written: with a writer far slower
// than the decoder (which then runs out of pieces to lend and has its data copied), every file is
// as a run without threads writes it, also the ones whose data straddles two pieces, and damage
// that ends the run still leaves no wrong file.
TEST(KindsOnThreads, FilesWrittenFromTheDecodedPiecesAreWhole)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 100; ++i)
        files.push_back({"f" + std::to_string(i) + ".txt", ziptest::Text(150000 + 4099 * static_cast<size_t>(i), static_cast<uint32_t>(i))});
    const std::string tar = ziptest::Tar(files);
    ASSERT_GT(tar.size(), 32u << 20) << "more than the pieces the reader lends";
    const std::string packed = ziptest::Gzip(tar, nullptr, 1);
    std::string damaged = packed;
    damaged[damaged.size() * 3 / 4] = static_cast<char>(damaged[damaged.size() * 3 / 4] ^ 0x10);
    for (const std::string* bytes : {&packed, static_cast<const std::string*>(&damaged)}) {
        SCOPED_TRACE(bytes == &packed ? "sound" : "damaged");
        std::map<std::string, std::string> alone;
        {
            MemorySource source(bytes->data(), bytes->size());
            MemoryHost host;
            host.archiveName = "texts.tar.gz";
            unzip::Extract(source, host, ExtractOptions());
            alone = host.files;
        }
        MemorySource source(bytes->data(), bytes->size());
        SlowHost host;
        host.archiveName = "texts.tar.gz";
        unzip::StdWorkerThreads workers;
        ExtractOptions options;
        options.threads = 2;
        options.workers = &workers;
        const ExtractReport report = unzip::Extract(source, host, options);
        EXPECT_TRUE(host.files == alone);
        if (bytes == &packed) {
            EXPECT_EQ(report.archiveStatus, unzip::Status::Ok);
            EXPECT_TRUE(host.files == (std::map<std::string, std::string>(files.begin(), files.end())));
        } else {
            EXPECT_TRUE(report.damaged > 0 || report.archiveStatus != unzip::Status::Ok);
            EXPECT_LT(host.files.size(), files.size());
        }
    }
}

// A tar.bz2 with 4 MiB and more of data is decoded block by block on the run's threads (a helper
// and the reading thread), a tar.gz with 16 MiB and more inflated in chunks there: the files are
// those of a run with no threads, which decodes the stream on one. Damage in the middle of the
// stream fails both runs alike, keeping no wrong file.
TEST(KindsOnThreads, ATarBz2AndATarGzDecodeOnTheRunsThreadsAsOnOne)
{
    // bzip2: letters at random, with spaces and line ends (about 5 bits a byte once compressed).
    // gzip: bytes at random, which deflate stores.
    uint32_t seed = 5;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    std::string letters, bytes;
    while (letters.size() < (8u << 20)) {
        const unsigned pick = next() % 40;
        letters += pick < 26 ? static_cast<char>('a' + pick) : pick < 39 ? ' ' : '\n';
    }
    while (bytes.size() < (17u << 20))
        bytes += static_cast<char>(next());
    for (const bool gzip : {false, true}) {
        SCOPED_TRACE(gzip ? "tar.gz" : "tar.bz2");
        const std::vector<std::pair<std::string, std::string>> files = {
            {"big.log", gzip ? bytes : letters}, {"after.txt", "what comes after the big one\n"}};
        const std::string tar = ziptest::Tar(files);
        std::string packed;
        if (gzip) {
            packed = ziptest::Gzip(tar, nullptr, 1);
        } else {
            packed.resize(tar.size() + tar.size() / 100 + 600);
            unsigned size = static_cast<unsigned>(packed.size());
            ASSERT_EQ(BZ_OK,
                BZ2_bzBuffToBuffCompress(
                    &packed[0], &size, const_cast<char*>(tar.data()), static_cast<unsigned>(tar.size()), 9, 0, 0));
            packed.resize(size);
        }
        ASSERT_GE(packed.size(), (gzip ? 16u : 4u) << 20) << "enough for helpers";
        std::string damaged = packed;
        damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x04);
        CompareRuns(packed, damaged, files, gzip ? "logs.tar.gz" : "logs.tar.bz2");
    }
}
