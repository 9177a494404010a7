#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "tests/channel/UploadHarness.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::channel {
namespace {

using namespace wire;

using namespace std::chrono_literals;
using test::FakeScript;
using test::FakeStep;
using upload_test::Exponent;
using upload_test::Modulus;
using upload_test::traceTexts;
using upload_test::uploadAuthorized;

// An odd 64-bit modulus and exponent 3: the 131-bit key spans three chunks.
const char* const Generic =
    "Erro ao transmitir o arquivo para a ZEB.\n\rCertifique-se de estar conectado à Internet, e que as "
    "configurações\n\rde sua rede mantem abertas as portas necessárias para conexão com o servidor da ZEB";

// Authorization, key, hash, size and one block (small files fit in one).
FakeScript upToBlocks(std::uint8_t blockReply = CMD_ACK)
{
    FakeScript s = upload_test::uploadUpToTheBlocks();
    for (const auto& step :
         {FakeStep::expect(CMD_BLOCO), FakeStep::reply(blockReply), FakeStep::expect(CMD_FIM_DADOS)}) {
        s.push_back(step);
    }
    return s;
}

FakeScript with(FakeScript s, std::initializer_list<FakeStep> more)
{
    s.insert(s.end(), more);
    return s;
}

// The small file of these tests fits in one block.
struct Upload : upload_test::UploadRun
{
    // Long waits unless a case waits out a silent server: a busy machine's
    // scripted server answers well within them.
    Upload(const test::Sandbox& box, std::uint16_t port, std::chrono::milliseconds wait = 10s)
        : UploadRun(box, port, "<dados>conteúdo</dados>", {}, wait)
    {}
};

TEST(EnviarArquivo, SendsTheWholeExchangeAndKeepsTheReceipt)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    FakeScript script = upToBlocks();
    script.insert(script.begin(), FakeStep::expect(CMD_PRE_VALIDACAO));
    test::FakeZebServer server(
        {with(script,
              {FakeStep::reply(CMD_PROTOCOLO, "2026000042|09/12/2026 14:05:09|127.0.0.1|ABC|DEF"),
               FakeStep::expect(CMD_ACK)})});
    Upload up(box, server.port());
    up.canal.StrValidacaoLivre = "validação livre";
    up.canal.HashArquivo = "0A1B2C3D";
    up.canal.Arquivo = "\"" + up.canal.Arquivo + "\"";
    EXPECT_EQ(up.run(), "");
    EXPECT_TRUE(server.waitDone());
    for (const auto& e : server.errors()) {
        ADD_FAILURE() << e;
    }

    EXPECT_TRUE(up.resultado.Sucesso);
    EXPECT_EQ(up.resultado.Protocolo, "2026000042");
    EXPECT_EQ(up.resultado.DataHora, "09/12/2026 14:05:09");
    EXPECT_EQ(up.resultado.EnderecoIP, "127.0.0.1");
    EXPECT_EQ(up.resultado.Autenticacao, "ABC|DEF");
    EXPECT_EQ(up.canal.Prot_Ultimo_Envio(), "2026000042");
    EXPECT_EQ(up.canal.Arquivo, (box.path() / "dados.xml").string());
    EXPECT_FALSE(up.canal.socCliente().connected());
    EXPECT_FALSE(up.canal.ChaveServidor);

    const auto sent = server.received();
    ASSERT_EQ(sent.size(), 8U);
    EXPECT_EQ(sent[0].code, CMD_PRE_VALIDACAO);
    EXPECT_EQ(sent[0].text(), "valida\xE7\xE3o livre");
    const std::string pedido = sent[1].text();
    const std::string prefix = "VEK-4.0.8|VEK-4.0.8|123456|XML|" + up.canal.NomeSistemaOperacional() + "|dados.xml|";
    ASSERT_EQ(pedido.rfind(prefix, 0), 0U) << pedido;
    EXPECT_EQ(crypto::DecryptProtocolText(pedido.substr(prefix.size())), "demo");
    EXPECT_EQ(sent[3].text(), "0A1B2C3D");
    ASSERT_EQ(sent[4].payload.size(), 4U);
    const auto size = sent[4].payload[0] | (sent[4].payload[1] << 8);
    EXPECT_EQ(size, static_cast<int>(sent[5].payload.size()));
    EXPECT_EQ(size, up.canal.TamanhoCifrado);
    EXPECT_EQ(sent[6].code, CMD_FIM_DADOS);
    EXPECT_EQ(sent[6].length, 0);
    EXPECT_EQ(sent[7].code, CMD_ACK);

