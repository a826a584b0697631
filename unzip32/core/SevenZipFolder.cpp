#include "unzip32/core/SevenZipFolder.h"

#include "unzip32/core/Bzip2Decoder.h"
#include "unzip32/core/Decoder.h"
#include "unzip32/core/Deflate64Decoder.h"
#include "unzip32/core/InflateDecoder.h"
#include "unzip32/core/Secret.h"
#include "unzip32/core/SevenZipAllocator.h"

#include <Bcj2.h>
#include <Bra.h>
#include <Delta.h>
#include <Lzma2Dec.h>
#include <LzmaDec.h>
#include <Ppmd7.h>

#include <algorithm>
#include <cstring>

namespace unzip {
namespace sevenzip {

namespace {

const size_t kPiece = 64u << 10;

// The most rounds of the key derivation accepted (7-Zip writes 2^19; 2^24 takes seconds).
const unsigned kMaxKeyPower = 24;

// A stream's input with a buffer of its own.
class Input {
public:
    explicit Input(std::unique_ptr<Stream> stream) : stream_(std::move(stream)), buffer_(kPiece) { }
    // More bytes when what was taken is used up; `ended` once the stream has none left.
    Status Fill()
    {
        if (next < end || ended)
            return Status::Ok;
        size_t got = 0;
        const Status status = stream_->Read(buffer_.data(), buffer_.size(), got);
        if (status != Status::Ok)
            return status;
        next = buffer_.data();
        end = next + got;
        ended = got == 0;
        return Status::Ok;
    }
    Stream& Source() { return *stream_; }

    const uint8_t* next = nullptr;
    const uint8_t* end = nullptr;
    bool ended = false;

private:
    std::unique_ptr<Stream> stream_;
    std::vector<uint8_t> buffer_;
};

// A packed stream, read from the archive.
class PackStream : public Stream {
public:
    PackStream(Source& source, uint64_t offset, uint64_t size) : Stream(size), source_(source), offset_(offset) { }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        if (!source_.Read(offset_, buffer, capacity))
            return Status::Truncated;
        offset_ += capacity;
        got = capacity;
        return Status::Ok;
    }

private:
    Source& source_;
    uint64_t offset_;
};

class CopyCoder : public Stream {
public:
    CopyCoder(uint64_t size, std::unique_ptr<Stream> input) : Stream(size), input_(std::move(input)) { }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        return input_->Read(buffer, capacity, got);
    }

private:
    std::unique_ptr<Stream> input_;
};

// LZMA and LZMA2 through 7-Zip's decoders. An LZMA stream ends at the folder's size (or at its
// end marker); an LZMA2 stream at its end mark.
class LzmaCoder : public Stream {
public:
    LzmaCoder(uint64_t size, std::unique_ptr<Stream> input, bool lzma2)
        : Stream(size), input_(std::move(input)), second_(lzma2)
    {
        LzmaDec_CONSTRUCT(&lzma1_);
        Lzma2Dec_CONSTRUCT(&lzma2_);
    }
    ~LzmaCoder() override
    {
        LzmaDec_Free(&lzma1_, &kSevenZipAllocator);
        Lzma2Dec_Free(&lzma2_, &kSevenZipAllocator);
    }

