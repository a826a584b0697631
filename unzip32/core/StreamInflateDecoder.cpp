#include "unzip32/core/StreamInflateDecoder.h"

#include "unzip32/core/Deflate64Decoder.h"
#include "unzip32/core/InflateDecoder.h"

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

using Result = BlockInflater::Result;

// New output between two slides of the window. With the window it stays below the size from
// which the heap takes memory afresh from the system for each block (and so pays its page faults
// again for every member).
const size_t kPiece = 256u << 10;
// The member's data is taken in pieces of at most this size, and so held.
const size_t kInputPiece = 64u << 10;

}  // namespace

Status RedoInflate(DecoderRedo& redo, const Entry& entry, const MemberInput& input, bool deflate64, uint64_t skip)
{
    MemberInput& again = redo.Restart(input);
    if (deflate64)
        return redo.Start(new Deflate64Decoder(entry, again), skip);
    return redo.Start(new InflateDecoder(again), skip);
}

StreamInflateDecoder::StreamInflateDecoder(const Entry& entry, MemberInput& input, bool deflate64)
    : entry_(entry),
      input_(input),
      deflate64_(deflate64),
      window_(deflate64 ? 64u << 10 : 32u << 10),
      inflater_(deflate64)
{
    // Room for all of a small member (the declared size is only a guess here: more output slides
    // the window and grows the buffer), else for the window and a piece.
    limit_ = entry.size < window_ + kPiece ? static_cast<size_t>(entry.size) + 2 : window_ + kPiece;
    out_.reset(new uint8_t[limit_ + BlockInflater::kSlack]);  // not cleared: only output is read
    inflater_.Reset(0);
}

// Drops the data decoded already and appends the next piece of the member's data (or notes its end).
Status StreamInflateDecoder::ReadMore()
{
    const size_t used = static_cast<size_t>(std::min<uint64_t>(inflater_.Bit() / 8, dataSize_));
    if (used > 0) {
        std::memmove(data_.data(), data_.data() + used, dataSize_ - used);
        dataSize_ -= used;
        dropped_ += used;
        inflater_.Rebase(used);
    }
    size_t take = 0;
    if (input_.available == 0 && !input_.Fill()) {
        if (input_.Failed())
            return Status::Truncated;
        inputEnded_ = true;
    } else {
        take = std::min(input_.available, kInputPiece);
    }
    if (data_.size() < dataSize_ + take + BlockInflater::kPadding)
        data_.resize(dataSize_ + take + BlockInflater::kPadding);
    if (take > 0) {
        std::memcpy(data_.data() + dataSize_, input_.next, take);
        input_.next += take;
        input_.available -= take;
        dataSize_ += take;
    }
    std::memset(data_.data() + dataSize_, 0, BlockInflater::kPadding);
    return Status::Ok;
}

// Once all output is handed out: keeps the last window's worth in front, for the matches to come.
void StreamInflateDecoder::Slide()
{
    const size_t keep = std::min(pos_, window_);
    if (limit_ < window_ + kPiece) {
        std::unique_ptr<uint8_t[]> grown(new uint8_t[window_ + kPiece + BlockInflater::kSlack]);
        std::memcpy(grown.get(), out_.get() + pos_ - keep, keep);
        out_ = std::move(grown);
        limit_ = window_ + kPiece;
    } else {
        std::memmove(out_.get(), out_.get() + pos_ - keep, keep);
    }
    pos_ = keep;
    handed_ = keep;
}

uint64_t StreamInflateDecoder::StreamEnd() const
{
    return redo_.Active() ? redo_.StreamEnd() : dropped_ + (inflater_.Bit() + 7) / 8;
}

Status StreamInflateDecoder::Decode(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    if (redo_.Active())
        return redo_.Decode(buffer, capacity, data, size, finished, detail_);
    for (;;) {
        if (handed_ < pos_) {
            size = std::min(capacity, pos_ - handed_);
            data = out_.get() + handed_;
            handed_ += size;
            total_ += size;
            finished = ended_ && handed_ == pos_;
            return Status::Ok;
        }
        if (ended_) {
            data = buffer;
            size = 0;
            finished = true;
            return Status::Ok;
        }
        if (pos_ == limit_)
            Slide();
        const Result result = inflater_.Run<uint8_t>(
            data_.data(), dataSize_, inputEnded_, out_.get(), pos_, limit_, 0, UINT64_MAX, false);
        if (result == Result::Full)
            continue;
        if (result == Result::End) {
            ended_ = true;
            continue;
        }
        if (result == Result::Starved && !inputEnded_) {
            const Status read = ReadMore();
            if (read != Status::Ok)
                return read;
            continue;
        }
        // Data the block decoder does not take: the one-stream decoder says what it is.
        out_.reset();
        std::vector<uint8_t>().swap(data_);
        const Status started = RedoInflate(redo_, entry_, input_, deflate64_, total_);
        if (started != Status::Ok)
            return started;
        return redo_.Decode(buffer, capacity, data, size, finished, detail_);
    }
}

}  // namespace unzip
