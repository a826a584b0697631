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
    MemoryOutputFile(MemoryHost& host, std::string path, std::string key)
        : host_(host), path_(std::move(path)), key_(std::move(key))
    {
    }

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
        host_.madeKeys_.insert(key_);
        return Status::Ok;
    }
    void Abandon() override { }

private:
    MemoryHost& host_;
    std::string path_;
    std::string key_;
    std::string data_;
    bool keeping_ = true;
};

void MemoryHost::Member(const Entry& entry, const std::string& displayName, unsigned factor)
{
    listed.push_back({displayName, entry.size, entry.compressedSize, factor});
}

Status MemoryHost::CreateFolder(const std::vector<std::string>& parts)
{
    std::vector<std::string> keys;
    for (size_t count = 1; count <= parts.size(); ++count)
        keys.push_back(PathKey(parts, count));
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t count = 1; count <= parts.size(); ++count) {
        std::string path = Join(parts, count);
        if (files.count(path) != 0)
            return Status::PathBlocked;
        folders.insert(path);
        madeKeys_.insert(keys[count - 1]);
    }
    return Status::Ok;
}

Status MemoryHost::CreateOutput(const std::vector<std::string>& parts, const Entry&, std::unique_ptr<OutputFile>& file)
{
    std::string path = Join(parts, parts.size());
    std::string key = PathKey(parts, parts.size());
    std::lock_guard<std::mutex> lock(mutex_);
    if (folders.count(path) != 0)
        return Status::PathBlocked;
    if (path == refuseFile)
        return Status::WriteFailure;
    file = std::make_unique<MemoryOutputFile>(*this, path, std::move(key));
    return Status::Ok;
}

Status MemoryHost::CopyOutput(
    const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry&)
{
    const std::string path = Join(parts, parts.size());
    const std::string key = PathKey(parts, parts.size());
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
    madeKeys_.insert(key);
    return Status::Ok;
}

std::string MemoryHost::PathKey(const std::vector<std::string>& parts, size_t count)
{
    std::string key;
    for (size_t i = 0; i < count; ++i)
        key += (i > 0 ? "/" : "") + NameKey(parts[i]);
    return key;
}

bool MemoryHost::Exists(const std::vector<std::string>& parts)
{
    const std::string path = Join(parts, parts.size());
    const std::string key = PathKey(parts, parts.size());
    std::lock_guard<std::mutex> lock(mutex_);
    return files.count(path) != 0 || folders.count(path) != 0 || madeKeys_.count(key) != 0;
}

}  // namespace unzip