    EXPECT_EQ(ui.busyCalls(), (std::vector<bool>{true, false}));
    ASSERT_FALSE(up.reports.empty());
    const auto& last = up.reports.back();
    EXPECT_EQ(last.StatusTransmissao, tseFinalizada);
    EXPECT_EQ(last.Mensagem, "Arquivo enviado com sucesso...");
    // One block reports 100.00% and is capped at 100.
    bool sawBlock = false;
    for (const auto& r : up.reports) {
        if (r.Mensagem.rfind("Enviando dados do arquivo: ", 0) == 0) {
            sawBlock = true;
            EXPECT_EQ(r.Mensagem, "Enviando dados do arquivo: 100.00% concluído.");
            EXPECT_EQ(r.PercentTransmissao, 100);
        }
    }
    EXPECT_TRUE(sawBlock);
}

TEST(EnviarArquivo, ReportsAndTracesEveryStepInOrder)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    FakeScript script = upToBlocks();
    script.insert(script.begin(), FakeStep::expect(CMD_PRE_VALIDACAO));
    test::FakeZebServer server(
        {with(script, {FakeStep::reply(CMD_PROTOCOLO, "P7|D7|I7|A7"), FakeStep::expect(CMD_ACK)})});
    Upload up(box, server.port());
    up.canal.StrValidacaoLivre = "livre";
    up.canal.HashArquivo = "H1";
    ASSERT_EQ(up.run(), "");
    const std::string block = std::to_string(up.canal.TamanhoCifrado);
    const std::string enviados = std::to_string(up.canal.TamanhoCifrado + 5);
    const std::string endereco = "127.0.0.1:" + std::to_string(server.port());

    struct Report
    {
        TTipoStatusEtapa sp;
        int pp;
        TTipoStatusEtapa sc;
        int pc;
        TTipoStatusEtapa st;
        int pt;
        std::string text;
    };
    const std::vector<Report> expected{
        {tseExecutando, 0, tseNada, 0, tseNada, 0, "Preparando mecanismos de certificação..."},
        {tseExecutando, 20, tseNada, 0, tseNada, 0, "Preparando mecanismos de certificação..."},
        {tseExecutando, 40, tseNada, 0, tseNada, 0, "Preparando arquivo para envio..."},
        {tseExecutando, 60, tseNada, 0, tseNada, 0, "Preparando arquivo para envio..."},
        {tseExecutando, 61, tseNada, 0, tseNada, 0, "Preparando arquivo para envio..."},
        {tseFinalizada, 100, tseNada, 0, tseNada, 0, "Pronto para a transmissão"},
        {tseFinalizada,
         100,
         tseExecutando,
         0,
         tseNada,
         0,
         "Tentando efetuar conexão TCP com a ZEB no endereço " + endereco + " ..."},
        {tseFinalizada, 100, tseExecutando, 50, tseNada, 0, "Solicitando autorização para transmissão..."},
        {tseFinalizada, 100, tseExecutando, 75, tseNada, 0, "Aguardando resposta de autorização..."},
        {tseFinalizada, 100, tseExecutando, 100, tseNada, 0, "O Servidor da ZEB autorizou transmissão..."},
        {tseFinalizada, 100, tseFinalizada, 100, tseNada, 0, ""},
        {tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 0, "Iniciando a transmissão do arquivo ..."},
        {tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 20, "Enviando dados do arquivo ..."},
        {tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 100, "Enviando dados do arquivo: 100.00% concluído."},
        {tseFinalizada,
         100,
         tseFinalizada,
         100,
         tseExecutando,
         100,
         "Aguardando confirmação de recebimento do servidor..."},
        {tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 100, "Confirmação OK."},
        {tseFinalizada, 100, tseFinalizada, 100, tseFinalizada, 100, "Arquivo enviado com sucesso..."},
    };
    ASSERT_EQ(up.reports.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& r = up.reports[i];
        const auto& e = expected[i];
        EXPECT_EQ(r.StatusPreparacao, e.sp);
        EXPECT_EQ(r.PercentPreparacao, e.pp);
        EXPECT_EQ(r.StatusConexao, e.sc);
        EXPECT_EQ(r.PercentConexao, e.pc);
        EXPECT_EQ(r.StatusTransmissao, e.st);
        EXPECT_EQ(r.PercentTransmissao, e.pt);
        EXPECT_EQ(r.Mensagem, e.text);
    }

    EXPECT_EQ(traceTexts(box),
              (std::vector<std::string>{
                  "*** ENVIO DE ARQUIVO *** \r\r",
                  "Tentando conectar em " + endereco,
                  "mensagem exclusiva de pré-validação do arquivo: livre",
                  "Enviada a mensagem com string adicional de validação exclusiva do aplicativo...",
                  "Operadora: 123456 Arquivo: " + up.canal.Arquivo,
                  "CRCHex do Arquivo: H1",
                  "Enviando mensagem de solicitação de autorização de transmissão",
                  "Lendo resposta do servidor.",
                  "Recebida mensagem de autorização de transmissão.",
                  "Iniciando fase de transmissão do arquivo.",
                  "Encriptando e enviando chave simétrica",
                  "Enviando mensagem com o hash do arquivo: H1",
                  "Esperando ACK",
                  "Recebido ACK",
                  "Enviando mensagem com tamanho do arquivo",
                  "Esperando ACK",
                  "Recebido ACK",
                  "Enviando bloco de dados 1 tamanho: " + block,
                  "Esperando ACK",
                  "Recebido ACK (" + enviados + " bytes enviados)",
                  "Enviando mensagem de fim de dados",
                  "Lendo Protocolo",
                  "Dados corretos. Protocolo: P7 Autenticação: A7",
                  "VEK enviou a confirmação de recebimento do protocolo.",
              }));
}