    // `properties`: LZMA's five bytes, or LZMA2's one (checked by the caller).
    Status Start(const std::vector<uint8_t>& properties)
    {
        const SRes made = second_ ? Lzma2Dec_Allocate(&lzma2_, properties[0], &kSevenZipAllocator)
                                  : LzmaDec_Allocate(&lzma1_, properties.data(), LZMA_PROPS_SIZE, &kSevenZipAllocator);
        if (made == SZ_ERROR_MEM)
            return Status::OutOfMemory;
        if (made != SZ_OK)
            return Status::DataError;
        if (second_)
            Lzma2Dec_Init(&lzma2_);
        else
            LzmaDec_Init(&lzma1_);
        return Status::Ok;
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        got = 0;
        while (got == 0 && !ended_) {
            const Status filled = input_.Fill();
            if (filled != Status::Ok)
                return filled;
            SizeT made = capacity;
            SizeT taken = static_cast<SizeT>(input_.end - input_.next);
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            const SRes result = second_
                ? Lzma2Dec_DecodeToBuf(&lzma2_, buffer, &made, input_.next, &taken, LZMA_FINISH_ANY, &status)
                : LzmaDec_DecodeToBuf(&lzma1_, buffer, &made, input_.next, &taken, LZMA_FINISH_ANY, &status);
            input_.next += taken;
            got = made;
            if (result != SZ_OK)
                return Status::DataError;
            if (status == LZMA_STATUS_FINISHED_WITH_MARK)
                ended_ = true;
            else if (got == 0 && taken == 0 && input_.ended)
                return Status::DataError;  // the data ends before its stream does
        }
        return Status::Ok;
    }

private:
    Input input_;
    bool second_;  // LZMA2
    CLzmaDec lzma1_;
    CLzma2Dec lzma2_;
    bool ended_ = false;
};

class PpmdCoder : public Stream {
public:
    PpmdCoder(uint64_t size, std::unique_ptr<Stream> input) : Stream(size), input_(std::move(input))
    {
        reader_.self.Read = &PpmdCoder::ReadByte;
        reader_.owner = this;
        Ppmd7_Construct(&ppmd_);
    }
    ~PpmdCoder() override { Ppmd7_Free(&ppmd_, &kSevenZipAllocator); }

    Status Start(unsigned order, uint32_t memory)
    {
        if (!Ppmd7_Alloc(&ppmd_, memory, &kSevenZipAllocator))
            return Status::OutOfMemory;
        ppmd_.rc.dec.Stream = &reader_.self;
        if (!Ppmd7z_RangeDec_Init(&ppmd_.rc.dec) || ranOut_)
            return failure_ != Status::Ok ? failure_ : Status::DataError;
        Ppmd7_Init(&ppmd_, order);
        return Status::Ok;
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        // After its end mark or an error the model is in no state to decode on: nothing more comes.
        for (got = 0; got < capacity && !ended_; ++got) {
            const int symbol = Ppmd7z_DecodeSymbol(&ppmd_);
            if (ranOut_) {
                ended_ = true;
                return failure_ != Status::Ok ? failure_ : Status::DataError;
            }
            if (symbol < 0) {
                ended_ = true;
                return symbol == PPMD7_SYM_END ? Status::Ok : Status::DataError;
            }
            buffer[got] = static_cast<uint8_t>(symbol);
        }
        return Status::Ok;
    }

private:
    struct Reader {
        IByteIn self;  // first: the callback gets a pointer to it
        PpmdCoder* owner;
    };

    static Byte ReadByte(IByteInPtr self)
    {
        PpmdCoder& coder = *reinterpret_cast<const Reader*>(self)->owner;
        Input& in = coder.input_;
        if (in.next == in.end) {
            const Status filled = in.Fill();
            if (filled != Status::Ok || in.ended) {
                coder.failure_ = filled;
                coder.ranOut_ = true;
                return 0;
            }
        }
        return *in.next++;
    }

    Input input_;
    Reader reader_;
    CPpmd7 ppmd_;
    bool ranOut_ = false;
    bool ended_ = false;
    Status failure_ = Status::Ok;
};

// The archive's bytes for the library's own decoders, which read from a Source: the input stream
// read front to back.
class StreamSource : public unzip::Source {
public:
    explicit StreamSource(std::unique_ptr<Stream> stream) : stream_(std::move(stream)) { }
    uint64_t Size() const override { return stream_->Size(); }
    bool Read(uint64_t offset, void* buffer, size_t count) override
    {
        if (offset != position_)
            return false;
        uint8_t* to = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            size_t got = 0;
            failure_ = stream_->Read(to, count, got);
            if (failure_ != Status::Ok)
                return false;
            if (got == 0) {
                failure_ = Status::DataError;
                return false;
            }
            to += got;
            count -= got;
            position_ += got;
        }
        return true;
    }
    Status Failure() const { return failure_; }

private:
    std::unique_ptr<Stream> stream_;
    uint64_t position_ = 0;
    Status failure_ = Status::Ok;
};

