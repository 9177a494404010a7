#include "ftp/TZEBFileStream.h"

#include "platform/Error.h"
#include "tests/ftp/FtpTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace vek::ftp {
namespace {

using test::FileSizeLimit;
using test::Sandbox;

std::span<const std::uint8_t> bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(TZEBFileStream, TruncatesAnExistingFileAndNotifiesEveryWrite)
{
    Sandbox dir{false};
    const auto path = (dir.path() / "arquivo.tmp").string();
    test::writeFile(path, "an older and longer content");

    std::vector<std::int64_t> counts;
    {
        TZEBFileStream stream(path);
        stream.OnWrite = [&](TZEBFileStream& sender, std::int64_t count) {
            EXPECT_EQ(&sender, &stream);
            counts.push_back(count);
        };
        stream.write(bytes("abc"));
        stream.write(bytes("de"));
        EXPECT_EQ(stream.position(), 5);
        stream.close();
    }
    EXPECT_EQ(test::readFile(path), "abcde");
    EXPECT_EQ(counts, (std::vector<std::int64_t>{3, 2}));
}

TEST(TZEBFileStream, CreationFailureCarriesErrno)
{
    Sandbox dir{false};
    try {
        TZEBFileStream stream((dir.path() / "missing/arquivo.tmp").string());
        FAIL() << "a file in a missing directory was created";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("arquivo.tmp"), std::string::npos) << e.what();
    }
}

TEST(TZEBFileStream, FullDiskFailsTheWriteWithoutNotifying)
{
    // /dev/full takes nothing: every write fails with ENOSPC.
    TZEBFileStream stream("/dev/full");
    bool notified = false;
    stream.OnWrite = [&](TZEBFileStream&, std::int64_t) { notified = true; };
    try {
        stream.write(bytes("dados"));
        FAIL() << "a write to a full device passed";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOSPC) << e.what();
    }
    EXPECT_FALSE(notified);
}

TEST(TZEBFileStream, PartlyStoredWriteFails)
{
    // The system stores the first 10 bytes of the piece and refuses the rest.
    Sandbox dir{false};
    const auto path = (dir.path() / "parcial.tmp").string();
    TZEBFileStream stream(path);
    {
        FileSizeLimit limit(10);
        try {
            stream.write(bytes("0123456789abcdef"));
            FAIL() << "a write that stored 10 of 16 bytes passed";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), EFBIG) << e.what();
        }
    }
    stream.close();
    EXPECT_EQ(test::readFile(path), "0123456789");
}

}  // namespace
}  // namespace vek::ftp
