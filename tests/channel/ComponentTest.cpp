#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Win1252.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <sstream>

namespace vek::channel {
namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
        out.push_back(text.substr(start, pos - start));
    }
    return out;
}

TEST(TCanalZEBCliente, PropertiesFollowTheirSetterRules)
{
    test::Sandbox box;
    TCanalZEBCliente canal;
    EXPECT_EQ(canal.VersaoTransmissor(), "VEK-4.0.8");
    EXPECT_EQ(canal.ID_Aplicacao_no_Servidor(), "VEK-4.0.8");
    canal.SetAplicacao("XYZ");
    canal.SetVersaoAplicativo("");
    EXPECT_EQ(canal.ID_Aplicacao_no_Servidor(), "XYZ-4.0.8");
    canal.SetAplicacao("");
    EXPECT_EQ(canal.Aplicacao(), "XYZ");
    EXPECT_EQ(canal.VersaoTransmissor(), "VEK-4.0.8");
    canal.SetTipo_Arquivo("txt");
    EXPECT_EQ(canal.Tipo_Arquivo(), "TXT");
    canal.SetTipo_Arquivo("ção");
    EXPECT_EQ(canal.Tipo_Arquivo(), "ÇÃO");
    EXPECT_EQ(canal.ArquivoTrace, (box.path() / "TraceVEK.log").string());
    EXPECT_TRUE(canal.CD_Operadora.empty());
    EXPECT_TRUE(canal.Prot_Ultimo_Envio().empty());
}

TEST(TCanalZEBCliente, FirstConfigurationReadCreatesTheFileAndKeepsTracingOff)
{
    test::Sandbox box;
    TCanalZEBCliente canal;
    canal.LerConfiguracao();
    EXPECT_EQ(box.read("vek.INI"), "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\n");
    EXPECT_EQ(canal.host(), "127.0.0.1");
    EXPECT_EQ(canal.porta(), 80);
    EXPECT_EQ(canal.portaFTP(), 21);
    EXPECT_EQ(canal.portaDados(), 20001);
    EXPECT_FALSE(canal.traceLigado());
    canal.GravarTrace("nada");
    EXPECT_FALSE(std::filesystem::exists(box.path() / "TraceVEK.log"));
}

TEST(TCanalZEBCliente, ConfigurationSwitchesAndAddedKeys)
{
    struct Case
    {
        const char* name;
        const char* lines;
        bool trace;
        bool cipher;
    };
    const std::array cases{
        Case{"sim in any case", "Depuracao=sIm\r\n", true, true},
        Case{"N", "Depuracao=N\r\n", false, true},
        Case{"empty", "Depuracao=\r\n", false, true},
        Case{"plain lines", "Depuracao=S\r\nArquivoDepuracaoCript=nao\r\n", true, false},
        Case{"empty cipher switch", "Depuracao=S\r\nArquivoDepuracaoCript=\r\n", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        box.write("vek.INI",
                  std::string("; mantido\r\n[Defaults]\r\nServidorInternet=zeb.exemplo\r\nPortaServico=8080\r\n"
                              "PortaFTP=2121\r\nPortaDados=abc\r\n") +
                      c.lines + "[Outra]\r\nX=1\r\n");
        const std::string before = box.read("vek.INI");
        TCanalZEBCliente canal;
        canal.LerConfiguracao();
        EXPECT_EQ(canal.traceLigado(), c.trace);
        EXPECT_EQ(canal.traceCifrado(), c.cipher);
        EXPECT_EQ(canal.host(), "zeb.exemplo");
        EXPECT_EQ(canal.porta(), 8080);
        EXPECT_EQ(canal.portaFTP(), 2121);
        EXPECT_EQ(canal.portaDados(), 20001);
        EXPECT_EQ(box.read("vek.INI"), before);  // nothing rewritten, other lines kept
    }
}

TEST(TCanalZEBCliente, TraceLinesArePlainOrEncipheredWithTheTraceCipher)
{
    test::Sandbox box;
    box.write("vek.INI", "[Defaults]\r\nDepuracao=S\r\nArquivoDepuracaoCript=N\r\n");
    TCanalZEBCliente canal;
    canal.LerConfiguracao();
    canal.GravarTrace("*** ENVIO DE ARQUIVO *** \r\r");
    canal.GravarTrace("Conexão");
    auto plain = lines(box.read("TraceVEK.log"));
    ASSERT_EQ(plain.size(), 2U);
    const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} - )");
    EXPECT_TRUE(std::regex_search(plain[0], stamp));
    EXPECT_EQ(plain[0].substr(26), "*** ENVIO DE ARQUIVO *** \r\r");
    EXPECT_EQ(plain[1].substr(26), "Conex\xE3o");  // Windows-1252 in the file

    box.write("vek.INI", "[Defaults]\r\nDepuracao=S\r\n");
    std::filesystem::remove(box.path() / "TraceVEK.log");
    canal.LerConfiguracao();
    canal.GravarTrace("Conexão");
    auto ciphered = lines(box.read("TraceVEK.log"));
    ASSERT_EQ(ciphered.size(), 1U);
    EXPECT_EQ(ciphered[0].find_first_not_of("ABCDEFGHIJKLMNOP"), std::string::npos);
    const std::string back = platform::fromWin1252(crypto::DecryptVEKText(ciphered[0]));
    EXPECT_TRUE(std::regex_search(back, stamp));
    EXPECT_EQ(back.substr(26), "Conexão");
}