// Deflate, Deflate64 and BZip2 through the decoders the ZIP reader uses.
class LibraryCoder : public Stream {
public:
    LibraryCoder(uint64_t size, std::unique_ptr<Stream> input)
        : Stream(size), source_(std::move(input)), buffer_(kPiece), input_(source_, 0, source_.Size(), buffer_)
    {
        entry_.size = size;
    }

    Status Start(uint64_t id, std::string& detail)
    {
        if (id == kDeflate)
            decoder_.reset(new InflateDecoder(input_));
        else if (id == kDeflate64)
            decoder_.reset(new Deflate64Decoder(entry_, input_));
        else
            decoder_.reset(new Bzip2Decoder(input_));
        const Status started = decoder_->Start();
        if (started != Status::Ok)
            detail = decoder_->Detail();
        return Failed(started);
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        got = 0;
        if (finished_)
            return Status::Ok;
        const uint8_t* data = nullptr;
        const Status status = decoder_->Decode(buffer, capacity, data, got, finished_);
        if (status != Status::Ok)
            return Failed(status);
        if (data != nullptr && data != buffer && got > 0)
            std::memmove(buffer, data, got);
        if (got == 0 && !finished_)
            return Status::DataError;
        return Status::Ok;
    }

private:
    // The input's own failure where the decoder only saw its data end.
    Status Failed(Status status) const
    {
        if (status == Status::Truncated && source_.Failure() != Status::Ok)
            return source_.Failure();
        return status;
    }

    StreamSource source_;
    std::vector<uint8_t> buffer_;
    MemberInput input_;
    Entry entry_;
    std::unique_ptr<Decoder> decoder_;
    bool finished_ = false;
};

class AesCoder : public Stream {
public:
    AesCoder(uint64_t size, std::unique_ptr<Stream> input, std::unique_ptr<ChainDecipher> decipher)
        : Stream(size), input_(std::move(input)), decipher_(std::move(decipher)), held_(kPiece)
    {
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        got = 0;
        if (start_ == end_) {
            // Whole blocks only: a part of one stays behind them for the rest to follow.
            std::memmove(held_.data(), held_.data() + end_, tail_);
            size_t count = tail_;
            start_ = end_ = tail_ = 0;
            while (count < held_.size()) {
                size_t read = 0;
                const Status status = input_->Read(held_.data() + count, held_.size() - count, read);
                if (status != Status::Ok)
                    return status;
                if (read == 0)
                    break;
                count += read;
                if (count % 16 == 0)
                    break;
            }
            const size_t blocks = count / 16;
            if (blocks == 0)
                return count == 0 ? Status::Ok : Status::DataError;
            if (!decipher_->Decrypt(held_.data(), held_.data(), blocks))
                return Status::DataError;
            end_ = blocks * 16;
            tail_ = count - end_;
        }
        got = std::min(capacity, end_ - start_);
        std::memcpy(buffer, held_.data() + start_, got);
        start_ += got;
        return Status::Ok;
    }

private:
    std::unique_ptr<Stream> input_;
    std::unique_ptr<ChainDecipher> decipher_;
    std::vector<uint8_t> held_;
    size_t start_ = 0;  // decrypted bytes not handed out: [start_, end_)
    size_t end_ = 0;
    size_t tail_ = 0;  // bytes of a part-block after end_
};

