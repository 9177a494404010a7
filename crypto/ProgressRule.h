#pragma once

#include <cstdint>

namespace vek::crypto {

// The progress rule that the file components share: after each piece, with
// x = done / base * 100, the event fires when progress + step <= x or when
// done equals base; progress becomes the integer part of x before it fires.
// A step of 0 turns the events off.
template <typename Fire>
void advanceProgress(int step, int& progress, std::uint64_t done, std::uint64_t base, Fire&& fire)
{
    if (step <= 0) {
        return;
    }
    const double x = base == 0 ? 100.0 : static_cast<double>(done) / static_cast<double>(base) * 100.0;
    if (static_cast<double>(progress) + step <= x || done == base) {
        progress = static_cast<int>(x);
        fire();
    }
}

}  // namespace vek::crypto