TEST(TCanalZEBCliente, TraceAlwaysLiesInTheBaseDirectory)
{
    test::Sandbox box;
    box.write("vek.INI", "[Defaults]\r\nDepuracao=S\r\nArquivoDepuracaoCript=N\r\n");
    TCanalZEBCliente canal;
    canal.LerConfiguracao();
    canal.ArquivoTrace = "/algum/outro/lugar/Outro.log";
    canal.GravarTrace("x");
    EXPECT_TRUE(std::filesystem::exists(box.path() / "Outro.log"));
}

TEST(TCanalZEBCliente, ReportarEnvioClampsAndFiresThenProcessesEvents)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    TCanalZEBCliente canal;
    std::vector<TStatusUpload> seen;
    canal.AoEnviarArquivo = [&](TCanalZEBCliente&, const TStatusUpload& s) {
        EXPECT_EQ(ui.eventCalls(), static_cast<long>(seen.size()));  // events processed after the handler
        seen.push_back(s);
    };
    canal.ReportarEnvio(tseFinalizada, 150, tseExecutando, 50, tseNada, 0, std::string(300, 'x'));
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].PercentPreparacao, 100);
    EXPECT_EQ(seen[0].StatusConexao, tseExecutando);
    EXPECT_EQ(seen[0].Mensagem.size(), 255U);
    EXPECT_EQ(ui.eventCalls(), 1);
    canal.AoEnviarArquivo = nullptr;
    canal.ReportarEnvio(tseNada, 0, tseNada, 0, tseNada, 0, "sem manipulador");
    EXPECT_EQ(canal.StatusEnvio.Mensagem, "sem manipulador");
}

TEST(TCanalZEBCliente, ReportarDownloadFiresOnlyOnProgressOrTextOnlyCalls)
{
    test::Sandbox box;
    TCanalZEBCliente canal;
    std::vector<std::pair<int, std::string>> fired;
    canal.AoReceberArquivo = [&](TCanalZEBCliente&, const TStatusDownload& s) {
        fired.emplace_back(s.PercentFeito, s.TextoInfo);
    };
    canal.ReportarDownload(50, "b");
    canal.ReportarDownload(50, "a");
    canal.ReportarDownload(40, "z");
    canal.ReportarDownload(-1, "c");
    canal.ReportarDownload(-2, "d");
    const std::vector<std::pair<int, std::string>> expected{{50, "b"}, {50, "c"}};
    EXPECT_EQ(fired, expected);
}

TEST(NomeSistemaOperacional, NameTableAndServiceSuffix)
{
    struct Case
    {
        int family, major, minor;
        const char* sp;
        const char* expected;
    };
    // clang-format off
    const std::array cases{
        Case{0, 3, 10, "", "Windows3x ()"},
        Case{1, 4, 90, "", "WindowsME ()"},
        Case{1, 4, 10, "A", "Windows98 (Second Edition)"},
        Case{1, 4, 10, "B", "Windows98 (B)"},
        Case{1, 4, 89, "", "Windows98 ()"},
        Case{1, 4, 0, "A", "Windows95 (A)"},
        Case{1, 5, 0, "x", " (x)"},
        Case{2, 4, 0, "Service Pack 6", "WindowsNT (Service Pack 6)"},
        Case{2, 5, 2, "", "Windows2003Server ()"},
        Case{2, 5, 1, "Service Pack 2", "WindowsXP (Service Pack 2)"},
        Case{2, 5, 0, "Service Pack 4", "Windows2000 (Service Pack 4)"},
        Case{2, 6, 1, "", " ()"},
        Case{3, 6, 1, "Linux 6.1.0-18-amd64", " (Linux 6.1.0-18-amd64)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(NomeSistemaOperacional(platform::OsVersionInfo{c.family, c.major, c.minor, c.sp}), c.expected);
    }
    test::Sandbox box;
    TCanalZEBCliente canal;
    canal.osVersionProvider = [] { return platform::OsVersionInfo{2, 5, 1, "Service Pack 3"}; };
    EXPECT_EQ(canal.NomeSistemaOperacional(), "WindowsXP (Service Pack 3)");
}

}  // namespace
}  // namespace vek::channel
