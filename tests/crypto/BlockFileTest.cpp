#include "crypto/BlockFile.h"

#include "crypto/UploadPreparation.h"
#include "platform/Error.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vek::crypto {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Written in uneven pieces, read back by the split rule: every block equals
// the in-memory cut of the same bytes, and the directory never shows the file.
TEST(BlockFile, ReadsBackTheBlocksOfTheSplitRuleAndLeavesNoFile)
{
    const test::Sandbox box(false);
    for (const std::size_t size : {0u, 1000u, 1280u, 2560u, 300001u, 1621760u}) {
        SCOPED_TRACE(size);
        const Bytes bytes = test::bytesOf(test::randomBytes(size, static_cast<std::uint32_t>(size) + 1));
        BlockFile file(box.path() / "DADOS1.cpt");
        EXPECT_TRUE(fs::is_empty(box.path()));
        for (std::size_t at = 0, piece = 1; at < size; at += piece, piece = piece * 3 + 1) {
            piece = std::min(piece, size - at);
            file.append(std::span(bytes).subspan(at, piece));
        }
        file.finish(UploadBlockSize);

        int percent = 0;
        const BlockSplit expected = splitIntoBlocks(bytes, UploadBlockSize, percent, {});
        EXPECT_EQ(file.total(), expected.total);
        EXPECT_EQ(file.blockSize(), expected.blockSize);
        ASSERT_EQ(file.size(), expected.blocks.size());
        EXPECT_TRUE(file.readAll() == expected.blocks);
        // Any block on its own, the last one included.
        const std::size_t last = file.size() - 1;
        EXPECT_TRUE(file.block(last) == expected.blocks[last]);
        EXPECT_TRUE(file.block(last / 2) == expected.blocks[last / 2]);

        file.release();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(file.size(), expected.blocks.size());
        EXPECT_THROW((void)file.block(0), Error);
        EXPECT_TRUE(fs::is_empty(box.path()));
    }
}

TEST(BlockFile, RefusesMoreThanTheBoundAndAFileItCannotCreate)
{
    const test::Sandbox box(false);
    BlockFile file(box.path() / "x.cpt", 3000);
    const Bytes kilo(1000, 0x5A);
    file.append(kilo);
    file.append(kilo);
    file.append(kilo);
    try {
        file.append(Bytes(1, 0));
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Arquivo grande demais para envio");
        EXPECT_EQ(e.code(), EFBIG);
    }
    file.finish(UploadBlockSize);
    EXPECT_EQ(file.total(), 3000);

    try {
        BlockFile missing(box.path() / "sem.pasta" / "x.cpt");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOENT);
    }
}

// The preparation's blocks come from the work file, and nothing of it stays
// in the temporary directory while they are read.
TEST(BlockFile, PreparationKeepsTheBlocksOutOfTheTemporaryDirectory)
{
    const test::Sandbox box(false);
    const fs::path temp = box.path() / "temp";
    fs::create_directory(temp);
    const std::string content = test::randomBytes(200000, 5);
    const auto source = box.write("DADOS.XML", content);
    PreparedUploadFile up = prepareUploadFile(source.string(), temp, UploadBlockSize, {});
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_GT(up.blocks.size(), 150U);
    const fs::path restored = box.path() / "restored";
    restoreUpload(up.key, up.blocks, restored);
    EXPECT_TRUE(test::readFile(restored) == content);
}

}  // namespace
}  // namespace vek::crypto
