#include "app/UploadFlow.h"

#include "app/ParameterFile.h"
#include "app/Receipt.h"
#include "crypto/TCrc32.h"
#include "dataset/TransmissionRecord.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <regex>

namespace vek::app {
namespace {

using namespace std::chrono_literals;
using test::FakeScript;
using test::FakeStep;
namespace fs = std::filesystem;

const char* const Protocolo = "2026000077";

// Authorization, key, hash, size and the blocks.
FakeScript upToTheData()
{
    FakeScript s = test::uploadUpToTheBlocks();
    s.push_back(FakeStep::ackBlocks());
    return s;
}

FakeScript withReceipt()
{
    return test::acceptedUpload(Protocolo);
}

FakeScript goneAfterTheData()
{
    FakeScript s = upToTheData();
    s.push_back(FakeStep::close());
    return s;
}

FakeScript refused()
{
    return {FakeStep::expect(wire::CMD_PEDIDO_ENVIO), FakeStep::reply(wire::CMD_NEGADO, "Tipo n\xE3o permitido")};
}

// A base directory with a file to send, the operator's state and a channel
// pointed at a scripted server whose presenter records what it is shown.
struct UploadRun
{
    explicit UploadRun(std::vector<FakeScript> scripts)
        : server(std::move(scripts))
    {
        test::writeClientConfig(box.path().string(), server.port());
        setenv("TMPDIR", box.path().c_str(), 1);
        canal.timeouts.streamTimeout = 5s;
        canal.timeouts.waitForData = 5s;
        canal.timeouts.connectPause = 10ms;
        canal.timeouts.connectBudget = 50ms;
        canal.AoEnviarArquivo = [this](channel::TCanalZEBCliente&, const channel::TStatusUpload& s) {
            shown.push_back({s, estado.codigoSaida});
        };
        estado.registro = "123456";
        estado.senha = "demo";
        estado.arquivo = box.write("entrada/dados.xml", "<dados>março</dados>").string();
        estado.tipoArquivo = "xml";
    }
    ~UploadRun() { unsetenv("TMPDIR"); }

    struct Shown
    {
        channel::TStatusUpload status;
        int codigoSaida;  // what the state held when the presenter saw the event
    };

    // The records in Protocolos, and their companions in the program's own folder.
    [[nodiscard]] std::vector<fs::path> records() const { return filesIn("Protocolos"); }
    [[nodiscard]] std::vector<fs::path> companions() const { return filesIn(dataset::PastaRecibos); }
    [[nodiscard]] std::vector<fs::path> filesIn(const std::string& dir) const
    {
        std::vector<fs::path> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(box.path() / dir, ec)) {
            out.push_back(e.path());
        }
        return out;
    }

    // The hash text the client sent, if it got that far.
    [[nodiscard]] std::optional<std::string> hashSent() const
    {
        for (const auto& m : server.received()) {
            if (m.code == wire::CMD_HASH_ARQUIVO) {
                return m.text();
            }
        }
        return std::nullopt;
    }

