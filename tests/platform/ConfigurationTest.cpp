#include "platform/Configuration.h"

#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace vek::platform {
namespace {

TEST(Configuration, TheUsersKeysWinKeyByKeyOverTheLayerBelow)
{
    test::Sandbox box(false);
    const auto own = box.write("vek.INI",
                               "[defaults]\r\nservidorinternet=meu.servidor\r\nPortaFTP=abc\r\nDepuracao=\r\n"
                               "[Outra]\r\nChave=minha\r\n");
    const auto below =
        box.write("modelo.INI",
                  "[Defaults]\r\nServidorInternet=zeb.example.org\r\nPortaServico=8080\r\nPortaFTP=2121\r\n"
                  "Depuracao=S\r\n");
    const Configuration config(own, below);

    struct Case
    {
        const char* name;
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const std::array cases{
        Case{.name = "the user's", .section = "Defaults", .key = "ServidorInternet", .value = "meu.servidor"},
        Case{.name = "only below", .section = "Defaults", .key = "PortaServico", .value = "8080"},
        Case{.name = "an empty value of the user's", .section = "Defaults", .key = "Depuracao", .value = ""},
        Case{.name = "a section only the user has", .section = "Outra", .key = "Chave", .value = "minha"},
        Case{.name = "nowhere", .section = "Defaults", .key = "PortaDados", .value = std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(config.read(c.section, c.key), c.value);
    }
    // A number is read from the file that holds the key: the user's invalid
    // one gives the default, not the template's.
    EXPECT_EQ(config.readInteger("Defaults", "PortaServico", 80), 8080);
    EXPECT_EQ(config.readInteger("Defaults", "PortaFTP", 21), 21);
    EXPECT_EQ(config.readInteger("Defaults", "PortaDados", 20001), 20001);
}

TEST(Configuration, AMissingOrUnreadableLayerBelowReadsAsEmpty)
{
    test::Sandbox box(false);
    const auto own = box.write("vek.INI", "[Defaults]\r\nPortaServico=9\r\n");
    std::filesystem::create_directory(box.path() / "diretorio.INI");
    for (const auto& below : {box.path() / "ausente.INI", box.path() / "diretorio.INI"}) {
        SCOPED_TRACE(below.filename().string());
        const Configuration config(own, below);
        EXPECT_EQ(config.readInteger("Defaults", "PortaServico", 80), 9);
        EXPECT_FALSE(config.read("Defaults", "ServidorInternet"));
    }
}

TEST(Configuration, DefaultsAreWrittenOnlyWhereNoLayerLiesBelow)
{
    test::Sandbox box(false);
    const auto below = box.write("modelo.INI", "[Defaults]\r\nServidorInternet=zeb.example.org\r\n");

    Configuration own(box.path() / "proprio.INI", std::nullopt);
    own.writeDefault("Defaults", "ServidorInternet", "127.0.0.1");
    own.writeDefault("Defaults", "ServidorInternet", "outro");
    EXPECT_EQ(box.read("proprio.INI"), "[Defaults]\r\nServidorInternet=127.0.0.1\r\n");

    Configuration layered(box.path() / "usuario.INI", below);
    layered.writeDefault("Defaults", "ServidorInternet", "127.0.0.1");
    layered.writeDefault("Defaults", "PortaServico", "80");
    EXPECT_FALSE(std::filesystem::exists(box.path() / "usuario.INI"));
}

}  // namespace
}  // namespace vek::platform
