#pragma once

#include "wire/MessageCodes.h"

// The channel speaks the wire library's vocabulary; code written against the
// channel may name it under the channel's namespace too.
namespace vek::channel {
using namespace vek::wire;
}  // namespace vek::channel