class BranchCoder : public Stream {
public:
    BranchCoder(uint64_t size, std::unique_ptr<Stream> input, uint64_t id, uint32_t pc)
        : Stream(size), input_(std::move(input)), id_(id), pc_(pc), held_(kPiece)
    {
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        while (ready_ == 0) {
            // Move what still waits for its look-ahead to the front and read more behind it.
            std::memmove(held_.data(), held_.data() + start_, count_ - start_);
            count_ -= start_;
            start_ = 0;
            size_t read = 0;
            if (!ended_) {
                const Status status = input_->Read(held_.data() + count_, held_.size() - count_, read);
                if (status != Status::Ok)
                    return status;
                ended_ = read == 0;
                count_ += read;
            }
            if (ended_) {
                ready_ = count_;  // the last bytes stay as they are
                if (count_ == 0) {
                    got = 0;
                    return Status::Ok;
                }
                break;
            }
            uint8_t* data = held_.data();
            uint8_t* done = Convert(data, count_);
            ready_ = static_cast<size_t>(done - data);
            pc_ += static_cast<uint32_t>(ready_);
        }
        got = std::min(capacity, ready_);
        std::memcpy(buffer, held_.data() + start_, got);
        start_ += got;
        ready_ -= got;
        return Status::Ok;
    }

private:
    uint8_t* Convert(uint8_t* data, size_t size)
    {
        switch (id_) {
        case kBcj: return z7_BranchConvSt_X86_Dec(data, size, pc_, &x86State_);
        case kArm: return z7_BranchConv_ARM_Dec(data, size, pc_);
        case kArmt: return z7_BranchConv_ARMT_Dec(data, size, pc_);
        case kArm64: return z7_BranchConv_ARM64_Dec(data, size, pc_);
        case kPpc: return z7_BranchConv_PPC_Dec(data, size, pc_);
        case kSparc: return z7_BranchConv_SPARC_Dec(data, size, pc_);
        case kIa64: return z7_BranchConv_IA64_Dec(data, size, pc_);
        default: return z7_BranchConv_RISCV_Dec(data, size, pc_);
        }
    }

    std::unique_ptr<Stream> input_;
    uint64_t id_;
    uint32_t pc_;
    uint32_t x86State_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    std::vector<uint8_t> held_;
    size_t start_ = 0;  // the first byte not handed out
    size_t count_ = 0;  // bytes held
    size_t ready_ = 0;  // converted bytes from start_ on
    bool ended_ = false;
};

class DeltaCoder : public Stream {
public:
    DeltaCoder(uint64_t size, std::unique_ptr<Stream> input, unsigned distance)
        : Stream(size), input_(std::move(input)), distance_(distance)
    {
        Delta_Init(state_);
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        const Status status = input_->Read(buffer, capacity, got);
        if (status == Status::Ok)
            Delta_Decode(state_, distance_, buffer, got);
        return status;
    }

private:
    std::unique_ptr<Stream> input_;
    unsigned distance_;
    uint8_t state_[256];
};

class Bcj2Coder : public Stream {
public:
    Bcj2Coder(uint64_t size, std::vector<std::unique_ptr<Stream>> inputs) : Stream(size)
    {
        for (size_t i = 0; i < BCJ2_NUM_STREAMS; ++i) {
            inputs_[i] = std::move(inputs[i]);
            buffers_[i].resize(kPiece);
        }
        Bcj2Dec_Init(&decoder_);
        for (size_t i = 0; i < BCJ2_NUM_STREAMS; ++i)
            decoder_.bufs[i] = decoder_.lims[i] = buffers_[i].data();
    }

protected:
    Status Produce(uint8_t* buffer, size_t capacity, size_t& got) override
    {
        decoder_.dest = buffer;
        decoder_.destLim = buffer + capacity;
        while (decoder_.dest == buffer) {
            if (Bcj2Dec_Decode(&decoder_) != SZ_OK)
                return Status::DataError;
            if (decoder_.dest != buffer)
                break;
            const unsigned wanted = decoder_.state;
            if (wanted >= BCJ2_NUM_STREAMS)
                return Status::DataError;
            const Status filled = Refill(wanted);
            if (filled != Status::Ok)
                return filled;
        }
        got = static_cast<size_t>(decoder_.dest - buffer);
        return Status::Ok;
    }

private:
    // The next piece of input `s`; the call and jump streams in whole 4-byte addresses.
    Status Refill(unsigned s)
    {
        std::vector<uint8_t>& held = buffers_[s];
        size_t count = carried_[s];
        std::memmove(held.data(), held.data() + carriedAt_[s], count);
        for (;;) {
            size_t read = 0;
            const Status status = inputs_[s]->Read(held.data() + count, held.size() - count, read);
            if (status != Status::Ok)
                return status;
            if (read == 0)
                return Status::DataError;
            count += read;
            if (!BCJ2_IS_32BIT_STREAM(s) || count >= 4)
                break;
        }
        const size_t usable = BCJ2_IS_32BIT_STREAM(s) ? count & ~size_t(3) : count;
        carried_[s] = count - usable;
        carriedAt_[s] = usable;
        decoder_.bufs[s] = held.data();
        decoder_.lims[s] = held.data() + usable;
        return Status::Ok;
    }

