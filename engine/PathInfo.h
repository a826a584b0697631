#pragma once
// The path helper lives in framework/; this name stays until the extraction run's files include it
// from there.
#include "framework/PathInfo.h"

namespace engine {
using PathInfo = fw::PathInfo;
}  // namespace engine
