#pragma once

// What the upload tests share: the scripted server's steps of an upload, a
// client channel set up against it, and the trace read back.

#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace vek::channel::upload_test {

using namespace std::chrono_literals;

// The server's small key and the upload's first steps, as every scripted
// upload has them.
inline const std::string& Modulus = test::UploadKeyModulus;
inline const std::string& Exponent = test::UploadKeyExponent;
using test::uploadAuthorized;
using test::uploadUpToTheBlocks;

// A client channel pointed at a scripted server with the trace on, sending
// `content` from the sandbox; waits shortened to `wait`.
struct UploadRun
{
    UploadRun(const test::Sandbox& box,
              std::uint16_t port,
              const std::string& content,
              const std::string& extraConfig = {},
              std::chrono::milliseconds wait = 1500ms)
    {
        test::writeClientConfig(box.path().string(), port, "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n" + extraConfig);
        setenv("TMPDIR", box.path().c_str(), 1);
        canal.timeouts.streamTimeout = wait;
        canal.timeouts.waitForData = wait;
        canal.timeouts.connectPause = 10ms;
        canal.timeouts.connectBudget = 50ms;
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.Arquivo = box.write("dados.xml", content).string();
        canal.SetTipo_Arquivo("xml");
        canal.AoEnviarArquivo = [this](TCanalZEBCliente&, const TStatusUpload& s) { reports.push_back(s); };
    }
    ~UploadRun() { unsetenv("TMPDIR"); }
    UploadRun(const UploadRun&) = delete;
    UploadRun& operator=(const UploadRun&) = delete;

    // Runs the upload; returns the error text ("" on success).
    std::string run()
    {
        try {
            canal.EnviarArquivo(resultado);
            return {};
        } catch (const Error& e) {
            return e.what();
        }
    }

    // The texts of the progress events that begin with `prefix`, in order.
    [[nodiscard]] std::vector<std::string> reported(const std::string& prefix) const
    {
        std::vector<std::string> texts;
        for (const auto& r : reports) {
            if (r.Mensagem.rfind(prefix, 0) == 0) {
                texts.push_back(r.Mensagem);
            }
        }
        return texts;
    }

    TCanalZEBCliente canal;
    TResultadoEnvio resultado;
    std::vector<TStatusUpload> reports;
};

// The trace texts of a run, without their time stamps, back in UTF-8.
inline std::vector<std::string> traceTexts(const test::Sandbox& box)
{
    const std::string text = platform::fromWin1252(box.read("TraceVEK.log"));
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
        const std::string line = text.substr(start, pos - start);
        // "dd/mm/yyyy hh:nn:ss.zzz - "
        EXPECT_EQ(line.substr(23, 3), " - ") << line;
        out.push_back(line.substr(26));
    }
    return out;
}

// The trace texts that begin with `prefix`, in order.
inline std::vector<std::string> traced(const test::Sandbox& box, const std::string& prefix)
{
    std::vector<std::string> lines;
    for (auto& line : traceTexts(box)) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace vek::channel::upload_test
