#include "unzip32/core/MemoryHost.h"

namespace unzip {

namespace {

std::string Join(const std::vector<std::string>& parts, size_t count)
{
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += '/';
        path += parts[i];
    }
    return path;
}

}  // namespace

// One file being written to memory; it enters the host's table only when committed.
class MemoryOutputFile : public OutputFile {
public:
    MemoryOutputFile(MemoryHost& host, std::string path) : host_(host), path_(std::move(path)) { }

    Status Write(const uint8_t* data, size_t count) override
    {
        if (keeping_ && data_.size() + count <= host_.keepLimit_)
            data_.append(reinterpret_cast<const char*>(data), count);
        else
            keeping_ = false;
        return Status::Ok;
    }
    Status Commit(const Entry&) override
    {
        std::lock_guard<std::mutex> lock(host_.mutex_);
        if (!keeping_ || host_.kept_ + data_.size() > host_.keepLimit_)
            data_ = "<not kept>";
        host_.kept_ += data_.size();
        host_.files[path_] = std::move(data_);
        return Status::Ok;
    }
    void Abandon() override { }

private:
    MemoryHost& host_;
    std::string path_;
    std::string data_;
    bool keeping_ = true;
};

void MemoryHost::Member(const Entry& entry, const std::string& displayName, unsigned factor)
{
    listed.push_back({displayName, entry.size, entry.compressedSize, factor});
}

Status MemoryHost::CreateFolder(const std::vector<std::string>& parts)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t count = 1; count <= parts.size(); ++count) {
        std::string path = Join(parts, count);
        if (files.count(path) != 0)
            return Status::PathBlocked;
        folders.insert(path);
    }
    return Status::Ok;
}

Status MemoryHost::CreateOutput(const std::vector<std::string>& parts, const Entry&, std::unique_ptr<OutputFile>& file)
{
    std::string path = Join(parts, parts.size());
    std::lock_guard<std::mutex> lock(mutex_);
    if (folders.count(path) != 0)
        return Status::PathBlocked;
    if (path == refuseFile)
        return Status::WriteFailure;
    file = std::make_unique<MemoryOutputFile>(*this, path);
    return Status::Ok;
}

Status MemoryHost::CopyOutput(
    const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry&)
{
    const std::string path = Join(parts, parts.size());
    std::lock_guard<std::mutex> lock(mutex_);
    auto source = files.find(Join(from, from.size()));
    if (source == files.end())
        return Status::WriteFailure;
    if (folders.count(path) != 0)
        return Status::PathBlocked;
    // A copy is kept under the same limit as written data: links to one big file cost no memory.
    std::string data = kept_ + source->second.size() > keepLimit_ ? "<not kept>" : source->second;
    kept_ += data.size();
    files[path] = std::move(data);
    return Status::Ok;
}

bool MemoryHost::Exists(const std::vector<std::string>& parts)
{
    auto key = [this](const std::string& path) {
        std::string folded;
        for (size_t start = 0; start <= path.size();) {
            size_t stop = path.find('/', start);
            if (stop == std::string::npos)
                stop = path.size();
            folded += (start > 0 ? "/" : "") + NameKey(path.substr(start, stop - start));
            start = stop + 1;
        }
        return folded;
    };
    const std::string wanted = key(Join(parts, parts.size()));
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& file : files)
        if (key(file.first) == wanted)
            return true;
    for (const std::string& folder : folders)
        if (key(folder) == wanted)
            return true;
    return false;
}

}  // namespace unzip
