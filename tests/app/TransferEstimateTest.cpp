#include "app/TransferEstimate.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::app {
namespace {

using namespace std::chrono_literals;
using Clock = TransferEstimate::Clock;

constexpr std::int64_t MB = 1024 * 1024;

// A clock that moves only when the test says so.
struct FakeClock
{
    Clock::time_point now{};
    TransferEstimate::Now function()
    {
        return [this] { return now; };
    }
};

TEST(TransferEstimate, NumbersAndDurationsArePortuguese)
{
    struct Case
    {
        std::string shown;
        std::string expected;
    };
    const std::array cases{
        Case{formatDecimal(1234567.891, 1), "1.234.567,9"},
        Case{formatDecimal(999.95, 1), "1.000,0"},
        Case{formatDecimal(0.5, 2), "0,50"},
        Case{formatBytes(0), "0 bytes"},
        Case{formatBytes(1), "1 byte"},
        Case{formatBytes(1023), "1023 bytes"},
        Case{formatBytes(12 * 1024), "12,0 KB"},
        Case{formatBytes(300 * MB), "300,0 MB"},
        Case{formatBytes(1536 * MB), "1,50 GB"},
        Case{formatDuration(0s), "0 s"},
        Case{formatDuration(59s), "59 s"},
        Case{formatDuration(60s), "1 min 00 s"},
        Case{formatDuration(138s), "2 min 18 s"},
        Case{formatDuration(3600s + 5 * 60s + 59s), "1 h 05 min"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.shown, c.expected);
    }
}

TEST(TransferEstimate, ShowsSentOfTotalSpeedAndTimeLeft)
{
    FakeClock clock;
    TransferEstimate e(TransferEstimate::Direction::Sending, clock.function());
    EXPECT_EQ(e.text(), "");
    EXPECT_TRUE(e.update(0, 300 * MB));
    EXPECT_EQ(e.text(), "Enviados 0 bytes de 300,0 MB · calculando...");
    // 2 MB a second for ten seconds.
    for (int i = 1; i <= 40; ++i) {
        clock.now += 250ms;
        e.update(i * MB / 2, 300 * MB);
    }
    ASSERT_TRUE(e.bytesPerSecond().has_value());
    EXPECT_DOUBLE_EQ(*e.bytesPerSecond(), 2.0 * MB);
    EXPECT_EQ(e.timeLeft(), std::chrono::seconds(140));
    EXPECT_EQ(e.text(), "Enviados 20,0 MB de 300,0 MB · 2,0 MB/s · faltam 2 min 20 s");
}

TEST(TransferEstimate, TheSpeedFollowsTheRecentSecondsAndAStallHasNoForecast)
{
    FakeClock clock;
    TransferEstimate e(TransferEstimate::Direction::Receiving, clock.function());
    e.update(0, 100 * MB);
    // Ten seconds at 4 MB/s, then ten at 1 MB/s: the speed shown is the recent one.
    std::int64_t done = 0;
    for (int i = 0; i < 10; ++i) {
        clock.now += 1s;
        e.update(done += 4 * MB, 100 * MB);
    }
    for (int i = 0; i < 10; ++i) {
        clock.now += 1s;
        e.update(done += MB, 100 * MB);
    }
    EXPECT_DOUBLE_EQ(*e.bytesPerSecond(), 1.0 * MB);
    EXPECT_EQ(e.timeLeft(), std::chrono::seconds(50));
    // Nothing moves for the whole window: no time left to promise.
    for (int i = 0; i < 6; ++i) {
        clock.now += 1s;
        e.update(done, 100 * MB);
    }
    EXPECT_EQ(e.timeLeft(), std::nullopt);
    EXPECT_EQ(e.text(), "Recebidos 50,0 MB de 100,0 MB · 0 bytes/s · sem previsão de término");
}

TEST(TransferEstimate, AnUnknownSizeShowsWhatArrivedAndTheSpeed)
{
    FakeClock clock;
    TransferEstimate e(TransferEstimate::Direction::Receiving, clock.function());
    e.update(0, 0);
    clock.now += 2s;
    e.update(3 * MB, 0);
    EXPECT_EQ(e.timeLeft(), std::nullopt);
    EXPECT_EQ(e.text(), "Recebidos 3,0 MB · 1,5 MB/s");
    // A listed size is rounded: a file that outgrows it has no size to promise.
    TransferEstimate listed(TransferEstimate::Direction::Receiving, clock.function());
    listed.update(0, 2 * MB);
    clock.now += 2s;
    listed.update(3 * MB, 2 * MB);
    EXPECT_EQ(listed.timeLeft(), std::nullopt);
    EXPECT_EQ(listed.text(), "Recebidos 3,0 MB · 1,5 MB/s");
}

TEST(TransferEstimate, ANewTextAtMostEveryIntervalAndAlwaysAtTheEnd)
{
    FakeClock clock;
    TransferEstimate e(TransferEstimate::Direction::Sending, clock.function());
    EXPECT_TRUE(e.update(0, 10 * MB));
    clock.now += 100ms;
    EXPECT_FALSE(e.update(MB, 10 * MB));
    clock.now += 100ms;
    EXPECT_FALSE(e.update(2 * MB, 10 * MB));
    clock.now += 50ms;
    EXPECT_TRUE(e.update(3 * MB, 10 * MB));
    clock.now += 10ms;
    EXPECT_FALSE(e.update(4 * MB, 10 * MB));
    // The last block shows at once, and once.
    EXPECT_TRUE(e.update(10 * MB, 10 * MB));
    EXPECT_FALSE(e.update(10 * MB, 10 * MB));
    EXPECT_EQ(e.text(), "Enviados 10,0 MB de 10,0 MB");
}

TEST(TransferEstimate, ARetryOrAnotherFileStartsAnew)
{
    FakeClock clock;
    TransferEstimate e(TransferEstimate::Direction::Sending, clock.function());
    e.update(0, 10 * MB);
    clock.now += 5s;
    e.update(5 * MB, 10 * MB);
    ASSERT_TRUE(e.bytesPerSecond().has_value());
    // The bytes went back: a new transfer, whose speed is not known yet.
    clock.now += 1s;
    EXPECT_TRUE(e.update(MB, 10 * MB));
    EXPECT_EQ(e.bytesPerSecond(), std::nullopt);
    // Another size: another file.
    clock.now += 2s;
    e.update(2 * MB, 10 * MB);
    ASSERT_TRUE(e.bytesPerSecond().has_value());
    EXPECT_TRUE(e.update(2 * MB, 20 * MB));
    EXPECT_EQ(e.bytesPerSecond(), std::nullopt);
}

}  // namespace
}  // namespace vek::app