    std::unique_ptr<Stream> inputs_[BCJ2_NUM_STREAMS];
    std::vector<uint8_t> buffers_[BCJ2_NUM_STREAMS];
    size_t carried_[BCJ2_NUM_STREAMS] = {};
    size_t carriedAt_[BCJ2_NUM_STREAMS] = {};
    CBcj2Dec decoder_;
};

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | (uint32_t(bytes[at + 1]) << 8) | (uint32_t(bytes[at + 2]) << 16) |
        (uint32_t(bytes[at + 3]) << 24);
}

uint32_t Lzma2Dictionary(uint8_t bits)
{
    return bits >= 40 ? 0xFFFFFFFFu : (2u | (bits & 1u)) << (bits / 2 + 11);
}

// The AES coder's properties: rounds, salt and initial vector.
bool AesProperties(const std::vector<uint8_t>& p, unsigned& power, std::vector<uint8_t>& salt, uint8_t iv[16])
{
    std::memset(iv, 0, 16);
    salt.clear();
    if (p.empty())
        return false;
    power = p[0] & 0x3F;
    if ((p[0] & 0xC0) == 0)
        return true;
    if (p.size() < 2)
        return false;
    const size_t saltSize = ((p[0] >> 7) & 1u) + (p[1] >> 4);
    const size_t ivSize = ((p[0] >> 6) & 1u) + (p[1] & 0x0Fu);
    if (2 + saltSize + ivSize > p.size())
        return false;
    salt.assign(p.begin() + 2, p.begin() + 2 + static_cast<std::ptrdiff_t>(saltSize));
    std::memcpy(iv, p.data() + 2 + saltSize, ivSize);
    return true;
}

const char* CoderName(uint64_t id)
{
    switch (id) {
    case kCopy: return "Copy";
    case kLzma: return "LZMA";
    case kLzma2: return "LZMA2";
    case kPpmd: return "PPMd";
    case kBzip2: return "BZip2";
    case kDeflate: return "Deflate";
    case kDeflate64: return "Deflate64";
    case kBcj: return "BCJ";
    case kBcj2: return "BCJ2";
    case kArm: return "ARM";
    case kArmt: return "ARMT";
    case kArm64: return "ARM64";
    case kPpc: return "PPC";
    case kSparc: return "SPARC";
    case kIa64: return "IA64";
    case kRiscv: return "RISCV";
    case kDelta: return "Delta";
    case kAes: return "AES";
    default: return nullptr;
    }
}

bool IsFilter(uint64_t id)
{
    return id == kBcj || id == kBcj2 || id == kArm || id == kArmt || id == kArm64 || id == kPpc || id == kSparc ||
        id == kIa64 || id == kRiscv || id == kDelta;
}

// Builds the stream of out stream `out` (every coder has one: out index = coder index).
class Builder {
public:
    Builder(const StreamsInfo& info, const Folder& folder, FolderContext& context)
        : info_(info), folder_(folder), context_(context)
    {
    }

