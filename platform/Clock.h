#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vek::platform {

// Milliseconds since system start, wrapping at 2^32 like the classic 32-bit tick counter.
std::uint32_t tickCount();

// Nanoseconds of a monotonic high-resolution counter.
std::uint64_t highResolutionCounter();

// Waits a fixed time: through the installed Sleeper when there is one, on
// the real clock otherwise. Only the protocol's fixed pauses go through here.
void sleepFor(std::chrono::milliseconds duration);

// Where fixed pauses go instead of the real clock while a ScopedSleeper
// holds it (a test's clock that records the pauses and returns at once).
class Sleeper
{
public:
    virtual ~Sleeper() = default;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// Puts `sleeper` in place for the pauses of every thread until it goes.
class ScopedSleeper
{
public:
    explicit ScopedSleeper(Sleeper& sleeper);
    ~ScopedSleeper();
    ScopedSleeper(const ScopedSleeper&) = delete;
    ScopedSleeper& operator=(const ScopedSleeper&) = delete;

private:
    Sleeper* previous_;
};

struct LocalDateTime
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const LocalDateTime&) const = default;
};

LocalDateTime localNow();
LocalDateTime toLocal(std::chrono::system_clock::time_point when);

// "dd/mm/yyyy hh:nn:ss.zzz"
std::string formatTimestampMs(const LocalDateTime& t);
// "dd/mm/yyyy hh:nn:ss"
std::string formatTimestamp(const LocalDateTime& t);
// "hh:nn:ss.zzz" of a duration
std::string formatElapsed(std::chrono::milliseconds elapsed);

}  // namespace vek::platform