TEST(EnviarArquivo, FailurePathsEndWithTheirUserTextAndNothingLeftOpen)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        std::string error;
        std::string mensagemErro;
        std::size_t messageBoxes;
        bool inAuthorization = false;
        bool waitedOut = false;  // the client's read waits out a silent server
    };
    const std::array cases{
        Case{"refused with a reason",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_NEGADO, "Senha inv\xE1lida")},
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem: Senha inválida",
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem: Senha inválida",
             1,
             true},
        Case{"refused with a blank reason",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_NEGADO, "  ")},
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem:   ",
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem:   ",
             0,
             true},
        Case{"refused with only control characters",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_NEGADO, "\x01\x02\t")},
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem: \x01\x02\t",
             " O servidor reportou que esta transmissão foi rejeitada. Mensagem: \x01\x02\t",
             0,
             true},
        Case{"keys out of order",
             {FakeStep::expect(CMD_PEDIDO_ENVIO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, Exponent),
              FakeStep::reply(CMD_CHAVE_MODULO, Modulus)},
             " Erro de comunicação na leitura das chaves...",
             " Erro de comunicação na leitura das chaves...",
             0,
             true},
        Case{"a modulus far beyond any real key",
             {FakeStep::expect(CMD_PEDIDO_ENVIO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_CHAVE_MODULO, std::string(8192, '\xFF')),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, std::string(8192, '\xFF'))},
             " O servidor da ZEB enviou uma chave pública de tamanho inválido (módulo de 65536 bits, expoente de "
             "65536 bits; o limite é de 8192 bits). Transmissão não efetuada.",
             " O servidor da ZEB enviou uma chave pública de tamanho inválido (módulo de 65536 bits, expoente de "
             "65536 bits; o limite é de 8192 bits). Transmissão não efetuada.",
             0,
             true},
        Case{"an exponent longer than the modulus",
             {FakeStep::expect(CMD_PEDIDO_ENVIO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_CHAVE_MODULO, Modulus),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, std::string("\x01") + Modulus)},
             " O servidor da ZEB enviou uma chave pública de tamanho inválido (módulo de 64 bits, expoente de "
             "65 bits; o limite é de 8192 bits). Transmissão não efetuada.",
             " O servidor da ZEB enviou uma chave pública de tamanho inválido (módulo de 64 bits, expoente de "
             "65 bits; o limite é de 8192 bits). Transmissão não efetuada.",
             0,
             true},
        Case{"an empty modulus",
             {FakeStep::expect(CMD_PEDIDO_ENVIO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_CHAVE_MODULO),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, Exponent)},
             Generic,
             "Erro ao enviar dados para a ZEB.",
             0,
             true},
        Case{"a reply that is neither 3 nor 94",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_PROTOCOLO, "1|2|3|4")},
             " O servidor da ZEB respondeu à solicitação de autorização com uma mensagem inesperada (código 12). "
             "Transmissão não efetuada.",
             " O servidor da ZEB respondeu à solicitação de autorização com uma mensagem inesperada (código 12). "
             "Transmissão não efetuada.",
             0,
             true},
        Case{"silence after the request",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::pause(5s)},
             " Erro ao ler dados do socket: \"Tempo esgotado ao ler do socket\" / Código de erro do Windows: 110",
             " Erro ao ler dados do socket: \"Tempo esgotado ao ler do socket\" / Código de erro do Windows: 110",
             0,
             true,
             true},
        Case{"final refusal with a text",
             with(upToBlocks(), {FakeStep::reply(CMD_NEGADO, "abc")}),
             " Erro ao confirmar transmissão: abc",
             " Erro ao confirmar transmissão: abc",
             0},
        Case{"final refusal without text",
             with(upToBlocks(), {FakeStep::reply(CMD_NEGADO)}),
             " Erro ao receber o protocolo de confirmação da transmissão do arquivo. Transmissão não efetuada.",
             " Erro ao receber o protocolo de confirmação da transmissão do arquivo. Transmissão não efetuada.",
             0},
        // The client sends the key and the hash back to back: the server
        // closes only after reading both, so the close is an orderly end of
        // stream and not a reset for data it left unread.
        Case{"server closing mid-transmission",
             with(uploadAuthorized(),
                  {FakeStep::expect(CMD_CHAVE_SIMETRICA), FakeStep::expect(CMD_HASH_ARQUIVO), FakeStep::close()}),
             Generic,
             "Erro ao enviar dados para a ZEB.",
             0},
        Case{"server resetting mid-transmission",
             with(uploadAuthorized(),
                  {FakeStep::expect(CMD_CHAVE_SIMETRICA), FakeStep::expect(CMD_HASH_ARQUIVO), FakeStep::reset()}),
             " Erro ao ler dados do socket: \"Erro ao ler do socket: a conexão foi reiniciada pelo outro lado\" / "
             "Código de erro "
             "do Windows: 104",
             " Erro ao ler dados do socket: \"Erro ao ler do socket: a conexão foi reiniciada pelo outro lado\" / "
             "Código de erro "
             "do Windows: 104",
             0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        test::FakeZebServer server({c.script});
        Upload up(box, server.port(), c.waitedOut ? 1500ms : 10s);
        EXPECT_EQ(up.run(), c.error);
        EXPECT_FALSE(up.resultado.Sucesso);
        EXPECT_EQ(up.resultado.MensagemErro, c.mensagemErro);
        EXPECT_EQ(ui.messages().size(), c.messageBoxes);
        EXPECT_FALSE(up.canal.socCliente().connected());
        EXPECT_FALSE(up.canal.ChaveServidor);
        EXPECT_EQ(ui.busyCalls(), (std::vector<bool>{true, false}));
        ASSERT_GE(up.reports.size(), 2U);
        const auto& last = up.reports.back();
        EXPECT_EQ(last.StatusPreparacao, tseFinalizada);
        EXPECT_EQ(last.PercentPreparacao, 100);
        const bool prefixed = c.mensagemErro != "Erro ao enviar dados para a ZEB.";
        if (c.inAuthorization) {
            // The step closes with full gauges, then reports the failure
            // where the connection gauge stands, with the prefix kept.
            const auto& closing = up.reports[up.reports.size() - 2];
            EXPECT_EQ(closing.StatusConexao, tseFinalizada);
            EXPECT_EQ(closing.PercentConexao, 100);
            EXPECT_EQ(closing.Mensagem, "");
            EXPECT_EQ(last.StatusConexao, tseErro);
            EXPECT_EQ(last.PercentConexao, 100);
            EXPECT_EQ(last.StatusTransmissao, tseNada);
            EXPECT_EQ(last.Mensagem.rfind("Erro: ", 0), 0U) << last.Mensagem;
            if (prefixed) {
                EXPECT_EQ(last.Mensagem, "Erro: <<CANAL_ZEB>>" + c.error);
            }
        } else {
            EXPECT_EQ(last.StatusConexao, tseFinalizada);
            EXPECT_EQ(last.StatusTransmissao, tseErro);
            EXPECT_EQ(last.PercentTransmissao, 100);
            if (prefixed) {
                EXPECT_EQ(last.Mensagem, "<<CANAL_ZEB>>" + c.error);
            }
        }
        if (c.error.find("rejeitada") != std::string::npos) {
            const auto& rejection = up.reports[up.reports.size() - 3];
            EXPECT_EQ(rejection.StatusConexao, tseErro);
            EXPECT_EQ(rejection.PercentConexao, 100);
            EXPECT_EQ(rejection.Mensagem, "A transmissão do arquivo foi rejeitada, verificar normas em vigor.");
        }
        EXPECT_TRUE(up.canal.Prot_Ultimo_Envio().empty());
    }
}

