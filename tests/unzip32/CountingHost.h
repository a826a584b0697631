#pragma once
// A MemoryHost that also counts what the core does with its output files: the bytes written, the
// files abandoned, and the files still open (neither committed nor abandoned, which must be none
// once Extract has returned). It keeps all the data unless told otherwise.
#include "unzip32/core/MemoryHost.h"

#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

class CountingHost : public unzip::MemoryHost {
public:
    explicit CountingHost(size_t keepLimit = std::numeric_limits<size_t>::max()) : MemoryHost(keepLimit) { }

    unzip::Status CreateOutput(const std::vector<std::string>& parts, const unzip::Entry& entry,
        std::unique_ptr<unzip::OutputFile>& file) override
    {
        std::unique_ptr<unzip::OutputFile> inner;
        const unzip::Status status = MemoryHost::CreateOutput(parts, entry, inner);
        if (status == unzip::Status::Ok)
            file = std::make_unique<CountedFile>(*this, std::move(inner));
        return status;
    }

    // Printed lines that contain `text`.
    size_t LinesWith(const std::string& text) const
    {
        size_t count = 0;
        for (const std::string& line : lines)
            count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }

    uint64_t bytesWritten = 0;
    uint64_t diskSize = std::numeric_limits<uint64_t>::max();  // writes beyond it fail as a full disk
    int abandoned = 0;                                         // also those dropped without Commit
    int open = 0;

private:
    class CountedFile : public unzip::OutputFile {
    public:
        CountedFile(CountingHost& host, std::unique_ptr<unzip::OutputFile> inner)
            : host_(host), inner_(std::move(inner))
        {
            std::lock_guard<std::mutex> lock(host_.countMutex_);
            ++host_.open;
        }
        ~CountedFile() override { Abandon(); }
        unzip::Status Write(const uint8_t* data, size_t count) override
        {
            {
                std::lock_guard<std::mutex> lock(host_.countMutex_);
                host_.bytesWritten += count;
                if (host_.bytesWritten > host_.diskSize)
                    return unzip::Status::DiskFull;
            }
            return inner_->Write(data, count);
        }
        unzip::Status Commit(const unzip::Entry& entry) override
        {
            Close(false);
            return inner_->Commit(entry);
        }
        void Abandon() override
        {
            if (Close(true))
                inner_->Abandon();
        }

    private:
        // Counts the file as finished once; answers false when it already was.
        bool Close(bool abandoning)
        {
            std::lock_guard<std::mutex> lock(host_.countMutex_);
            if (done_)
                return false;
            done_ = true;
            --host_.open;
            host_.abandoned += abandoning ? 1 : 0;
            return true;
        }

        CountingHost& host_;
        std::unique_ptr<unzip::OutputFile> inner_;
        bool done_ = false;
    };

    std::mutex countMutex_;
};

}  // namespace ziptest
