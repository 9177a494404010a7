#include "platform/IniFile.h"

#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

namespace vek::platform {
namespace {

TEST(IniFile, FirstWriteCreatesFileWithSection)
{
    test::Sandbox box;
    IniFile ini(box.path() / "vek.INI");
    EXPECT_FALSE(ini.read("Defaults", "ServidorInternet"));
    ini.write("Defaults", "ServidorInternet", "127.0.0.1");
    ini.write("Defaults", "PortaServico", "80");
    EXPECT_EQ(box.read("vek.INI"), "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\n");
}

TEST(IniFile, WriteKeepsCommentsOtherSectionsAndOrder)
{
    test::Sandbox box;
    box.write("a.ini",
              "; comment on top\n[Outra]\nX=1\n\n[defaults]\n# note\nDepuracao = sim \nPortaServico=9\n[Fim]\nY=2\n");
    IniFile ini(box.path() / "a.ini");
    ini.write("Defaults", "PortaServico", "8080");
    ini.write("Defaults", "Novo", "v");
    EXPECT_EQ(
        box.read("a.ini"),
        "; comment on top\r\n[Outra]\r\nX=1\r\n\r\n[defaults]\r\n# note\r\nDepuracao = sim \r\nPortaServico=8080\r\n"
        "Novo=v\r\n[Fim]\r\nY=2\r\n");
}

TEST(IniFile, ReadsCaseInsensitivelyTrimmedAndIntegersStrictly)
{
    test::Sandbox box;
    box.write("a.ini", "[DEFAULTS]\r\ndepuracao =  sim \r\nPortaServico=abc\r\nPortaFTP= 2121\r\nQ=\"x y\"\r\n");
    IniFile ini(box.path() / "a.ini");
    EXPECT_EQ(ini.readString("Defaults", "Depuracao", "N"), "sim");
    EXPECT_EQ(ini.readInteger("Defaults", "PortaServico", 80), 80);
    EXPECT_EQ(ini.readInteger("Defaults", "PortaFTP", 21), 2121);
    EXPECT_EQ(ini.readInteger("Defaults", "Ausente", 21), 21);
    EXPECT_EQ(ini.readString("Defaults", "Q", ""), "x y");
    EXPECT_FALSE(ini.read("Outra", "depuracao"));
}

TEST(IniFile, RemoveTakesTheListedKeysOutOfEverySectionOfThatName)
{
    test::Sandbox box;
    box.write("a.ini",
              "; comentário\n[Defaults]\nservidorinternet = a\nPortaFTP=21\n[Outra]\nPortaServico=1\n"
              "[DEFAULTS]\nPortaServico=2\n");
    IniFile ini(box.path() / "a.ini");
    ini.remove({{"defaults", "ServidorInternet"}, {"Defaults", "PortaServico"}, {"Defaults", "Ausente"}});
    EXPECT_EQ(box.read("a.ini"),
              "; comentário\r\n[Defaults]\r\nPortaFTP=21\r\n[Outra]\r\nPortaServico=1\r\n[DEFAULTS]\r\n");

    // Nothing to remove: the file is not written (nor created).
    IniFile missing(box.path() / "b.ini");
    missing.remove({{"Defaults", "PortaFTP"}});
    EXPECT_FALSE(std::filesystem::exists(box.path() / "b.ini"));
}

}  // namespace
}  // namespace vek::platform
