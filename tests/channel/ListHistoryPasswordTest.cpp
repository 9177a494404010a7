#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TGzip.h"
#include "platform/Error.h"
#include "platform/Socket.h"
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

const std::string ListaXml = "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"/>";

// The gzip bytes of a small list file.
std::string gzipOf(const test::Sandbox& box, const std::string& content)
{
    const auto src = box.write("fonte.xml", content);
    crypto::TGzip gz;
    gz.FileSource = src.string();
    gz.FileDestination = (box.path() / "fonte.gz").string();
    EXPECT_EQ(gz.Compress(), 0);
    return box.read("fonte.gz");
}

struct Client
{
    explicit Client(const test::Sandbox& box, std::uint16_t port)
    {
        test::writeClientConfig(box.path().string(), port, "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n");
        // No case here waits a read out: long waits, which a busy machine's
        // scripted server meets.
        canal.timeouts.streamTimeout = 10s;
        canal.timeouts.waitForData = 10s;
        canal.timeouts.connectPause = 10ms;
        canal.timeouts.connectBudget = 50ms;
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.AoConsultarListaDownload = [this](TCanalZEBCliente&, TTipoStatusEtapa s, int p, const std::string& t) {
            reports.push_back({s, p, t});
        };
        canal.AoConsultaHistoricoTx = canal.AoConsultarListaDownload;
    }
    struct Report
    {
        TTipoStatusEtapa status;
        int percent;
        std::string text;
    };
    std::string list(const std::string& tipo = "RET", const std::string& comp = "", const std::string& disp = "")
    {
        std::string path = "x";
        canal.ConsultarListaDownload(tipo, comp, disp, path);
        return path;
    }
    TCanalZEBCliente canal;
    std::vector<Report> reports;
};

FakeScript listWithFile(const std::string& gz, const std::string& header, const std::string& credentials)
{
    return {FakeStep::expect(CMD_PEDIDO_LISTA),
            FakeStep::reply(CMD_ACEITO),
            FakeStep::reply(CMD_ACEITO, "1"),
            FakeStep::reply(CMD_TAMANHO, header),
            FakeStep::reply(CMD_BLOCO, gz),
            FakeStep::expect(CMD_ACK),
            FakeStep::reply(CMD_FIM_DADOS),
            FakeStep::expect(CMD_LISTA_RECEBIDA),
            FakeStep::reply(CMD_ACEITO, crypto::EncryptProtocolText(credentials)),
            FakeStep::expect(CMD_ACK)};
}

TEST(ConsultarListaDownload, ReceivesExpandsAndKeepsTheCredentials)
{
    test::Sandbox box;
    const std::string gz = gzipOf(box, ListaXml);
    test::FakeZebServer server({listWithFile(gz, std::to_string(gz.size()) + "|Xlista.xml", "usuario|senha|id|7")});
    Client c(box, server.port());
    const auto path = c.list("ret", "  /    ", "03/2006");
    EXPECT_EQ(path, (box.path() / "temp" / "lista.xml").string());
    EXPECT_EQ(test::readFile(path), ListaXml);
    EXPECT_FALSE(std::filesystem::exists(box.path() / "temp" / "dados.gz"));
    EXPECT_EQ(c.canal.UsuarioDownload, "usuario");
    EXPECT_EQ(c.canal.SenhaDownload, "senha");
    EXPECT_EQ(c.canal.IdentificadorDownload, "id|7");
    EXPECT_FALSE(c.canal.socCliente().connected());
    ASSERT_TRUE(server.waitDone());
    EXPECT_TRUE(server.errors().empty());
    const std::string pedido = server.received()[0].text();
    const std::string prefix = "VEK-4.0.8|VEK-4.0.8|RET|123456|" + c.canal.NomeSistemaOperacional() + "||03/2006|";
    ASSERT_EQ(pedido.rfind(prefix, 0), 0U) << pedido;
    EXPECT_EQ(crypto::DecryptProtocolText(pedido.substr(prefix.size())), "demo");
    ASSERT_GE(c.reports.size(), 5U);
    EXPECT_EQ(c.reports[0].percent, 0);
    EXPECT_EQ(c.reports[1].text, "Solicitando a lista de arquivos...");
    EXPECT_EQ(c.reports.back().percent, 100);
}

