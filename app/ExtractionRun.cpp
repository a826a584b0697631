#include "app/ExtractionRun.h"

#include "app/ProcessObjects.h"
#include "engine/PathInfo.h"
#include "framework/FileSystem.h"
#include "framework/Owned.h"
#include "unzip32/unzip32.h"

#include <algorithm>
#include <cstdlib>

namespace app {

using engine::PathInfo;

namespace {

std::vector<char*> MaskPointers(const std::vector<std::string>& masks)
{
    std::vector<char*> pointers;
    pointers.reserve(masks.size());
    for (const std::string& mask : masks)
        pointers.push_back(const_cast<char*>(mask.c_str()));
    return pointers;
}

}  // namespace

bool MainWindow::Run::AtMember(const char* name, unsigned long size)
{
    if (!listing) {
        if (memberSize == size && memberName == name) {
            ++memberSteps;
        } else {
            reached += memberSize;
            memberName = name;
            memberSize = size;
            memberSteps = 0;
        }
        if (total > 0) {
            const unsigned long long inMember = std::min<unsigned long long>(memberSteps * UZ_SERVICE_STEP, size);
            PublishProgress(static_cast<int>(std::min<unsigned long long>((reached + inMember) * 1000 / total, 1000)));
        }
    }
    return stop.load();
}

void MainWindow::Run::PublishProgress(int permille)
{
    archivePermille = permille;
    if (!progressPosted.exchange(true))
        window.Post(kRunProgressMessage);
}

bool MainWindow::Run::ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top)
{
    engine::UnzipEngine engine;
    engine.SetListener(this);
    listing = true;
    const bool listed =
        engine.Unzip(path, nullptr, masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), true) == 1;
    listing = false;
    if (!listed)
        return false;
    std::vector<std::string> names;
    for (int i = 0; i < engine.GetMemberCount(); ++i) {
        names.push_back(engine.GetMemberName(i));
        total += std::strtoull(engine.GetMemberSize(i).c_str(), nullptr, 10);
    }
    return OneTopLevelEntry(names, &top);
}

void MainWindow::Run::ExtractAll()
{
    // Each engine still loads and unloads the library by name; held for the run, it stays mapped
    // in between, instead of being mapped and set up twice for every archive.
    fw::OwnedModule held(::LoadLibraryA("UNZIP32.DLL"));
    std::vector<char*> masks = MaskPointers(options.excludeMasks);
    for (size_t i = 0; i < paths.size() && !stop.load(); ++i) {
        archiveIndex = static_cast<int>(i);
        total = reached = memberSteps = 0;
        memberName.clear();
        memberSize = 0;
        PublishProgress(0);
        const std::string& path = paths[i];
        PathInfo archive(path);
        if (!archive.IsZipArchive())
            continue;
        std::string top;
        bool single = ListArchive(path, masks, top);
        if (stop.load()) {
            summary.Add(path, UZ_STOPPED);
            break;
        }
        // Without its own folder the archive's one entry would merge into, or replace, what the
        // user already has of that name: then it goes into the title folder as usual.
        if (single &&
            fw::FileAttributes(ExtractionDestination(archive, options, chosen, true) + "\\" + top) !=
                INVALID_FILE_ATTRIBUTES)
            single = false;
        std::string destination = ExtractionDestination(archive, options, chosen, single);
        const bool created = fw::CreateFolder(destination);
        engine::UnzipEngine engine;
        engine.SetListener(this);
        if (!window.unattended_)
            engine.SetPasswords(&passwords);
        engine.Unzip(
            path, destination.c_str(), masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), false);
        summary.Add(path, engine.GetResult(), engine.PasswordSkipped());
        // A folder made for this archive that nothing came into is not left behind (only an empty
        // folder can be removed).
        if (created)
            ::RemoveDirectoryW(fw::WidePath(destination).c_str());
    }
}

}  // namespace app
