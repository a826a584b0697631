#include "unzip32/core/MemberInput.h"

#include <algorithm>

namespace unzip {

bool MemberInput::Fill()
{
    if (available > 0)
        return true;
    if (failed_ || consumed_ == length_ || buffer_.empty())
        return false;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), length_ - consumed_));
    if (!source_.Read(start_ + consumed_, buffer_.data(), piece) ||
        (decryption_ != nullptr && !decryption_->Decrypt(buffer_.data(), piece))) {
        failed_ = true;
        return false;
    }
    consumed_ += piece;
    next = buffer_.data();
    available = piece;
    return true;
}

bool MemberInput::Take(uint8_t* to, size_t count)
{
    while (count > 0) {
        if (available == 0 && !Fill())
            return false;
        const size_t piece = std::min(count, available);
        std::copy(next, next + piece, to);
        to += piece;
        next += piece;
        available -= piece;
        count -= piece;
    }
    return true;
}

bool MemberInput::Drain()
{
    do
        available = 0;
    while (Fill());
    return !failed_;
}

}  // namespace unzip