TEST(ConsultarListaDownload, CredentialSplitting)
{
    struct Case
    {
        const char* plain;
        const char* user;
        const char* password;
        const char* id;
    };
    const std::array cases{
        Case{"u|p|t", "u", "p", "t"},
        Case{"u|p", "u", "", "p"},
        Case{"semBarra", "", "", "semBarra"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.plain);
        test::Sandbox box;
        const std::string gz = gzipOf(box, ListaXml);
        test::FakeZebServer server({listWithFile(gz, std::to_string(gz.size()) + "|Xl.xml", k.plain)});
        Client c(box, server.port());
        c.list();
        EXPECT_EQ(c.canal.UsuarioDownload, k.user);
        EXPECT_EQ(c.canal.SenhaDownload, k.password);
        EXPECT_EQ(c.canal.IdentificadorDownload, k.id);
    }
}

TEST(ConsultarListaDownload, BlockPercentsFollowTheAnnouncedSize)
{
    test::Sandbox box;
    const std::string gz = gzipOf(box, ListaXml);
    std::string padded = gz + std::string(1500 - gz.size(), '\0');  // trailing garbage after the gzip member
    test::FakeZebServer server({{FakeStep::expect(CMD_PEDIDO_LISTA),
                                 FakeStep::reply(CMD_ACEITO),
                                 FakeStep::reply(CMD_NEGADO, "9"),
                                 FakeStep::reply(CMD_TAMANHO, "1000|Xl.xml"),
                                 FakeStep::reply(CMD_BLOCO, padded.substr(0, 500)),
                                 FakeStep::expect(CMD_ACK),
                                 FakeStep::reply(CMD_BLOCO, padded.substr(500, 500)),
                                 FakeStep::expect(CMD_ACK),
                                 FakeStep::reply(CMD_BLOCO, padded.substr(1000, 500)),
                                 FakeStep::expect(CMD_ACK),
                                 FakeStep::reply(CMD_FIM_DADOS),
                                 FakeStep::expect(CMD_LISTA_RECEBIDA),
                                 FakeStep::reply(CMD_ACEITO, crypto::EncryptProtocolText("a|b|c")),
                                 FakeStep::expect(CMD_ACK)}});
    Client c(box, server.port());
    c.list();
    std::vector<int> percents;
    for (const auto& r : c.reports) {
        if (r.text == "Recebendo arquivo de lista... ") {
            percents.push_back(r.percent);
        }
    }
    EXPECT_EQ(percents, (std::vector<int>{30, 65, 100, 100, 100}));
}

