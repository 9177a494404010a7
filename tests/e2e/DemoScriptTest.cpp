#include "platform/Socket.h"
#include "tests/e2e/E2E.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

// Only against a hang: the walk-through builds nothing and takes seconds.
constexpr auto HangGuard = 300s;

// The walk-through's output cut at its command lines ("$ ..."): each
// command line with what followed it.
std::map<std::string, std::string> stepsOf(const std::string& output)
{
    std::map<std::string, std::string> steps;
    std::istringstream lines(output);
    std::string line;
    std::string current;
    while (std::getline(lines, line)) {
        if (line.rfind("$ ", 0) == 0) {
            // The command and its subcommand name the step.
            std::istringstream words(line.substr(2));
            std::string program;
            std::string command;
            words >> program >> command;
            current = program + " " + command;
            steps[current];
            continue;
        }
        if (!current.empty()) {
            steps[current] += line + "\n";
        }
    }
    return steps;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The headless demo as a newcomer runs it, with the programs of this build:
// no display, free ports, a fresh folder. zebd chooses its own ports and the
// client learns them from the lines zebd prints.
TEST(DemoScript, WalksThroughEveryStepHeadlessIncludingADownload)
{
    Sandbox work(false);
    const std::uint16_t dataPort = freePort();
    const ProcessResult r = runProcessGroup({"/bin/bash", std::string(VEK_SOURCE_DIR) + "/scripts/demo.sh"},
                                            {{"VEK_DEMO_BIN", VEK_BIN_DIR},
                                             {"VEK_DEMO_DIR", work.path().string()},
                                             {"VEK_DEMO_PORT", "0"},
                                             {"VEK_DEMO_PORTA_FTP", "0"},
                                             {"VEK_DEMO_PORTA_DADOS", std::to_string(dataPort)}},
                                            {"DISPLAY", "WAYLAND_DISPLAY", "VEK_DIR", "VEK_SENHA"},
                                            HangGuard);
    ASSERT_FALSE(r.hung) << r.out << r.err;
    EXPECT_FALSE(r.leftRunning) << "the demo left zebd running";
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    // The client reaches the demo server on both of the ports it listened on.
    std::smatch ports;
    const std::string started = readFile(work.path() / "zebd.saida");
    ASSERT_TRUE(
        std::regex_search(started, ports, std::regex(R"(zebd: mensagens [0-9.]+:([0-9]+) ftp [0-9.]+:([0-9]+))")))
        << started;
    const std::string ini = readFile(work.path() / "cliente" / "vek.INI");
    EXPECT_TRUE(contains(ini, "[Defaults]\nServidorInternet=127.0.0.1\n")) << ini;
    EXPECT_TRUE(contains(ini, "\nPortaServico=" + ports[1].str() + "\n")) << ini;
    EXPECT_TRUE(contains(ini, "\nPortaFTP=" + ports[2].str() + "\n")) << ini;
    EXPECT_TRUE(contains(ini, "\nPortaDados=" + std::to_string(dataPort) + "\n")) << ini;

    const auto steps = stepsOf(r.out);
    for (const char* step : {"vek-cli tipos-envio",
                             "vek-cli tipos-download",
                             "vek-cli enviar",
                             "zebd disponibilizar",
                             "vek-cli listar",
                             "vek-cli baixar",
                             "vek-cli historico",
                             "vek-cli gerar-parametros",
                             "vek-cli parametros"}) {
        SCOPED_TRACE(step);
        ASSERT_EQ(steps.count(step), 1U) << r.out;
        EXPECT_FALSE(contains(steps.at(step), "(saída ")) << steps.at(step);
    }
    EXPECT_TRUE(contains(steps.at("vek-cli tipos-envio"), "XML#")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli tipos-download"), "RET#")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli enviar"), "Protocolo: ")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli listar"), "\nretorno-demonstracao.xml\t")) << r.out;
    const std::string downloaded = (work.path() / "baixados" / "retorno-demonstracao.xml").string();
    EXPECT_TRUE(
        contains(steps.at("vek-cli baixar"), downloaded + "\nO arquivo baixado é igual ao publicado pelo zebd."))
        << r.out;
    const std::string published = readFile(work.path() / "retorno-demonstracao.xml");
    EXPECT_FALSE(published.empty());
    EXPECT_TRUE(readFile(downloaded) == published);
    EXPECT_TRUE(contains(steps.at("vek-cli historico"), "\tamostra.xml\tXML\t")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli parametros"), "Protocolo: ")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli parametros"), "(código de saída 9; 9 = enviado)")) << r.out;
    EXPECT_TRUE(contains(steps.at("vek-cli parametros"), "<protocoloTX>")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nDemonstração concluída: todos os passos funcionaram.\n")) << r.out;
}

// The lines zebd --demo prints are all a client needs: with them (and a free
// data port of its own) the client lists and downloads a demo file.
TEST(DemoScript, ZebdDemoPrintsTheClientConfigurationThatReachesIt)
{
    Sandbox server(false);
    Sandbox client(false);
    ZebdProcess zebd(server.path() / "dados");
    const std::string dataPort = std::to_string(freePort());
    const std::string block =
        "[Defaults]\nServidorInternet=127.0.0.1\nPortaServico=" + std::to_string(zebd.messagePort()) +
        "\nPortaFTP=" + std::to_string(zebd.ftpPort()) + "\n";
    // Printed in the same write as the listening line the fixture waited for.
    ASSERT_TRUE(contains(zebd.output(), block)) << zebd.output();
    writeFile(client.path() / "vek.INI", block + "PortaDados=" + dataPort + "\n");
    const std::map<std::string, std::string> env{{"VEK_DIR", client.path().string()}, {"VEK_SENHA", "demo"}};

    auto r = runProcess({binPath("vek-cli"), "listar", "--registro", "123456", "--tipo", "RET"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string id;
    std::istringstream rows(r.out);
    for (std::string row; std::getline(rows, row);) {
        if (row.rfind("retorno-052024.xml\t", 0) == 0) {
            std::istringstream cells(row);
            std::string cell;
            for (int i = 0; i < 7 && std::getline(cells, cell, '\t'); ++i) {
                id = cell;
            }
        }
    }
    ASSERT_FALSE(id.empty()) << r.out;
    r = runProcess({binPath("vek-cli"),
                    "baixar",
                    "--registro",
                    "123456",
                    "--tipo",
                    "RET",
                    "--id",
                    id,
                    "--destino",
                    client.path().string()},
                   env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(readFile(client.path() / "retorno-052024.xml"), "<retorno competencia=\"05/2024\">"));
}

}  // namespace
}  // namespace vek::test