    // The presenter's handler is the channel's own again: an event now
    // reaches it and no longer touches the exit code.
    void expectPresenterHandlerBack()
    {
        const auto before = shown.size();
        estado.codigoSaida = 0;
        channel::TStatusUpload erro;
        erro.StatusPreparacao = channel::tseErro;
        ASSERT_TRUE(canal.AoEnviarArquivo);
        canal.AoEnviarArquivo(canal, erro);
        EXPECT_EQ(shown.size(), before + 1);
        EXPECT_EQ(estado.codigoSaida, 0);
    }

    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope{ui};
    test::FakeZebServer server;
    channel::TCanalZEBCliente canal;
    AppState estado;
    std::vector<Shown> shown;
};

std::string crcOf(const fs::path& file)
{
    crypto::TCrc32 crc;
    crc.Crc32FileName = file.string();
    return crc.Crc32Hex();
}

TEST(UnattendedUpload, EveryOutcomeHasItsExitCodeAndResponse)
{
    enum class Crc
    {
        None,
        Right,
        Wrong
    };
    struct Case
    {
        const char* name;
        std::vector<FakeScript> scripts;
        Crc crc;
        bool fileGone;  // the file to send disappeared after the start checks
        UploadEnd end;
        int exitCode;
        bool response;    // a response file is written
        int connections;  // to the message server
    };
    const Case cases[] = {
        {"sent without a checksum", {withReceipt()}, Crc::None, false, UploadEnd::Sent, 9, true, 1},
        {"sent with the announced CRC", {withReceipt()}, Crc::Right, false, UploadEnd::Sent, 9, true, 1},
        {"CRC differs", {}, Crc::Wrong, false, UploadEnd::ChecksumDiffers, 5, false, 0},
        {"refused by the server", {refused()}, Crc::None, false, UploadEnd::Failed, 4, true, 1},
        {"server gone before the receipt", {goneAfterTheData()}, Crc::None, false, UploadEnd::Failed, 4, true, 1},
        {"file gone before its preparation", {}, Crc::None, true, UploadEnd::Failed, 3, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadRun run(c.scripts);
        run.estado.modoParametros = true;
        run.estado.nomeArquivoRegistro = "resposta.xml";
        run.estado.informacoesAdicionais = "lote 7";
        run.estado.crcEsperado = c.crc == Crc::Right   ? crcOf(run.estado.arquivo)
                                 : c.crc == Crc::Wrong ? "00000000"
                                                       : "";
        if (c.fileGone) {
            fs::remove(run.estado.arquivo);
        }

        const UploadOutcome outcome = runUnattendedUpload(run.estado, run.canal);
        EXPECT_TRUE(run.server.waitDone());
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(run.estado.codigoSaida, c.exitCode);
        EXPECT_EQ(run.server.connections(), c.connections);
        EXPECT_EQ(outcome.sent(), !outcome.resultado.Protocolo.empty());
        EXPECT_EQ(outcome.error.empty(), c.end == UploadEnd::Sent) << outcome.error;
        if (c.crc == Crc::Right) {
            EXPECT_EQ(run.hashSent(), run.estado.crcEsperado);
        }
        if (c.end == UploadEnd::ChecksumDiffers) {
            const auto messages = run.ui.messages();
            ASSERT_EQ(messages.size(), 1U);
            EXPECT_EQ(messages[0].text, MsgErroCrc);
            EXPECT_EQ(messages[0].kind, platform::MessageKind::Error);
            EXPECT_EQ(outcome.error, MsgErroCrc);
        }
        // A step that failed was already in the exit code when the presenter saw it.
        for (const auto& s : run.shown) {
            if (s.status.StatusPreparacao == channel::tseErro || s.status.StatusConexao == channel::tseErro ||
                s.status.StatusTransmissao == channel::tseErro) {
                EXPECT_EQ(s.codigoSaida, c.exitCode) << s.status.Mensagem;
            }
        }

        // One response, under the parameter file's name; a receipt only when sent.
        const fs::path response = run.box.path() / "Protocolos" / "resposta.xml";
        ASSERT_EQ(fs::exists(response), c.response);
        EXPECT_EQ(run.records().size(), c.response ? 1U : 0U);
        EXPECT_EQ(run.companions().size(), c.response ? 1U : 0U);
        if (c.response) {
            EXPECT_EQ(outcome.record, response);
            const std::string xml = run.box.read("Protocolos/resposta.xml");
            // The response holds the eight elements and nothing else; the
            // receipt's own values went in the companion.
            EXPECT_EQ(xml.rfind("<VEK><operadora>123456</operadora><tipo_Arquivo>", 0), 0U) << xml;
            EXPECT_EQ(xml.find("</clienteTransmissao></VEK>"), xml.size() - 27) << xml;
            const std::string recibo = run.box.read(".recibos/resposta.xml");
            EXPECT_NE(recibo.find("<modo>parametros</modo>"), std::string::npos) << recibo;
            const std::string protocolo = c.end == UploadEnd::Sent ? Protocolo : "";
            EXPECT_NE(xml.find("<protocoloTX>" + protocolo + "</protocoloTX>"), std::string::npos) << xml;
            EXPECT_NE(xml.find("<tipo_Arquivo>xml</tipo_Arquivo>"), std::string::npos) << xml;
            EXPECT_NE(xml.find("<informacoesArquivo>lote 7</informacoesArquivo>"), std::string::npos) << xml;
        } else {
            EXPECT_FALSE(outcome.record);
        }
        run.expectPresenterHandlerBack();
    }
}

TEST(UnattendedUpload, AFileThatCannotBeReadForItsChecksumIsNoOutcome)
{
    UploadRun run({});
    run.estado.modoParametros = true;
    run.estado.nomeArquivoRegistro = "resposta.xml";
    run.estado.hashEsperado = "00";
    fs::remove(run.estado.arquivo);
    EXPECT_THROW(runUnattendedUpload(run.estado, run.canal), Error);
    EXPECT_EQ(run.estado.codigoSaida, 0);
    EXPECT_EQ(run.server.connections(), 0);
    EXPECT_TRUE(run.records().empty());
}

TEST(InteractiveUpload, OnlyASentFileGetsItsRecordUnderANewName)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        UploadEnd end;
        int exitCode;
    };
    const Case cases[] = {
        {"sent", withReceipt(), UploadEnd::Sent, 9},
        {"refused", refused(), UploadEnd::Failed, 4},
        {"server gone before the receipt", goneAfterTheData(), UploadEnd::Failed, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadRun run({c.script});
        run.estado.hashInformado = "0A1B2C3D";
        const UploadOutcome outcome = runInteractiveUpload(run.estado, run.canal);
        EXPECT_TRUE(run.server.waitDone());
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(run.estado.codigoSaida, c.exitCode);
        EXPECT_EQ(run.server.received().at(0).code, wire::CMD_PEDIDO_ENVIO);
        EXPECT_NE(run.server.received().at(0).text().find("|123456|XML|"), std::string::npos);
        run.expectPresenterHandlerBack();
        if (c.end != UploadEnd::Sent) {
            EXPECT_TRUE(run.records().empty());
            EXPECT_FALSE(outcome.record);
            EXPECT_TRUE(run.estado.protocolo.empty());
            continue;
        }
        EXPECT_EQ(run.hashSent(), "0A1B2C3D");
        EXPECT_EQ(run.estado.protocolo, Protocolo);
        EXPECT_EQ(run.estado.dataRecebimento, "09/12/2026 10:11:12");
        EXPECT_EQ(run.estado.enderecoIP, "127.0.0.1");
        EXPECT_EQ(run.estado.autenticacao, "AB12");
        EXPECT_TRUE(std::regex_match(run.estado.nomeArquivoRegistro, std::regex(R"(VEK-dados\.xml--?\d+\.xml)")))
            << run.estado.nomeArquivoRegistro;
        ASSERT_EQ(run.records().size(), 1U);
        ASSERT_EQ(run.companions().size(), 1U);
        EXPECT_EQ(run.companions()[0], dataset::caminhoReciboGuardado(run.records()[0]));
        EXPECT_EQ(run.records()[0].filename(), run.estado.nomeArquivoRegistro);
        EXPECT_EQ(outcome.record, run.records()[0]);
        const std::string xml = test::readFile(run.records()[0]);
        EXPECT_NE(xml.find(std::string("<protocoloTX>") + Protocolo + "</protocoloTX>"), std::string::npos) << xml;
    }
}

// The receipt printed again from a record shows what the window's receipt
// showed right after the upload, in both modes; a failed attempt's record has
// no receipt.
TEST(UploadReceipt, TheRecordGivesBackTheReceiptShownRightAfterTheUpload)
{
    struct Case
    {
        const char* name;
        bool unattended;
        FakeScript script;
        bool sent;
    };
    const Case cases[] = {
        {"interactive", false, withReceipt(), true},
        {"parameter file", true, withReceipt(), true},
        {"parameter file, refused", true, refused(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadRun run({c.script});
        if (c.unattended) {
            run.estado.modoParametros = true;
            run.estado.nomeArquivoRegistro = "resposta.xml";
            run.estado.informacoesAdicionais = "Informa\xC3\xA7\xC3\xA3o: lote 7";
            run.estado.aplicacao = "INTEGRADOR";
            run.estado.versaoAplicacao = "2.1";
        }
        const UploadOutcome outcome =
            c.unattended ? runUnattendedUpload(run.estado, run.canal) : runInteractiveUpload(run.estado, run.canal);
        EXPECT_TRUE(run.server.waitDone());
        ASSERT_EQ(outcome.sent(), c.sent);
        ASSERT_TRUE(outcome.record);
        const auto deNovo = reciboDoRegistro(dataset::lerRegistroTransmissao(*outcome.record));
        if (!c.sent) {
            EXPECT_FALSE(deNovo);
            continue;
        }
        ASSERT_TRUE(deNovo);
        const ValoresRecibo logo = reciboDoEnvio(run.estado, run.canal);
        EXPECT_EQ(deNovo->protocolo, logo.protocolo);
        EXPECT_EQ(deNovo->operadora, logo.operadora);
        EXPECT_EQ(deNovo->arquivo, logo.arquivo);
        EXPECT_EQ(deNovo->dataRecebimento, logo.dataRecebimento);
        EXPECT_EQ(deNovo->informacoes, logo.informacoes);
        EXPECT_EQ(deNovo->enderecoIP, logo.enderecoIP);
        EXPECT_EQ(deNovo->autenticacao, logo.autenticacao);
        // And those are the upload's values.
        EXPECT_EQ(logo.protocolo,
                  std::string(Protocolo) + " - VEK-4.0.8" + (c.unattended ? " - Aplicativo: INTEGRADOR-2.1" : ""));
        EXPECT_EQ(logo.operadora, "123456");
        EXPECT_EQ(logo.arquivo, "dados.xml");
        EXPECT_EQ(logo.dataRecebimento, "09/12/2026 10:11:12");
        EXPECT_EQ(logo.informacoes, c.unattended ? "Informa\xC3\xA7\xC3\xA3o: lote 7" : "");
        EXPECT_EQ(logo.enderecoIP, "127.0.0.1");
        EXPECT_EQ(logo.autenticacao, "AB12");
    }
}

TEST(UnattendedStart, ChecksBeforeAnythingIsShown)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    ParametrosEnvio p;
    p.formato = "1";
    p.registro = "123456";
    p.senha = "demo";
    p.arquivo = box.write("dados.xml", "<a/>").string();
    p.arquivoResposta = "r.xml";
    const auto good = box.write("envio.par", cifrarParametros(p));
    p.arquivo = (box.path() / "nada.xml").string();
    const auto missingFile = box.write("falta.par", cifrarParametros(p));
    fs::create_directory(box.path() / "pasta.par");

    struct Case
    {
        const char* name;
        std::string argument;
        std::optional<int> code;
        const char* message;
    };
    const Case cases[] = {
        {"no argument", "", CodigoSaidaSemArquivoParametros, MsgArquivoParametrosNaoEncontrado},
        {"no such file", (box.path() / "nada.par").string(), 1, MsgArquivoParametrosNaoEncontrado},
        {"a directory", (box.path() / "pasta.par").string(), 1, MsgArquivoParametrosNaoEncontrado},
        {"file to send missing", missingFile.string(), CodigoSaidaArquivoAusente, MsgArquivoEnviarNaoEncontrado},
        {"good", good.string(), std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.clear();
        AppState estado;
        EXPECT_EQ(startUnattendedRun(c.argument, estado), c.code);
        const auto messages = ui.messages();
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.empty());
            EXPECT_TRUE(estado.modoParametros);
            EXPECT_EQ(estado.registro, "123456");
            EXPECT_EQ(estado.nomeArquivoRegistro, "r.xml");
            EXPECT_EQ(estado.tipoArquivo, "XML");
            continue;
        }
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_EQ(messages[0].kind, platform::MessageKind::Error);
        EXPECT_FALSE(estado.modoParametros);
    }
}

}  // namespace
}  // namespace vek::app
