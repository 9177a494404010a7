#include "platform/Clock.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

namespace vek::platform {

std::uint32_t tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000U + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t highResolutionCounter()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000U + static_cast<std::uint64_t>(ts.tv_nsec);
}

namespace {
std::atomic<Sleeper*> installedSleeper{nullptr};
}  // namespace

void sleepFor(std::chrono::milliseconds duration)
{
    if (Sleeper* s = installedSleeper.load()) {
        s->sleepFor(duration);
        return;
    }
    if (duration.count() > 0) {
        std::this_thread::sleep_for(duration);
    }
}

ScopedSleeper::ScopedSleeper(Sleeper& sleeper)
    : previous_(installedSleeper.exchange(&sleeper))
{}

ScopedSleeper::~ScopedSleeper()
{
    installedSleeper.store(previous_);
}

LocalDateTime toLocal(std::chrono::system_clock::time_point when)
{
    const auto sinceEpoch = when.time_since_epoch();
    const auto secs = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const std::time_t tt = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    localtime_r(&tt, &tm);
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - secs).count());
    return t;
}

LocalDateTime localNow()
{
    return toLocal(std::chrono::system_clock::now());
}

std::string formatTimestampMs(const LocalDateTime& t)
{
    char buf[40];
    std::snprintf(buf,
                  sizeof buf,
                  "%02d/%02d/%04d %02d:%02d:%02d.%03d",
                  t.day,
                  t.month,
                  t.year,
                  t.hour,
                  t.minute,
                  t.second,
                  t.millisecond);
    return buf;
}

std::string formatTimestamp(const LocalDateTime& t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string formatElapsed(std::chrono::milliseconds elapsed)
{
    long long ms = elapsed.count() < 0 ? 0 : elapsed.count();
    const long long h = ms / 3600000;
    ms %= 3600000;
    const long long m = ms / 60000;
    ms %= 60000;
    const long long s = ms / 1000;
    ms %= 1000;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", h, m, s, ms);
    return buf;
}

}  // namespace vek::platform
