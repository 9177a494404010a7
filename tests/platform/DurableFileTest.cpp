#include "platform/DurableFile.h"

#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace vek::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DurableFile, AWrittenFileReplacesTheOldOneWholeAndLeavesNoTemporary)
{
    test::Sandbox box;
    const auto path = box.path() / "saida.xml";
    writeFileDurably(path, "primeiro");
    writeFileDurably(path, std::string(200000, 'x'));
    EXPECT_EQ(test::readFile(path), std::string(200000, 'x'));
    EXPECT_EQ(namesIn(box.path()), (std::vector<std::string>{"saida.xml"}));

    try {
        writeFileDurably(box.path() / "falta" / "saida.xml", "x");
        FAIL() << "a file in a missing folder was written";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find((box.path() / "falta" / ".saida.xml.tmp").string()), std::string::npos)
            << e.what();
    }
}

// Within a file system and across one (the work area against /dev/shm, a
// tmpfs): the file arrives whole, the original is gone, and an existing
// target is never replaced.
TEST(DurableFile, AMoveNeverReplacesAndLeavesExactlyOneCopy)
{
    test::Sandbox box;
    const fs::path shm = "/dev/shm/vek-durable-" + std::to_string(::getpid());
    fs::create_directories(shm);
    for (const fs::path& destination : {box.path() / "destino", shm}) {
        SCOPED_TRACE(destination);
        fs::create_directories(destination);
        const auto from = box.path() / "origem.dat";
        test::writeFile(from, std::string(100000, 'a'));
        moveDurably(from, destination / "origem.dat");
        EXPECT_FALSE(fs::exists(from));
        EXPECT_EQ(test::readFile(destination / "origem.dat"), std::string(100000, 'a'));
        EXPECT_EQ(namesIn(destination), (std::vector<std::string>{"origem.dat"}));

        test::writeFile(from, "outro");
        try {
            moveDurably(from, destination / "origem.dat");
            ADD_FAILURE() << "an existing file was replaced";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), EEXIST) << e.what();
        }
        EXPECT_EQ(test::readFile(from), "outro");
        EXPECT_EQ(test::readFile(destination / "origem.dat"), std::string(100000, 'a'));
        EXPECT_EQ(namesIn(destination), (std::vector<std::string>{"origem.dat"}));
        fs::remove(from);
    }
    fs::remove_all(shm);
}

}  // namespace
}  // namespace vek::platform