TEST(EnviarArquivo, ABlockAnsweredWithAnotherCodeDoesNotStopTheUpload)
{
    test::Sandbox box;
    test::FakeZebServer server({with(upToBlocks(CMD_NEGADO), {FakeStep::reply(CMD_PROTOCOLO, "P|D")})});
    Upload up(box, server.port());
    EXPECT_EQ(up.run(), "");
    EXPECT_EQ(up.resultado.Protocolo, "P");
    EXPECT_EQ(up.resultado.DataHora, "D");
    EXPECT_EQ(up.resultado.EnderecoIP, "");
    EXPECT_EQ(up.resultado.Autenticacao, "");
    EXPECT_NE(box.read("TraceVEK.log").find("Servidor n\xE3o respondeu com ACK!"), std::string::npos);
}

TEST(TransmitirArquivo, TheFailureReportComesAfterTheConnectionClosedAndTheKeyWent)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        std::string error;
        std::string reportBeforeFailure;  // still on the open connection
    };
    // The server has read everything the client sent before it answers or
    // closes, so the client's read sees that answer or an orderly end.
    const std::array cases{
        Case{"final refusal",
             with(upToBlocks(), {FakeStep::reply(CMD_NEGADO, "abc")}),
             " Erro ao confirmar transmissão: abc",
             "Erro ao receber o protocolo de confirmação da transmissão do arquivo!"},
        Case{"end of data answered by a close",
             with(upToBlocks(), {FakeStep::close()}),
             Generic,
             "Aguardando confirmação de recebimento do servidor..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        test::FakeZebServer server({c.script});
        Upload up(box, server.port());
        struct Seen
        {
            bool connected;
            bool key;
        };
        std::vector<Seen> seen;
        up.canal.AoEnviarArquivo = [&](TCanalZEBCliente& canal, const TStatusUpload& s) {
            up.reports.push_back(s);
            seen.push_back({canal.socCliente().connected(), static_cast<bool>(canal.ChaveServidor)});
        };
        EXPECT_EQ(up.run(), c.error);
        ASSERT_GE(seen.size(), 2U);
        EXPECT_EQ(up.reports.back().StatusTransmissao, tseErro);
        EXPECT_FALSE(seen.back().connected);
        EXPECT_FALSE(seen.back().key);
        // Until the step fails, it runs on the open connection with the key.
        EXPECT_EQ(up.reports[up.reports.size() - 2].Mensagem, c.reportBeforeFailure);
        EXPECT_TRUE(seen[seen.size() - 2].connected);
        EXPECT_TRUE(seen[seen.size() - 2].key);
        ASSERT_TRUE(server.waitDone());
        for (const auto& e : server.errors()) {
            ADD_FAILURE() << e;
        }
    }
}

