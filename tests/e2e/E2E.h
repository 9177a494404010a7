#pragma once

#include "tests/fixtures/Process.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vek::test {

// A client base directory pointed at a zebd, and vek-cli runs inside it.
struct CliClient
{
    CliClient(const Sandbox& box, std::uint16_t port, const std::string& extraConfig = {})
        : dir(box.path().string())
    {
        writeFile(box.path() / "vek.INI",
                  "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(port) + "\r\n" +
                      extraConfig);
    }

    ProcessResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) const
    {
        args.insert(args.begin(), binPath("vek-cli"));
        env["VEK_DIR"] = dir;
        if (env.count("VEK_SENHA") == 0) {
            env["VEK_SENHA"] = "demo";
        }
        return runProcess(args, env, {"TMPDIR"});
    }

    std::string dir;
};

// One upload zebd stored, as `zebd recebidos` lists it.
struct ReceivedUpload
{
    std::string protocolo;
    std::string nome;
    std::string caminho;
};

// Every upload stored in the server's data directory `dados`.
inline std::vector<ReceivedUpload> receivedUploads(const std::filesystem::path& dados)
{
    const auto r = runProcess({binPath("zebd"), "recebidos", "--dados", dados.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<ReceivedUpload> all;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);  // PROTOCOLO OPERADORA TIPO NOME TAMANHO CAMINHO
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream in(line);
        for (std::string cell; std::getline(in, cell, '\t');) {
            cells.push_back(cell);
        }
        if (cells.size() == 6) {
            all.push_back({cells[0], cells[3], cells[5]});
        }
    }
    return all;
}

// Protocol -> stored path of every upload in `dados`.
inline std::map<std::string, std::string> storedByProtocol(const std::filesystem::path& dados)
{
    std::map<std::string, std::string> all;
    for (const auto& u : receivedUploads(dados)) {
        all[u.protocolo] = u.caminho;
    }
    return all;
}

// The stored path of the upload whose receipt carries `protocolo`; empty when
// there is none.
inline std::string storedPath(const std::filesystem::path& dados, const std::string& protocolo)
{
    const auto all = storedByProtocol(dados);
    const auto it = all.find(protocolo);
    return it == all.end() ? std::string() : it->second;
}

// The protocol of the receipt vek-cli printed (its "Protocolo:" line).
inline std::string protocolPrinted(const std::string& out)
{
    std::smatch m;
    return std::regex_search(out, m, std::regex("Protocolo: ([^\n]*)\n")) ? m[1].str() : std::string();
}

}  // namespace vek::test
