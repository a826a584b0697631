#include "unzip32/core/NameDetection.h"

namespace unzip {

namespace {

// Made at load time: a function's own static would need the runtime's thread-safe guard.
const std::vector<unsigned> kCandidates = {437, 850, 866, 932, 936, 949, 950, 1250, 1251, 1252};

}  // namespace

const std::vector<unsigned>& CandidateNamePages()
{
    return kCandidates;
}

// For now the user's page, always: the names read as Windows reads them.
unsigned DetectNamePage(const std::vector<std::string>& rawNames, const NameCodec& codec, unsigned userPage)
{
    (void)rawNames;
    (void)codec;
    return userPage;
}

}  // namespace unzip
