#pragma once
// An in-memory Host for the ZIP core's tests: files and folders land in maps instead of a disk,
// every line printed and every member listed is recorded, and files left neither committed nor
// abandoned are counted.
#include "unzip32/core/Extractor.h"

#include <map>
#include <mutex>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ziptest {

using unzip::Entry;
using unzip::OutputFile;
using unzip::Status;

class RecordingHost : public unzip::Host {
public:
    struct Listed {
        std::string name;
        uint64_t size;
        uint64_t packed;
        unsigned factor;
    };

    // keepData false: output is counted but not stored (the fuzzer's bombs stay cheap).
    explicit RecordingHost(bool keepData = true) : keepData_(keepData) {}

    std::string DisplayName(const Entry& entry) override { return entry.name; }
    void Print(const std::string& line) override { lines.push_back(line); }
    void Member(const Entry&, const std::string& displayName, unsigned factor) override
    {
        listed.push_back(Listed{displayName, 0, 0, factor});
    }
    Status CreateFolder(const std::vector<std::string>& parts) override
    {
        std::string path;
        for (const std::string& part : parts) {
            path += (path.empty() ? "" : "/") + part;
            folders.insert(path);
        }
        return Status::Ok;
    }
    Status CreateOutput(const std::vector<std::string>& parts, const Entry&, std::unique_ptr<OutputFile>& file) override
    {
        std::string path;
        for (const std::string& part : parts)
            path += (path.empty() ? "" : "/") + part;
        file = std::make_unique<File>(*this, path);
        return Status::Ok;
    }

    // Printed lines that contain `text`.
    size_t LinesWith(const std::string& text) const
    {
        size_t count = 0;
        for (const std::string& line : lines)
            count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }

    std::map<std::string, std::string> files;  // committed files by path ("a/b/c")
    std::set<std::string> folders;
    std::vector<std::string> lines;
    std::vector<Listed> listed;
    uint64_t bytesWritten = 0;
    int abandoned = 0;
    int open = 0;  // files created but neither committed nor abandoned

private:
    class File : public OutputFile {
    public:
        File(RecordingHost& host, std::string path) : host_(host), path_(std::move(path)) 
        {
            std::lock_guard<std::mutex> lock(host_.mutex_);
            ++host_.open;
        }
        ~File() override
        {
            if (!done_)
                Abandon();
        }
        Status Write(const uint8_t* data, size_t count) override
        {
            std::lock_guard<std::mutex> lock(host_.mutex_);
            host_.bytesWritten += count;
            if (host_.keepData_)
                data_.append(reinterpret_cast<const char*>(data), count);
            return Status::Ok;
        }
        Status Commit(const Entry&) override
        {
            std::lock_guard<std::mutex> lock(host_.mutex_);
            host_.files[path_] = std::move(data_);
            done_ = true;
            --host_.open;
            return Status::Ok;
        }
        void Abandon() override
        {
            std::lock_guard<std::mutex> lock(host_.mutex_);
            if (done_)
                return;
            done_ = true;
            --host_.open;
            ++host_.abandoned;
        }

    private:
        RecordingHost& host_;
        std::string path_;
        std::string data_;
        bool done_ = false;
    };

    bool keepData_;
    std::mutex mutex_;
};

}  // namespace ziptest
