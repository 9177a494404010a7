#include "platform/File.h"

#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <utility>

namespace vek::platform {
namespace {

bool isOpenDescriptor(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(File, EveryWayOfOpeningGivesAPrivateDescriptorThatClosesWithItsOwner)
{
    test::Sandbox dir{false};
    const auto existing = dir.write("existente", "conteúdo");
    struct Case
    {
        const char* name;
        std::function<bool(File&)> open;
    };
    const std::array cases{
        Case{.name = "openRead", .open = [&](File& f) { return f.openRead(existing); }},
        Case{.name = "create", .open = [&](File& f) { return f.create(dir.path() / "novo"); }},
        Case{.name = "open", .open = [&](File& f) { return f.open(dir.path(), O_RDONLY | O_DIRECTORY); }},
        Case{.name = "createTemporary",
             .open =
                 [&](File& f) {
                     std::string name = (dir.path() / "tmp.XXXXXX").string();
                     return f.createTemporary(name) && name.find("XXXXXX") == std::string::npos;
                 }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = -1;
        {
            File f;
            ASSERT_TRUE(c.open(f)) << errno;
            fd = f.fd();
            // Programs the window or zebd start must not inherit it.
            EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        }
        EXPECT_FALSE(isOpenDescriptor(fd));
    }
}

TEST(File, MovingHandsTheDescriptorOverAndAssignmentClosesTheOldOne)
{
    test::Sandbox dir{false};
    const auto a = dir.write("a", "A");
    const auto b = dir.write("b", "B");
    File first;
    ASSERT_TRUE(first.openRead(a));
    const int firstFd = first.fd();
    File second(std::move(first));
    EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(second.fd(), firstFd);

    File third;
    ASSERT_TRUE(third.openRead(b));
    const int thirdFd = third.fd();
    third = std::move(second);
    EXPECT_EQ(third.fd(), firstFd);
    EXPECT_FALSE(isOpenDescriptor(thirdFd));
    EXPECT_TRUE(third.close());
    EXPECT_FALSE(isOpenDescriptor(firstFd));
    EXPECT_TRUE(third.close());  // closing twice is harmless
}

TEST(File, WritesEverythingAndReadsItBack)
{
    test::Sandbox dir{false};
    const auto path = dir.path() / "dados";
    std::string content(300000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7);
    }
    File out;
    ASSERT_TRUE(out.create(path, 0600));
    ASSERT_TRUE(out.writeAll(content.data(), content.size()));
    EXPECT_TRUE(out.sync());
    EXPECT_EQ(out.size(), static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(out.close());
    EXPECT_EQ(test::readFile(path), content);

    File in;
    ASSERT_TRUE(in.openRead(path));
    std::string back(content.size() + 10, '\0');
    EXPECT_EQ(in.readFull(back.data(), back.size()), static_cast<std::ptrdiff_t>(content.size()));
    back.resize(content.size());
    EXPECT_EQ(back, content);
}

TEST(File, FailuresLeaveTheSystemsReason)
{
    File full;
    ASSERT_TRUE(full.open("/dev/full", O_WRONLY));
    errno = 0;
    EXPECT_FALSE(full.writeAll("x", 1));
    EXPECT_EQ(errno, ENOSPC);

    test::Sandbox dir{false};
    File missing;
    errno = 0;
    EXPECT_FALSE(missing.openRead(dir.path() / "nada"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(missing.isOpen());
}

TEST(StdioFile, CloseReportsDataThatCouldNotBeWrittenOut)
{
    // /dev/full accepts the buffered write and refuses it when it is flushed.
    StdioFile full;
    ASSERT_TRUE(full.open("/dev/full", "wb"));
    ASSERT_EQ(std::fwrite("dados", 1, 5, full.get()), 5U);
    errno = 0;
    EXPECT_FALSE(full.close());
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(full.isOpen());
    EXPECT_TRUE(full.close());

    test::Sandbox dir{false};
    const auto path = dir.path() / "texto";
    {
        StdioFile out;
        ASSERT_TRUE(out.open(path, "wb"));
        ASSERT_GE(std::fputs("linha\r\n", out.get()), 0);
        // Not closed by hand: the owner flushes and closes it.
    }
    EXPECT_EQ(test::readFile(path), "linha\r\n");
}

}  // namespace
}  // namespace vek::platform