TEST(ConsultarListaDownload, OutcomesWithoutAList)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        std::string comp;
        std::string error;  // empty: no error
        std::vector<std::string> boxes;
    };
    const std::array cases{
        Case{"denial",
             {FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::reply(CMD_NEGADO, "Senha inv\xE1lida")},
             "",
             " Senha inválida",
             {"Senha inválida"}},
        Case{"empty list, any code",
             {FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::reply(CMD_ACEITO), FakeStep::reply(CMD_NEGADO, "0")},
             "",
             "",
             {"A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível."}},
        Case{"empty list with a filter",
             {FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::reply(CMD_ACEITO), FakeStep::reply(CMD_ACEITO, "0")},
             "01/2026",
             "",
             {"A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível.\rOs "
              "filtros de competencia e geração do arquivo são opcionais, experimente consultar novamente \rsem "
              "preenchê-los."}},
        Case{"unexpected first code", {FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::reply(CMD_ACK)}, "", "", {}},
        Case{"unexpected code among the blocks",
             {FakeStep::expect(CMD_PEDIDO_LISTA),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_ACEITO, "1"),
              FakeStep::reply(CMD_TAMANHO, "10|Xl.xml"),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, "x")},
             "",
             "Erro inesperado ao buscar a lista de arquivos para download.",
             {}},
        Case{"size that is not a whole number",
             {FakeStep::expect(CMD_PEDIDO_LISTA),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_ACEITO, "1"),
              FakeStep::reply(CMD_TAMANHO, "12x|Xl.xml")},
             "",
             "Erro inesperado ao buscar a lista de arquivos para download.",
             {}},
        Case{"hostile list-file name",
             {FakeStep::expect(CMD_PEDIDO_LISTA),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_ACEITO, "1"),
              FakeStep::reply(CMD_TAMANHO, "10|X../")},
             "",
             " O servidor da ZEB enviou um nome de arquivo de lista inválido: \"../\".",
             {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        test::FakeZebServer server({k.script});
        Client c(box, server.port());
        std::string error;
        std::string path = "x";
        try {
            path = c.list("RET", k.comp);
        } catch (const Error& e) {
            error = e.what();
        }
        EXPECT_EQ(error, k.error);
        std::vector<std::string> boxes;
        for (const auto& m : ui.messages()) {
            boxes.push_back(m.text);
        }
        EXPECT_EQ(boxes, k.boxes);
        if (k.error.empty()) {
            EXPECT_EQ(path, "");
        }
        EXPECT_FALSE(c.canal.socCliente().connected());
    }
}

TEST(ConsultarListaDownload, HostileNamesStayInsideTemp)
{
    for (const std::string name : {"../../fora.xml", "/etc/fora.xml", "C:\\x\\..\\fora.xml"}) {
        SCOPED_TRACE(name);
        test::Sandbox box;
        const std::string gz = gzipOf(box, ListaXml);
        test::FakeZebServer server({listWithFile(gz, std::to_string(gz.size()) + "|X" + name, "u|p|t")});
        Client c(box, server.port());
        EXPECT_EQ(c.list(), (box.path() / "temp" / "fora.xml").string());
        EXPECT_FALSE(std::filesystem::exists(box.path().parent_path() / "fora.xml"));
    }
}