    Status Build(unsigned out, std::unique_ptr<Stream>& stream, int depth = 0)
    {
        if (depth > static_cast<int>(folder_.coders.size()))
            return Damaged("a loop of coders");
        const Coder& coder = folder_.coders[out];
        unsigned firstIn = 0;
        for (unsigned c = 0; c < out; ++c)
            firstIn += folder_.coders[c].inStreams;
        std::vector<std::unique_ptr<Stream>> inputs;
        for (unsigned k = 0; k < coder.inStreams; ++k) {
            std::unique_ptr<Stream> input;
            const Status made = Input(firstIn + k, input, depth);
            if (made != Status::Ok)
                return made;
            inputs.push_back(std::move(input));
        }
        const uint64_t size = folder_.unpackSizes[out];
        const std::vector<uint8_t>& p = coder.properties;
        if (coder.id == kBcj2) {
            if (coder.inStreams != 4)
                return Damaged("BCJ2 without its four streams");
            stream.reset(new Bcj2Coder(size, std::move(inputs)));
            return Status::Ok;
        }
        if (coder.inStreams != 1)
            return Unsupported(coder.id);
        std::unique_ptr<Stream> input = std::move(inputs[0]);
        switch (coder.id) {
        case kCopy: stream.reset(new CopyCoder(size, std::move(input))); return Status::Ok;
        case kLzma:
        case kLzma2: {
            if (coder.id == kLzma ? p.size() < LZMA_PROPS_SIZE || p[0] >= 9 * 5 * 5 : p.size() < 1 || p[0] > 40)
                return Damaged(coder.id == kLzma ? "bad LZMA properties" : "bad LZMA2 properties");
            auto lzma = std::make_unique<LzmaCoder>(size, std::move(input), coder.id == kLzma2);
            const Status started = lzma->Start(p);
            stream = std::move(lzma);
            return started;
        }
        case kPpmd: {
            if (p.size() < 5 || p[0] < PPMD7_MIN_ORDER || p[0] > PPMD7_MAX_ORDER || Le32(p, 1) < (1u << 11) ||
                Le32(p, 1) > PPMD7_MAX_MEM_SIZE)
                return Damaged("bad PPMd properties");
            auto ppmd = std::make_unique<PpmdCoder>(size, std::move(input));
            const Status started = ppmd->Start(p[0], Le32(p, 1));
            stream = std::move(ppmd);
            return started;
        }
        case kDeflate:
        case kDeflate64:
        case kBzip2: {
            auto library = std::make_unique<LibraryCoder>(size, std::move(input));
            const Status started = library->Start(coder.id, context_.detail);
            stream = std::move(library);
            return started;
        }
        case kBcj:
        case kArm:
        case kArmt:
        case kArm64:
        case kPpc:
        case kSparc:
        case kIa64:
        case kRiscv:
            stream.reset(new BranchCoder(size, std::move(input), coder.id, p.size() >= 4 ? Le32(p, 0) : 0));
            return Status::Ok;
        case kDelta:
            stream.reset(new DeltaCoder(size, std::move(input), p.empty() ? 1u : p[0] + 1u));
            return Status::Ok;
        case kAes: return MakeAes(coder, size, std::move(input), stream);
        default: return Unsupported(coder.id);
        }
    }

private:
    // The stream feeding folder-wide in stream `in`: another coder's output or a packed stream.
    Status Input(unsigned in, std::unique_ptr<Stream>& stream, int depth)
    {
        for (const auto& pair : folder_.bindPairs)
            if (pair.first == in)
                return Build(pair.second, stream, depth + 1);
        uint64_t offset = kSignatureHeaderSize + folder_.packOffset;
        for (size_t i = 0; i < folder_.packedStreams.size(); ++i) {
            const uint64_t size = info_.packSizes[folder_.firstPackStream + i];
            if (folder_.packedStreams[i] == in) {
                stream.reset(new PackStream(*context_.source, offset, size));
                return Status::Ok;
            }
            offset += size;
        }
        return Damaged("an input stream without data");
    }

    Status MakeAes(const Coder& coder, uint64_t size, std::unique_ptr<Stream> input, std::unique_ptr<Stream>& stream)
    {
        unsigned power = 0;
        std::vector<uint8_t> salt;
        uint8_t iv[16];
        if (!AesProperties(coder.properties, power, salt, iv))
            return Damaged("bad AES properties");
        if (context_.keys == nullptr || !context_.keys->HasPassword()) {
            context_.detail = ErrorString(Status::Encrypted);
            return Status::Encrypted;
        }
        uint8_t key[32];
        const Status made = context_.keys->Key(context_.crypto, power, salt, key, context_.detail);
        if (made != Status::Ok)
            return made;
        std::unique_ptr<ChainDecipher> decipher = context_.crypto->CreateAesCbcDecipher(key, sizeof key, iv);
        Wipe(key, sizeof key);
        if (decipher == nullptr) {
            context_.detail = "AES encryption is not available";
            return Status::UnsupportedMethod;
        }
        stream.reset(new AesCoder(size, std::move(input), std::move(decipher)));
        return Status::Ok;
    }