// The file's symmetric key is wiped when the upload ends, whatever the
// outcome, as the server's key is released.
TEST(EnviarArquivo, NoKeyOutlivesTheUpload)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        bool succeeds;
    };
    const std::array cases{
        Case{"success",
             with(upToBlocks(), {FakeStep::reply(CMD_PROTOCOLO, "P|D|I|A"), FakeStep::expect(CMD_ACK)}),
             true},
        Case{"refused in the authorization",
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_NEGADO, "motivo")},
             false},
        Case{"refused at the end", with(upToBlocks(), {FakeStep::reply(CMD_NEGADO, "abc")}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        test::FakeZebServer server({c.script});
        Upload up(box, server.port());
        std::size_t keyWhenConnecting = 0;
        up.canal.AoEnviarArquivo = [&](TCanalZEBCliente& canal, const TStatusUpload& s) {
            if (s.Mensagem.rfind("Tentando efetuar conexão TCP", 0) == 0) {
                keyWhenConnecting = canal.ChaveSimetrica.size();
            }
        };
        EXPECT_EQ(up.run().empty(), c.succeeds);
        EXPECT_EQ(keyWhenConnecting, 16U);
        EXPECT_TRUE(up.canal.ChaveSimetrica.empty());
        EXPECT_FALSE(up.canal.ChaveServidor);
        ASSERT_TRUE(server.waitDone());
    }
}

