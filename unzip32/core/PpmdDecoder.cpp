#include "unzip32/core/PpmdDecoder.h"

#include "unzip32/core/SevenZipAllocator.h"

#include <Ppmd8.h>

namespace unzip {

struct PpmdDecoder::Model {
    // Ppmd8 pulls its input a byte at a time through this interface; it must come first, as the
    // reader's functions get a pointer to it.
    IByteIn reader;
    MemberInput* input;
    bool ranOut = false;  // a byte past the end of the data (or past what could be read) was asked for
    CPpmd8 ppmd;
    bool allocated = false;

    static Byte ReadByte(IByteInPtr self)
    {
        Model* model = reinterpret_cast<Model*>(const_cast<IByteIn*>(self));
        MemberInput& in = *model->input;
        if (in.available == 0 && !in.Fill()) {
            model->ranOut = true;
            return 0;
        }
        --in.available;
        return *in.next++;
    }
};

PpmdDecoder::PpmdDecoder(const Entry& entry, MemberInput& input) : entry_(entry), input_(input) { }

PpmdDecoder::~PpmdDecoder()
{
    if (model_ && model_->allocated)
        Ppmd8_Free(&model_->ppmd, &kSevenZipAllocator);
}

namespace {

struct Parameters {
    unsigned order;
    uint64_t memory;
    unsigned restoration;
};

Status ReadParameters(MemberInput& input, Parameters& parameters)
{
    uint8_t header[2];
    if (!input.Take(header, sizeof header))
        return input.Failed() ? Status::Truncated : Status::DataError;
    const unsigned bits = header[0] | (static_cast<unsigned>(header[1]) << 8);
    parameters.order = (bits & 0x0F) + 1;
    parameters.memory = static_cast<uint64_t>(((bits >> 4) & 0xFF) + 1) << 20;
    parameters.restoration = bits >> 12;
    return parameters.order < PPMD8_MIN_ORDER ? Status::DataError : Status::Ok;
}

}  // namespace

uint64_t PpmdDecoder::Memory(MemberInput& input)
{
    Parameters parameters;
    return ReadParameters(input, parameters) == Status::Ok ? parameters.memory : 0;
}

Status PpmdDecoder::Start()
{
    Parameters parameters;
    const Status read = ReadParameters(input_, parameters);
    if (read != Status::Ok)
        return read;
    if (parameters.restoration >= PPMD8_RESTORE_METHOD_UNSUPPPORTED) {
        detail_ = "PPMd restoration method " + std::to_string(parameters.restoration) + " is not decoded";
        return Status::UnsupportedMethod;
    }
    if (parameters.memory > memoryLimit_)
        return Refuse(parameters.memory);
    model_.reset(new Model());
    model_->reader.Read = &Model::ReadByte;
    model_->input = &input_;
    Ppmd8_Construct(&model_->ppmd);
    if (!Ppmd8_Alloc(&model_->ppmd, static_cast<UInt32>(parameters.memory), &kSevenZipAllocator))
        return Status::OutOfMemory;
    model_->allocated = true;
    model_->ppmd.Stream.In = &model_->reader;
    if (!Ppmd8_Init_RangeDec(&model_->ppmd) || model_->ranOut)
        return input_.Failed() ? Status::Truncated : Status::DataError;
    Ppmd8_Init(&model_->ppmd, parameters.order, parameters.restoration);
    return Status::Ok;
}

Status PpmdDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    // Nothing in the data marks its end but (optionally) an end marker: the declared size ends it
    // and the CRC settles whether it was right.
    while (size < capacity) {
        if (produced_ == entry_.size) {
            finished = true;
            break;
        }
        const int symbol = Ppmd8_DecodeSymbol(&model_->ppmd);
        if (model_->ranOut)
            return input_.Failed() ? Status::Truncated : Status::DataError;
        if (symbol == PPMD8_SYM_END) {
            finished = true;
            break;
        }
        if (symbol < 0)
            return Status::DataError;
        buffer[size++] = static_cast<uint8_t>(symbol);
        ++produced_;
    }
    if (produced_ == entry_.size)
        finished = true;
    return Status::Ok;
}

}  // namespace unzip