// A list file beyond the bound, as it arrives or once expanded, is refused
// with a clear text (the caller sees it after the channel's prefix rule) and
// leaves nothing expanded behind.
TEST(ConsultarListaDownload, OversizedListFilesAreRefused)
{
    test::Sandbox box;
    const std::string bomb = gzipOf(box, std::string(2 * 1024 * 1024, ' '));
    struct Case
    {
        const char* name;
        std::uint64_t bound;
        std::string expected;
    };
    const Case cases[] = {
        {"received", 100, " O servidor da ZEB enviou um arquivo de lista maior que o limite de 100 bytes."},
        {"expanded",
         1024 * 1024,
         " O arquivo de lista enviado pelo servidor da ZEB expande para mais que o limite de 1048576 "
         "bytes."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeZebServer server({listWithFile(bomb, std::to_string(bomb.size()) + "|Xlista.xml", "u|p|t")});
        Client client(box, server.port());
        client.canal.maxListFileBytes = c.bound;
        try {
            client.list();
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
        EXPECT_FALSE(std::filesystem::exists(box.path() / "temp" / "lista.xml"));
        EXPECT_FALSE(client.canal.socCliente().connected());
        // The client hung up in the middle of the file, where the server
        // still waited for an acknowledgement (an end of stream, or a reset
        // when blocks were still unread on the client's side).
        ASSERT_TRUE(server.waitDone());
        const auto errors = server.errors();
        ASSERT_EQ(errors.size(), 1U);
        EXPECT_TRUE(errors[0].starts_with("connection: ")) << errors[0];
    }
}

// A block that announces a negative length carries nothing: the bound and
// the percent count the bytes that arrived, so such blocks can neither pull
// the count below the bound nor drive the percent out of its range.
TEST(ReceberArquivoLista, NegativeBlockLengthsCountNothing)
{
    const std::vector<std::uint8_t> negative{CMD_BLOCO, 0x00, 0x00, 0x00, 0x80};
    const std::string block(200, 'x');
    {
        SCOPED_TRACE("bound");
        test::Sandbox box;
        test::FakeZebServer server({{FakeStep::expect(CMD_PEDIDO_LISTA),
                                     FakeStep::reply(CMD_ACEITO),
                                     FakeStep::reply(CMD_ACEITO, "1"),
                                     FakeStep::reply(CMD_TAMANHO, "1000|Xlista.zeb"),
                                     FakeStep::reply(CMD_BLOCO, block),
                                     FakeStep::expect(CMD_ACK),
                                     FakeStep::raw(negative),
                                     FakeStep::expect(CMD_ACK),
                                     FakeStep::reply(CMD_BLOCO, block)}});
        Client c(box, server.port());
        c.canal.maxListFileBytes = 250;
        try {
            c.list();
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), " O servidor da ZEB enviou um arquivo de lista maior que o limite de 250 bytes.");
        }
    }
    {
        SCOPED_TRACE("percent");
        test::Sandbox box;
        test::FakeZebServer server({{FakeStep::expect(CMD_PEDIDO_LISTA),
                                     FakeStep::reply(CMD_ACEITO),
                                     FakeStep::reply(CMD_ACEITO, "1"),
                                     FakeStep::reply(CMD_TAMANHO, "1|Xa"),
                                     FakeStep::raw(negative),
                                     FakeStep::expect(CMD_ACK),
                                     FakeStep::reply(CMD_BLOCO, block),
                                     FakeStep::expect(CMD_ACK),
                                     FakeStep::reply(CMD_FIM_DADOS),
                                     FakeStep::close()}});
        Client c(box, server.port());
        EXPECT_THROW(c.list(), Error);  // nothing that expands, and no credentials
        ASSERT_FALSE(c.reports.empty());
        for (const auto& r : c.reports) {
            EXPECT_GE(r.percent, 0) << r.text;
            EXPECT_LE(r.percent, 100) << r.text;
        }
    }
}

TEST(ReceberArquivoLista, TheCharacterAfterTheBarIsDroppedInTheServersEncoding)
{
    // Header bytes as the server sends them (Windows-1252): size, "|", one
    // character that is dropped, the name.
    struct Case
    {
        const char* name;
        bool history;
        std::string dropped;
        std::string wireName;
        std::string fileName;
    };
    const std::array cases{
        Case{"list, accented character dropped", false, "\xE9", "relat\xF3rio.zeb", "relatório.zeb"},
        Case{"list, euro sign dropped", false, "\x80", "lista.zeb", "lista.zeb"},
        Case{"history, accented character dropped", true, "\xC7", "hist\xF3rico.zeb", "histórico.zeb"},
        Case{"history, plain character dropped", true, "X", "hist\xF3rico.zeb", "histórico.zeb"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        test::Sandbox box;
        const std::string gz = gzipOf(box, ListaXml);
        const std::string header = std::to_string(gz.size()) + "|" + k.dropped + k.wireName;
        FakeScript script;
        if (k.history) {
            script = {FakeStep::expect(CMD_PEDIDO_HISTORICO),
                      FakeStep::reply(CMD_ACEITO),
                      FakeStep::reply(CMD_ACEITO, "1"),
                      FakeStep::reply(CMD_TAMANHO, header),
                      FakeStep::reply(CMD_BLOCO, gz),
                      FakeStep::expect(CMD_ACK),
                      FakeStep::reply(CMD_FIM_DADOS),
                      FakeStep::expect(CMD_ACK)};
        } else {
            script = listWithFile(gz, header, "u|p|t");
        }
        test::FakeZebServer server({script});
        Client c(box, server.port());
        std::string path;
        if (k.history) {
            c.canal.ConsultarHistoricoTx("01/01/2006", "30/06/2006", path);
        } else {
            path = c.list();
        }
        EXPECT_EQ(path, (box.path() / "temp" / k.fileName).string());
        EXPECT_EQ(test::readFile(path), ListaXml);
        // The trace file is in Windows-1252 too: the name comes back as sent.
        const std::string trace = box.read("TraceVEK.log");
        EXPECT_NE(trace.find("Tamanho do arquivo " + k.wireName + ":  " + std::to_string(gz.size()) + " bytes"),
                  std::string::npos)
            << trace;
        ASSERT_TRUE(server.waitDone());
        EXPECT_TRUE(server.errors().empty());
    }
}

TEST(ConsultarListaDownload, AFileTypeOfBlanksAndControlCharactersIsRefusedBeforeConnecting)
{
    for (const std::string tipo : {"", " \t", "\r\n", "\x01", " \x0B\x1F "}) {
        SCOPED_TRACE(testing::PrintToString(tipo));
        test::Sandbox box;
        test::FakeZebServer server({{FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::close()}});
        Client c(box, server.port());
        try {
            c.list(tipo);
            ADD_FAILURE() << "queried";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Erro inesperado ao buscar a lista de arquivos para download.");
        }
        EXPECT_TRUE(c.reports.empty());
        EXPECT_EQ(server.connections(), 0);
    }
}

TEST(ConsultarListaDownload, ValidationComesFirst)
{
    test::Sandbox box;
    Client c(box, 1);
    c.canal.CD_Operadora.clear();
    EXPECT_THROW(
        {
            try {
                c.list();
            } catch (const Error& e) {
                EXPECT_STREQ(e.what(), "O registro da Operadora não foi informado.");
                throw;
            }
        },
        Error);
    c.canal.CD_Operadora = "1";
    c.canal.Senha.clear();
    try {
        c.list();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "A Senha não foi informada !");
    }
    EXPECT_TRUE(c.reports.empty());
}