    Status Damaged(const char* what)
    {
        context_.detail = std::string("damaged 7z folder: ") + what;
        return Status::DataError;
    }

    Status Unsupported(uint64_t id)
    {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(id));
        const char* name = CoderName(id);
        context_.detail = std::string("7z method ") + (name != nullptr ? name : hex) + " is not supported";
        return Status::UnsupportedMethod;
    }

    const StreamsInfo& info_;
    const Folder& folder_;
    FolderContext& context_;
};

}  // namespace

Status Stream::Read(uint8_t* buffer, size_t capacity, size_t& got)
{
    got = 0;
    if (produced_ == size_)
        return Status::Ok;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, size_ - produced_));
    if (wanted == 0)
        return Status::Ok;
    const Status status = Produce(buffer, wanted, got);
    if (status != Status::Ok)
        return status;
    if (got == 0)
        return Status::DataError;  // the data ended before its declared size
    produced_ += got;
    return Status::Ok;
}

void KeyCache::SetPassword(const std::string& utf8)
{
    Clear();
    // UTF-8 to UTF-16LE; bytes that are no UTF-8 are taken as they are (Latin-1).
    for (size_t i = 0; i < utf8.size();) {
        uint32_t c = static_cast<uint8_t>(utf8[i]);
        size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (i + extra >= utf8.size() + (extra == 0 ? 1 : 0) || c >= 0xF8 || (c >= 0x80 && c < 0xC0))
            extra = 0;
        if (extra > 0) {
            c &= 0x3Fu >> extra;
            for (size_t k = 1; k <= extra; ++k)
                c = (c << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3Fu);
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            const uint32_t high = 0xD800 + (c >> 10);
            const uint32_t low = 0xDC00 + (c & 0x3FF);
            password_.push_back(static_cast<uint8_t>(high));
            password_.push_back(static_cast<uint8_t>(high >> 8));
            password_.push_back(static_cast<uint8_t>(low));
            password_.push_back(static_cast<uint8_t>(low >> 8));
        } else {
            password_.push_back(static_cast<uint8_t>(c));
            password_.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    hasPassword_ = true;
}

void KeyCache::Clear()
{
    if (!password_.empty())
        Wipe(password_.data(), password_.size());
    password_.clear();
    for (Made& made : made_)
        Wipe(made.key, sizeof made.key);
    made_.clear();
    hasPassword_ = false;
}

Status KeyCache::Key(
    Crypto* crypto, unsigned power, const std::vector<uint8_t>& salt, uint8_t key[32], std::string& detail)
{
    for (const Made& made : made_)
        if (made.power == power && made.salt == salt) {
            std::memcpy(key, made.key, 32);
            return Status::Ok;
        }
    Made made;
    made.power = power;
    made.salt = salt;
    if (power == 0x3F) {
        // No hashing: the salt and the password are the key.
        std::memset(made.key, 0, sizeof made.key);
        size_t n = 0;
        for (uint8_t b : salt)
            if (n < 32)
                made.key[n++] = b;
        for (uint8_t b : password_)
            if (n < 32)
                made.key[n++] = b;
    } else {
        if (power > kMaxKeyPower) {
            detail = "7z key derivation with 2^" + std::to_string(power) + " rounds is not supported";
            return Status::UnsupportedMethod;
        }
        std::unique_ptr<Hash> hash = crypto != nullptr ? crypto->CreateSha256() : nullptr;
        if (hash == nullptr) {
            detail = "AES encryption is not available";
            return Status::UnsupportedMethod;
        }
        // Many rounds go into one call: each is the salt, the password and an 8-byte counter.
        const size_t round = salt.size() + password_.size() + 8;
        const uint64_t rounds = uint64_t(1) << power;
        const size_t perCall = std::max<size_t>(1, (256u << 10) / round);
        std::vector<uint8_t> block(perCall * round);
        for (size_t r = 0; r < perCall; ++r) {
            std::copy(salt.begin(), salt.end(), block.begin() + static_cast<std::ptrdiff_t>(r * round));
            std::copy(password_.begin(), password_.end(),
                block.begin() + static_cast<std::ptrdiff_t>(r * round + salt.size()));
        }
        for (uint64_t done = 0; done < rounds;) {
            const size_t now = static_cast<size_t>(std::min<uint64_t>(perCall, rounds - done));
            for (size_t r = 0; r < now; ++r) {
                const uint64_t counter = done + r;
                uint8_t* at = block.data() + r * round + salt.size() + password_.size();
                for (int b = 0; b < 8; ++b)
                    at[b] = static_cast<uint8_t>(counter >> (8 * b));
            }
            if (!hash->Update(block.data(), now * round)) {
                Wipe(block.data(), block.size());
                detail = "AES encryption is not available";
                return Status::UnsupportedMethod;
            }
            done += now;
        }
        Wipe(block.data(), block.size());
        if (!hash->Finish(made.key)) {
            detail = "AES encryption is not available";
            return Status::UnsupportedMethod;
        }
    }
    std::memcpy(key, made.key, 32);
    made_.push_back(made);
    Wipe(made.key, sizeof made.key);
    return Status::Ok;
}

bool FolderIsEncrypted(const Folder& folder)
{
    return std::any_of(folder.coders.begin(), folder.coders.end(), [](const Coder& c) { return c.id == kAes; });
}

std::string FolderMethodText(const Folder& folder)
{
    // From the main stream's coder towards the packed data along each coder's first input: the
    // filters and AES on the way are named after the coder that compresses.
    std::string main;
    std::string filters;
    int coder = folder.MainOut();
    // (An out stream's index is its coder's where every coder has one output; others are refused
    // when decoded, and named by what was found so far.)
    for (size_t step = 0;
         coder >= 0 && static_cast<size_t>(coder) < folder.coders.size() && step < folder.coders.size(); ++step) {
        const Coder& c = folder.coders[static_cast<size_t>(coder)];
        const char* name = CoderName(c.id);
        if (c.id == kAes) {
            // named at the end
        } else if (IsFilter(c.id)) {
            filters = std::string(" ") + (name != nullptr ? name : "?") + filters;
        } else {
            main = name != nullptr ? name : "?";
            break;
        }
        unsigned firstIn = 0;
        for (size_t k = 0; k < static_cast<size_t>(coder); ++k)
            firstIn += folder.coders[k].inStreams;
        coder = -1;
        for (const auto& pair : folder.bindPairs)
            if (pair.first == firstIn)
                coder = static_cast<int>(pair.second);
    }
    if (main.empty())
        main = filters.empty() ? "Copy" : filters.substr(1);
    else
        main += filters;
    return main + (FolderIsEncrypted(folder) ? " AES" : "");
}

uint64_t FolderMemory(const Folder& folder)
{
    uint64_t total = 0;
    for (const Coder& coder : folder.coders) {
        const std::vector<uint8_t>& p = coder.properties;
        if (coder.id == kLzma && p.size() >= 5)
            total += Le32(p, 1);
        else if (coder.id == kLzma2 && !p.empty())
            total += Lzma2Dictionary(p[0]);
        else if (coder.id == kPpmd && p.size() >= 5)
            total += Le32(p, 1);
    }
    return total;
}

Status OpenFolder(const StreamsInfo& info, size_t index, FolderContext& context, std::unique_ptr<Stream>& stream)
{
    const Folder& folder = info.folders[index];
    for (const Coder& coder : folder.coders)
        if (coder.outStreams != 1) {
            context.detail = "7z coders with several outputs are not supported";
            return Status::UnsupportedMethod;
        }
    const uint64_t memory = FolderMemory(folder);
    if (memory > context.memoryLimit) {
        context.detail = "needs " + MebibyteText(memory) + " of memory";
        return Status::UnsupportedMethod;
    }
    try {
        Builder builder(info, folder, context);
        std::unique_ptr<Stream> main;
        const Status built = builder.Build(static_cast<unsigned>(folder.MainOut()), main);
        if (built != Status::Ok)
            return built;
        stream = std::move(main);
    } catch (const std::bad_alloc&) {
        return Status::OutOfMemory;
    }
    return Status::Ok;
}

}  // namespace sevenzip
}  // namespace unzip