TEST(EnviarArquivo, AFailureAfterASuccessKeepsTheEarlierProtocol)
{
    test::Sandbox box;
    test::FakeZebServer server({with(upToBlocks(), {FakeStep::reply(CMD_PROTOCOLO, "P1|D1|ip|a")}),
                                {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_NEGADO, "")}});
    Upload up(box, server.port());
    EXPECT_EQ(up.run(), "");
    up.resultado = {};
    EXPECT_NE(up.run(), "");
    EXPECT_FALSE(up.resultado.Sucesso);
    EXPECT_EQ(up.resultado.Protocolo, "P1");
    EXPECT_EQ(up.resultado.DataHora, "D1");
}

TEST(EnviarArquivo, ValidationAndPreparationFailures)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    Upload up(box, 1);
    up.canal.CD_Operadora.clear();
    EXPECT_EQ(up.run(), "Registro ZEB da Operadora não foi informado.");
    up.canal.CD_Operadora = "123456";
    up.canal.Senha.clear();
    EXPECT_EQ(up.run(), "A senha de transmissão deve ser informada, obrigatoriamente, e não pode ser nula (vazia)");
    EXPECT_TRUE(up.reports.empty());
    EXPECT_TRUE(ui.busyCalls().empty());

    up.canal.Senha = "demo";
    up.canal.Arquivo = (box.path() / "nao-existe.xml").string();
    const auto error = up.run();
    EXPECT_EQ(error.rfind(" Erro na preparação dos dados. Código de erro do Windows: ", 0), 0U) << error;
    EXPECT_EQ(up.reports.back().StatusPreparacao, tseErro);
    EXPECT_EQ(up.reports.back().Mensagem, "Erro na preparação dos dados.");
    EXPECT_EQ(ui.busyCalls(), (std::vector<bool>{true, false}));
}

TEST(EnviarArquivo, ConnectionFailureFailsWithConectarsMessage)
{
    test::Sandbox box;
    std::uint16_t port = 0;
    {
        platform::TcpListener l;
        l.listen("127.0.0.1", 0);
        port = l.localPort();
    }
    Upload up(box, port);
    const auto error = up.run();
    EXPECT_EQ(error.rfind(" Erro ao conectar-se com o servidor da ZEB: ", 0), 0U) << error;
    EXPECT_EQ(up.reports.back().StatusConexao, tseErro);
    EXPECT_EQ(up.reports.back().PercentConexao, 50);
}

TEST(TransmitirArquivo, ReportsBlocksInWindowsOfAHundredEveryThreeHundred)
{
    test::Sandbox box;
    FakeScript script = uploadAuthorized();
    script.insert(script.end(),
                  {FakeStep::expect(CMD_CHAVE_SIMETRICA),
                   FakeStep::expect(CMD_HASH_ARQUIVO),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::expect(CMD_TAMANHO),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::ackBlocks(),
                   FakeStep::reply(CMD_PROTOCOLO, "P|D|I|A")});
    test::FakeZebServer server({script});
    Upload up(box, server.port());
    // Random bytes do not compress: about 500 blocks of 1280 bytes.
    std::string data(500 * 1280 - 3000, '\0');
    std::uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245U + 12345U;
        c = static_cast<char>(x >> 24);
    }
    up.canal.Arquivo = box.write("aleatorio.bin", data).string();
    EXPECT_EQ(up.run(), "");
    const auto blocks = up.canal.BlocosDados.size();
    ASSERT_GE(blocks, 480U);
    ASSERT_LE(blocks, 500U);
    std::vector<std::string> texts;
    for (const auto& r : up.reports) {
        if (r.Mensagem.rfind("Enviando dados do arquivo: ", 0) == 0) {
            texts.push_back(r.Mensagem);
        }
    }
    // Blocks 1 to 79 and 280 to 379.
    ASSERT_EQ(texts.size(), 179U);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Enviando dados do arquivo: %.2f%% conclu", 100.0 * 280 / blocks);
    EXPECT_EQ(texts[79].rfind(expected, 0), 0U) << texts[79];
}

TEST(ExtrairCampo, TakesFieldsUpToEachBar)
{
    std::string r = "P|D";
    EXPECT_EQ(ExtrairCampo(r), "P");
    EXPECT_EQ(ExtrairCampo(r), "D");
    EXPECT_EQ(r, "");
    EXPECT_EQ(ExtrairCampo(r), "");
    r = "|x|";
    EXPECT_EQ(ExtrairCampo(r), "");
    EXPECT_EQ(r, "x|");
}

}  // namespace
}  // namespace vek::channel