TEST(ConsultarHistoricoTx, ReceivesTheListAcknowledgesOnceAndPauses)
{
    test::Sandbox box;
    const std::string gz = gzipOf(box, ListaXml);
    test::FakeZebServer server({{FakeStep::expect(CMD_PEDIDO_HISTORICO),
                                 FakeStep::reply(CMD_ACEITO),
                                 FakeStep::reply(CMD_ACEITO, "1"),
                                 FakeStep::reply(CMD_TAMANHO, std::to_string(gz.size()) + "|Xhist.xml"),
                                 FakeStep::reply(CMD_BLOCO, gz),
                                 FakeStep::expect(CMD_ACK),
                                 FakeStep::reply(CMD_FIM_DADOS),
                                 FakeStep::expect(CMD_ACK)}});
    Client c(box, server.port());
    std::string path;
    const auto start = std::chrono::steady_clock::now();
    c.canal.ConsultarHistoricoTx("01/01/2006", "30/06/2006", path);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(test::readFile(path), ListaXml);
    ASSERT_TRUE(server.waitDone());
    EXPECT_TRUE(server.errors().empty());
    EXPECT_EQ(server.receivedCodes(), (std::vector<std::uint8_t>{CMD_PEDIDO_HISTORICO, CMD_ACK, CMD_ACK}));
    const std::string pedido = server.received()[0].text();
    EXPECT_NE(pedido.find("|01/01/2006|30/06/2006|"), std::string::npos) << pedido;
    EXPECT_EQ(c.reports[1].text, "Solicitando a lista de protocolos...");
}

