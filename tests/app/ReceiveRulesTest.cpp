#include "app/ReceiveRules.h"

#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <sys/stat.h>

namespace vek::app {
namespace {

namespace fs = std::filesystem;

struct Outcome
{
    bool moved;
    std::string destinationContent;
    std::string errorPart;  // part of the error text; empty when none
};

Outcome move(const fs::path& from, const fs::path& to, bool replace)
{
    try {
        moverArquivoBaixado(from, to, replace);
    } catch (const Error& e) {
        return {false, fs::exists(to) ? test::readFile(to) : "", e.what()};
    }
    return {true, test::readFile(to), ""};
}

TEST(MoverArquivoBaixado, ReplacesOnlyWhenAskedAndKeepsTheDownloadOnFailure)
{
    struct Case
    {
        const char* name;
        bool existing;
        bool replace;
        bool missingDir;
        Outcome expected;
    };
    const std::array cases{
        Case{"new place", false, false, false, {true, "novo", ""}},
        Case{"existing file kept", true, false, false, {false, "antigo", "já existe e não foi substituído"}},
        Case{"existing file replaced when asked", true, true, false, {true, "novo", ""}},
        Case{"no such directory", false, false, true, {false, "", "Não foi possível gravar o arquivo"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box(false);
        const fs::path from = box.write("temp/retorno.xml", "novo");
        fs::path to = box.path() / "destino" / "retorno.xml";
        fs::create_directories(to.parent_path());
        if (c.existing) {
            test::writeFile(to, "antigo");
        }
        if (c.missingDir) {
            to = box.path() / "nao-existe" / "retorno.xml";
        }
        const Outcome got = move(from, to, c.replace);
        EXPECT_EQ(got.moved, c.expected.moved);
        EXPECT_EQ(got.destinationContent, c.expected.destinationContent);
        if (c.expected.errorPart.empty()) {
            EXPECT_FALSE(fs::exists(from));
        } else {
            EXPECT_NE(got.errorPart.find(c.expected.errorPart), std::string::npos) << got.errorPart;
            // The error says where the download stayed, and it is still there.
            EXPECT_NE(got.errorPart.find(from.string()), std::string::npos) << got.errorPart;
            EXPECT_EQ(test::readFile(from), "novo");
        }
        // Nothing else is left beside the destination.
        if (!c.missingDir) {
            EXPECT_EQ(std::distance(fs::directory_iterator(to.parent_path()), fs::directory_iterator()), 1);
        }
    }
}

// /dev/shm is another file system than the sandbox on most machines: the
// download is copied across and renamed into place, never replacing a file.
TEST(MoverArquivoBaixado, CrossesFileSystems)
{
    test::Sandbox box(false);
    struct stat shm
    {
    };
    struct stat here
    {
    };
    if (::stat("/dev/shm", &shm) != 0 || ::stat(box.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
        GTEST_SKIP() << "no second file system";
    }
    const fs::path from = fs::path("/dev/shm") / ("vek-download-" + std::to_string(::getpid()));
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing);
        test::writeFile(from, "conteúdo baixado");
        const fs::path to = box.path() / (existing ? "existe.txt" : "novo.txt");
        if (existing) {
            test::writeFile(to, "antigo");
        }
        const Outcome got = move(from, to, false);
        EXPECT_EQ(got.moved, !existing);
        EXPECT_EQ(got.destinationContent, existing ? "antigo" : "conteúdo baixado");
        EXPECT_EQ(fs::exists(from), existing);
        fs::remove(from);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(box.path()), fs::directory_iterator()), 2);
}

TEST(ReceiveRules, ExpectedSizeStaysInTheChannelsRange)
{
    EXPECT_EQ(tamanhoEsperadoDownload(3072), 3072);
    EXPECT_EQ(tamanhoEsperadoDownload(-5), 0);
    EXPECT_EQ(tamanhoEsperadoDownload(std::int64_t{1} << 40), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(textoArquivoCopiado("/home/op/retorno.xml"),
              "O arquivo foi copiado para o diretório \"/home/op/retorno.xml\"");
}

}  // namespace
}  // namespace vek::app