TEST(ConsultarHistoricoTx, DenialEmptyPeriodAndSilentEnd)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        std::string error;
        std::vector<std::string> boxes;
    };
    const std::array cases{
        Case{"denial", {FakeStep::expect(CMD_PEDIDO_HISTORICO), FakeStep::reply(CMD_NEGADO, "X")}, " X", {"X"}},
        Case{"empty period",
             {FakeStep::expect(CMD_PEDIDO_HISTORICO), FakeStep::reply(CMD_ACEITO), FakeStep::reply(CMD_TAMANHO, "0")},
             "",
             {"Não há transmissões efetuadas no período informado."}},
        Case{"code 39 first", {FakeStep::expect(CMD_PEDIDO_HISTORICO), FakeStep::reply(CMD_ACK)}, "", {}},
        Case{"server closes", {FakeStep::expect(CMD_PEDIDO_HISTORICO), FakeStep::close()}, "", {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        test::FakeZebServer server({k.script});
        Client c(box, server.port());
        std::string path = "x";
        std::string error;
        try {
            c.canal.ConsultarHistoricoTx("01/01/2006", "30/06/2006", path);
        } catch (const Error& e) {
            error = e.what();
        }
        if (std::string(k.name) == "server closes") {
            EXPECT_EQ(error, "Erro ao buscar a lista de arquivos para download. Código de erro do windows: 0");
        } else {
            EXPECT_EQ(error, k.error);
        }
        std::vector<std::string> boxes;
        for (const auto& m : ui.messages()) {
            boxes.push_back(m.text);
        }
        EXPECT_EQ(boxes, k.boxes);
        EXPECT_EQ(path, "");
        ASSERT_TRUE(server.waitDone());
        EXPECT_EQ(server.receivedCodes(), (std::vector<std::uint8_t>{CMD_PEDIDO_HISTORICO}));
    }
}

TEST(AlterarSenha, EveryOutcomeIsShownAndNothingIsRaised)
{
    struct Case
    {
        const char* name;
        FakeScript script;
        ResultadoAlteracaoSenha result;
        std::vector<std::string> boxes;
        std::vector<std::uint8_t> sent;
    };
    const std::array cases{
        Case{"accepted",
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::reply(CMD_ACEITO, "Senha alterada.")},
             ResultadoAlteracaoSenha::Aceita,
             {"Senha alterada."},
             {CMD_ALTERAR_SENHA, CMD_ACK}},
        Case{"refused",
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::reply(CMD_NEGADO, "Senha atual n\xE3o confere.")},
             ResultadoAlteracaoSenha::Recusada,
             {"Senha atual não confere."},
             {CMD_ALTERAR_SENHA}},
        Case{"code 39",
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::reply(CMD_ACK)},
             ResultadoAlteracaoSenha::Ignorada,
             {},
             {CMD_ALTERAR_SENHA}},
        Case{"closed",
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::close()},
             ResultadoAlteracaoSenha::Falhou,
             {"Houve um erro ao tentar alterar a senha. "},
             {CMD_ALTERAR_SENHA}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        test::FakeZebServer server({k.script});
        Client c(box, server.port());
        EXPECT_EQ(c.canal.AlterarSenha(""), k.result);
        std::vector<std::string> boxes;
        for (const auto& m : ui.messages()) {
            boxes.push_back(m.text);
        }
        EXPECT_EQ(boxes, k.boxes);
        EXPECT_EQ(c.canal.Senha, "demo");
        ASSERT_TRUE(server.waitDone());
        EXPECT_EQ(server.receivedCodes(), k.sent);
        const std::string pedido = server.received()[0].text();
        const std::string prefix = "VEK-4.0.8|123456|" + c.canal.NomeSistemaOperacional() + "|";
        ASSERT_EQ(pedido.rfind(prefix, 0), 0U);
        EXPECT_EQ(pedido.substr(prefix.size()), crypto::EncryptProtocolText("demo") + "|");  // empty new password
    }
}

TEST(AlterarSenha, ServerDownShowsTheFailureBox)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    std::uint16_t port = 0;
    {
        platform::TcpListener l;
        l.listen("127.0.0.1", 0);
        port = l.localPort();
    }
    Client c(box, port);
    EXPECT_EQ(c.canal.AlterarSenha("nova"), ResultadoAlteracaoSenha::Falhou);
    ASSERT_EQ(ui.messages().size(), 1U);
    EXPECT_EQ(ui.messages()[0].text, "Houve um erro ao tentar alterar a senha. ");
    EXPECT_EQ(ui.messages()[0].kind, platform::MessageKind::Error);
}

}  // namespace
}  // namespace vek::channel
