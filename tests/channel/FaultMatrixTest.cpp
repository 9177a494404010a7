// Every exchange on the message channel against a server that misbehaves at
// each message it sends: silence, an orderly close, a reset, a code that does
// not belong there, a frame cut short, an absurd length. For each case: the
// text the user gets, the outcome vek-cli turns into its exit code, the
// connection closed, no key kept, no descriptor left open and no work file
// left behind but what the client keeps on purpose.

#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "crypto/TGzip.h"
#include "ftp/TZebSimpleServer.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "platform/SystemText.h"
#include "platform/UiServices.h"
#include "tests/fixtures/FakeFtpServer.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/PublishedFile.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;
using namespace wire;
using test::FakeScript;
using test::FakeStep;
namespace fs = std::filesystem;

enum class Fault
{
    Silence,
    Close,
    Reset,
    UnexpectedCode,
    Truncated,
    AbsurdLength,
};
constexpr std::array AllFaults{
    Fault::Silence, Fault::Close, Fault::Reset, Fault::UnexpectedCode, Fault::Truncated, Fault::AbsurdLength};

const char* faultName(Fault f)
{
    switch (f) {
    case Fault::Silence:
        return "silence";
    case Fault::Close:
        return "orderly close";
    case Fault::Reset:
        return "reset";
    case Fault::UnexpectedCode:
        return "unexpected code";
    case Fault::Truncated:
        return "truncated frame";
    case Fault::AbsurdLength:
        return "absurd length";
    }
    return "?";
}

// No message of the protocol has this code.
constexpr std::uint8_t StrayCode = 77;
constexpr std::int32_t AbsurdLength = 0x7FFFFFFF;

// One message the server sends, after reading the client's messages `reads`.
struct Turn
{
    std::vector<std::uint8_t> reads;
    std::uint8_t code;
    std::string payload;
};

struct Conversation
{
    std::vector<Turn> turns;
    std::vector<std::uint8_t> trailing;  // what the client sends after the last turn
};

void playTurn(FakeScript& s, const Turn& t, std::optional<std::uint8_t> code = std::nullopt)
{
    for (const auto c : t.reads) {
        s.push_back(FakeStep::expect(c));
    }
    s.push_back(FakeStep::reply(code.value_or(t.code), t.payload));
}

// The conversation played normally up to turn `at`, whose message the fault
// replaces. After a fault the server waits for the client to hang up (the
// silence is just that), except where an unexpected code lets the exchange go
// on: then the rest is played as usual.
FakeScript faultyScript(const Conversation& c, std::size_t at, Fault fault, bool continues)
{
    FakeScript s;
    for (std::size_t i = 0; i < at; ++i) {
        playTurn(s, c.turns[i]);
    }
    const Turn& t = c.turns[at];
    if (fault == Fault::UnexpectedCode) {
        playTurn(s, t, StrayCode);
        if (continues) {
            for (std::size_t i = at + 1; i < c.turns.size(); ++i) {
                playTurn(s, c.turns[i]);
            }
            for (const auto code : c.trailing) {
                s.push_back(FakeStep::expect(code));
            }
        }
        return s;
    }
    for (const auto code : t.reads) {
        s.push_back(FakeStep::expect(code));
    }
    const auto frame = frameOf(t.code, t.payload);
    switch (fault) {
    case Fault::Silence:
        break;
    case Fault::Close:
        s.push_back(FakeStep::close());
        break;
    case Fault::Reset:
        s.push_back(FakeStep::reset());
        break;
    case Fault::Truncated: {
        // Half the payload, or part of the header when there is none.
        const std::size_t keep = t.payload.empty() ? 3 : HeaderSize + t.payload.size() / 2;
        s.push_back(FakeStep::raw({frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(keep)}));
        s.push_back(FakeStep::close());
        break;
    }
    case Fault::AbsurdLength: {
        const auto header = encodeHeader({t.code, AbsurdLength});
        s.push_back(FakeStep::raw({header.begin(), header.end()}));
        break;
    }
    case Fault::UnexpectedCode:
        break;
    }
    return s;
}

// What the user and a calling program get from one case.
struct Outcome
{
    std::optional<std::string> error;  // the text raised to the caller, none when the operation returned
    std::vector<std::string> boxes;    // message boxes shown
    int exitCode = 0;                  // what vek-cli exits with: 1 for an error raised, else per operation
    bool listFile = false;             // a list file was handed back (list and history queries)

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o)
{
    os << "{error: " << (o.error ? "\"" + *o.error + "\"" : std::string("none")) << ", boxes: [";
    for (const auto& b : o.boxes) {
        os << "\"" << b << "\" ";
    }
    return os << "], exit " << o.exitCode << ", list file " << o.listFile << "}";
}

Outcome failed(std::string text)
{
    return {std::move(text), {}, 1, false};
}

// A position in the exchange, and what a stray code there leads to.
struct Position
{
    const char* name;
    std::size_t turn;
    Outcome strayCode;
    bool continues = false;  // the exchange goes on to its end after the stray code
};

// The texts of the faults that do not depend on the position: a read that
// times out, ends early or is reset, and a length beyond the bound.
struct TransportTexts
{
    std::string timeout;
    std::string endOfStream;
    std::string reset;
    std::string absurd;
};

const std::string ReadTimeout =
    "Erro ao ler dados do socket: \"Tempo esgotado ao ler do socket\" / Código de erro do Windows: 110";
const std::string ReadReset = "Erro ao ler dados do socket: \"Erro ao ler do socket: a conexão foi reiniciada pelo "
                              "outro lado\" / Código de erro do Windows: 104";
const std::string ReadEnd = "Erro de leitura: a conexão foi encerrada pelo outro lado";
const std::string AbsurdText = "O servidor da ZEB enviou uma mensagem inválida: 2147483647 bytes anunciados, acima do "
                               "limite de 16777216 bytes.";

// The prefixed texts as an operation hands them on, the prefix cut off.
TransportTexts stripped(const std::string& endOfStream)
{
    return {" " + ReadTimeout, endOfStream, " " + ReadReset, " " + AbsurdText};
}

std::size_t openDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

std::set<std::string> filesIn(const fs::path& dir)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

// One exchange's table: its normal conversation, the positions a fault can
// hit, the texts of the transport faults, how to run it and what it may leave
// in temp/.
struct Matrix
{
    Conversation conversation;
    std::vector<Position> positions;
    TransportTexts texts;
    // Outcome of a transport fault: by default, the operation fails with the text.
    std::function<Outcome(const std::string& text)> transportOutcome = failed;
    std::function<Outcome(TCanalZEBCliente&, const test::RecordingUiServices&)> run;
    std::set<std::string> keptAfterSuccess;  // in temp/, when a list file was handed back
    std::set<std::string> keptAfterFailure;  // at most these, in temp/
};

void prepareClient(TCanalZEBCliente& canal, const test::Sandbox& box, std::uint16_t port, Fault fault)
{
    test::writeClientConfig(box.path().string(), port, "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n");
    // Silence costs the wait for data plus one read time-out, so it has short
    // ones; with any other fault every reply that comes has long waits,
    // which a busy machine needs.
    const bool silence = fault == Fault::Silence;
    canal.timeouts.waitForData = silence ? 300ms : 10000ms;
    canal.timeouts.streamTimeout = silence ? 1000ms : 10000ms;
    canal.timeouts.connectPause = 10ms;
    canal.timeouts.connectBudget = 50ms;
    canal.timeouts.downloadTypesPause = 0ms;
    canal.timeouts.downloadPause = 0ms;
    canal.CD_Operadora = "123456";
    canal.Senha = "demo";
}

void play(const Matrix& m)
{
    for (const auto& position : m.positions) {
        for (const Fault fault : AllFaults) {
            SCOPED_TRACE(std::string(position.name) + " / " + faultName(fault));
            test::Sandbox box;
            const fs::path work = box.path() / "tmp";
            fs::create_directories(work);
            setenv("TMPDIR", work.c_str(), 1);
            test::RecordingUiServices ui;
            platform::ScopedUi scope(ui);
            const bool continues = fault == Fault::UnexpectedCode && position.continues;
            test::FakeZebServer server({faultyScript(m.conversation, position.turn, fault, continues)});
            TCanalZEBCliente canal;
            prepareClient(canal, box, server.port(), fault);
            const std::size_t before = openDescriptors();

            const Outcome got = m.run(canal, ui);

            Outcome expected;
            switch (fault) {
            case Fault::Silence:
                expected = m.transportOutcome(m.texts.timeout);
                break;
            case Fault::Close:
            case Fault::Truncated:
                expected = m.transportOutcome(m.texts.endOfStream);
                break;
            case Fault::Reset:
                expected = m.transportOutcome(m.texts.reset);
                break;
            case Fault::AbsurdLength:
                expected = m.transportOutcome(m.texts.absurd);
                break;
            case Fault::UnexpectedCode:
                expected = position.strayCode;
                break;
            }
            EXPECT_EQ(got, expected);
            EXPECT_FALSE(canal.socCliente().connected());
            EXPECT_FALSE(canal.ChaveServidor);
            EXPECT_TRUE(canal.ChaveSimetrica.empty());
            // The server saw the connection end: it closed it, or the client hung up.
            EXPECT_TRUE(server.waitDone());
            EXPECT_EQ(openDescriptors(), before);
            EXPECT_EQ(filesIn(work), std::set<std::string>{});
            const auto kept = filesIn(box.path() / "temp");
            if (got.error || got.exitCode != 0) {
                EXPECT_TRUE(
                    std::includes(m.keptAfterFailure.begin(), m.keptAfterFailure.end(), kept.begin(), kept.end()));
            } else {
                EXPECT_EQ(kept, got.listFile ? m.keptAfterSuccess : std::set<std::string>{});
            }
            unsetenv("TMPDIR");
        }
    }
}

std::vector<std::string> boxTexts(const test::RecordingUiServices& ui)
{
    std::vector<std::string> texts;
    for (const auto& m : ui.messages()) {
        texts.push_back(m.text);
    }
    return texts;
}

// Runs an operation that raises its failures.
template <class Op> Outcome raising(const test::RecordingUiServices& ui, Op op)
{
    Outcome o;
    try {
        o.listFile = op();
    } catch (const Error& e) {
        o.error = e.what();
        o.exitCode = 1;
    }
    o.boxes = boxTexts(ui);
    return o;
}

TEST(FaultMatrix, TypeListForUpload)
{
    const std::string lista = "XML#Dados XML|TXT#Texto";
    std::string got;
    Matrix m;
    m.conversation = {{{{CMD_TIPOS_ENVIO}, CMD_ACEITO, lista}}, {}};
    // Whatever the reply's code, its text is the list.
    m.positions = {{"reply", 0, {}, false}};
    // Type-list errors reach the caller as raised, prefix and all.
    m.texts = {"<<CANAL_ZEB>> " + ReadTimeout, ReadEnd, "<<CANAL_ZEB>> " + ReadReset, "<<CANAL_ZEB>> " + AbsurdText};
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        got.clear();
        const Outcome o = raising(ui, [&] {
            canal.ListarTiposArquivoEnvio(got);
            return false;
        });
        EXPECT_EQ(got, o.error ? "-- Lista de arquivos indisponível." : lista);
        return o;
    };
    play(m);
}

TEST(FaultMatrix, TypeListForDownload)
{
    const std::string padrao = "---#Lista de arquivos permitidos Indisponível (servidor congestionado)";
    std::string got;
    Matrix m;
    m.conversation = {{{{CMD_TIPOS_DOWNLOAD}, CMD_TIPOS_DOWNLOAD, "RET#Retorno"}}, {}};
    m.positions = {{"reply", 0, {}, false}};
    m.texts = {"<<CANAL_ZEB>> " + ReadTimeout, ReadEnd, "<<CANAL_ZEB>> " + ReadReset, "<<CANAL_ZEB>> " + AbsurdText};
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        got.clear();
        const Outcome o = raising(ui, [&] {
            canal.ListarTiposArquivoDownload(got);
            return false;
        });
        // Another code than 40 means a congested server: the default text, no error.
        EXPECT_EQ(got, padrao);
        return o;
    };
    play(m);
}

const std::string Modulus("\xC7\x1A\x3B\x55\x90\x11\x02\x6F", 8);
const std::string Exponent("\x03", 1);
const std::string UploadGeneric =
    "Erro ao transmitir o arquivo para a ZEB.\n\rCertifique-se de estar conectado à Internet, e que as "
    "configurações\n\rde sua rede mantem abertas as portas necessárias para conexão com o servidor da ZEB";

TEST(FaultMatrix, Upload)
{
    Matrix m;
    m.conversation = {{{{CMD_PEDIDO_ENVIO}, CMD_ACEITO, ""},
                       {{}, CMD_CHAVE_MODULO, Modulus},
                       {{}, CMD_CHAVE_EXPOENTE, Exponent},
                       {{CMD_CHAVE_SIMETRICA, CMD_HASH_ARQUIVO}, CMD_ACK, ""},
                       {{CMD_TAMANHO}, CMD_ACK, ""},
                       {{CMD_BLOCO}, CMD_ACK, ""},
                       {{CMD_FIM_DADOS}, CMD_PROTOCOLO, "P|D|I|A"}},
                      {CMD_ACK}};
    const Outcome keys = failed(" Erro de comunicação na leitura das chaves...");
    // Replies to the hash, the size and a block are read whatever their code.
    m.positions = {
        {"authorization",
         0,
         failed(" O servidor da ZEB respondeu à solicitação de autorização com uma mensagem inesperada (código 77). "
                "Transmissão não efetuada.")},
        {"modulus", 1, keys},
        {"exponent", 2, keys},
        {"reply to the hash", 3, {}, true},
        {"reply to the size", 4, {}, true},
        {"block acknowledgement", 5, {}, true},
        {"receipt", 6, failed(" Erro ao confirmar transmissão: P|D|I|A")},
    };
    m.texts = stripped(UploadGeneric);
    TResultadoEnvio resultado;
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        const fs::path arquivo = fs::path(std::getenv("TMPDIR")).parent_path() / "dados.xml";
        test::writeFile(arquivo, "<dados>conteúdo</dados>");
        canal.Arquivo = arquivo.string();
        canal.SetTipo_Arquivo("xml");
        resultado = {};
        const Outcome o = raising(ui, [&] {
            canal.EnviarArquivo(resultado);
            return false;
        });
        EXPECT_EQ(resultado.Sucesso, !o.error);
        if (o.error) {
            EXPECT_EQ(resultado.MensagemErro,
                      *o.error == UploadGeneric ? "Erro ao enviar dados para a ZEB." : *o.error);
        } else {
            EXPECT_EQ(resultado.Protocolo, "P");
        }
        EXPECT_EQ(ui.busyCalls(), (std::vector<bool>{true, false}));
        return o;
    };
    play(m);
}

// A list file as the server sends it: gzipped.
std::string gzipped(const std::string& content)
{
    const test::Sandbox work(false);
    crypto::TGzip gz;
    gz.FileSource = work.write("lista.xml", content).string();
    gz.FileDestination = (work.path() / "lista.gz").string();
    EXPECT_EQ(gz.Compress(), crypto::TGzip::ResultOk);
    return work.read("lista.gz");
}

TEST(FaultMatrix, ListQuery)
{
    const std::string gz = gzipped("<DATAPACKET Version=\"2.0\"/>");
    Matrix m;
    m.conversation = {{{{CMD_PEDIDO_LISTA}, CMD_ACEITO, ""},
                       {{}, CMD_ACEITO, "1"},
                       {{}, CMD_TAMANHO, std::to_string(gz.size()) + "|Xlista.xml"},
                       {{}, CMD_BLOCO, gz},
                       {{CMD_ACK}, CMD_FIM_DADOS, ""},
                       {{CMD_LISTA_RECEBIDA}, CMD_ACEITO, crypto::EncryptProtocolText("u|p|i")}},
                      {CMD_ACK}};
    const Outcome generic = failed("Erro inesperado ao buscar a lista de arquivos para download.");
    const Outcome listed{std::nullopt, {}, 0, true};
    m.positions = {
        // Neither acceptance nor denial: the query ends without a list.
        {"reply to the request", 0, {}},
        // The result message's code is not looked at, nor the credentials'.
        {"result", 1, listed, true},
        {"list file header", 2, generic},
        {"block", 3, generic},
        {"end of data", 4, generic},
        {"credentials", 5, listed, true},
    };
    m.texts = stripped(generic.error.value());
    m.keptAfterSuccess = {"lista.xml"};
    // A partly received list file stays, and so does one expanded before the
    // credentials failed to come.
    m.keptAfterFailure = {"dados.gz", "lista.xml"};
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        std::string caminho = "antes";
        std::vector<int> percents;
        canal.AoConsultarListaDownload = [&](TCanalZEBCliente&, TTipoStatusEtapa, std::int32_t p, const std::string&) {
            percents.push_back(p);
        };
        const Outcome o = raising(ui, [&] {
            canal.ConsultarListaDownload("RET", "", "", caminho);
            return !caminho.empty();
        });
        if (o.error) {
            EXPECT_EQ(caminho, "");
        } else if (o.listFile) {
            EXPECT_EQ(caminho, (TCanalZEBCliente::diretorioTemp() / "lista.xml").string());
            EXPECT_EQ(canal.UsuarioDownload, "u");
            EXPECT_EQ(canal.IdentificadorDownload, "i");
        }
        for (const int p : percents) {
            EXPECT_TRUE(p >= 0 && p <= 100) << p;
        }
        return o;
    };
    play(m);
}

TEST(FaultMatrix, HistoryQuery)
{
    const std::string gz = gzipped("<DATAPACKET Version=\"2.0\"/>");
    Matrix m;
    m.conversation = {{{{CMD_PEDIDO_HISTORICO}, CMD_ACEITO, ""},
                       {{}, CMD_ACEITO, "1"},
                       {{}, CMD_TAMANHO, std::to_string(gz.size()) + "|Xhistorico.xml"},
                       {{}, CMD_BLOCO, gz},
                       {{CMD_ACK}, CMD_FIM_DADOS, ""}},
                      {CMD_ACK}};
    // The history names the code also when it is 0.
    const Outcome generic = failed("Erro ao buscar a lista de arquivos para download. Código de erro do windows: 0");
    m.positions = {
        {"reply to the request", 0, {}},
        {"result", 1, {std::nullopt, {}, 0, true}, true},
        {"list file header", 2, generic},
        {"block", 3, generic},
        {"end of data", 4, generic},
    };
    m.texts = stripped(generic.error.value());
    m.keptAfterSuccess = {"historico.xml"};
    m.keptAfterFailure = {"dados.gz"};
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        std::string caminho = "antes";
        const Outcome o = raising(ui, [&] {
            canal.ConsultarHistoricoTx("01/01/2026", "30/06/2026", caminho);
            return !caminho.empty();
        });
        if (o.error) {
            EXPECT_EQ(caminho, "");
        }
        return o;
    };
    play(m);
}

TEST(FaultMatrix, PasswordChange)
{
    Matrix m;
    m.conversation = {{{{CMD_ALTERAR_SENHA}, CMD_ACEITO, "Senha alterada."}}, {CMD_ACK}};
    // Another code shows nothing; vek-cli fails all the same, as the change was not confirmed.
    m.positions = {{"reply", 0, {std::nullopt, {}, 1, false}}};
    // The operation never raises: every failure of its own is one fixed box.
    m.texts = {"", "", "", ""};
    m.transportOutcome = [](const std::string&) {
        return Outcome{std::nullopt, {"Houve um erro ao tentar alterar a senha. "}, 1, false};
    };
    m.run = [&](TCanalZEBCliente& canal, const test::RecordingUiServices& ui) {
        Outcome o;
        o.exitCode = canal.AlterarSenha("nova") == ResultadoAlteracaoSenha::Aceita ? 0 : 1;
        o.boxes = boxTexts(ui);
        return o;
    };
    play(m);
}

// The download speaks FTP: each reply of the server, and the data
// connection, can fail. A login that fails is tried four times (the server
// refuses the three later attempts); what fails after it is one download error;
// the notice of the end of the file and QUIT are allowed to fail.
TEST(FaultMatrix, Download)
{
    using ftp::test::FakeFtpServer;
    using ftp::test::FtpScript;
    using ftp::test::FtpStep;
    constexpr const char* Chave = "chave-do-arquivo";
    const test::Sandbox files(false);
    const std::string content(1000, 'z');
    const std::string wireBytes = test::encipheredForDownload(files, content, Chave);

    enum class Phase
    {
        Login,     // inside the connection attempts
        Transfer,  // the request and the file
        After,     // the file is in: failures here change nothing
    };
    struct FtpTurn
    {
        const char* name;
        std::string command;  // what the client sends first (empty: nothing)
        std::string reply;    // empty: the data connection
        Phase phase;
        bool strayCodeTolerated = false;
    };
    const std::vector<FtpTurn> turns{
        {"greeting", "", "220 servidor\r\n", Phase::Login},
        {"USER", "USER ", "331 senha\r\n", Phase::Login},
        {"PASS", "PASS ", "230 ok\r\n", Phase::Login},
        {"FEAT", "FEAT", "211-Extensoes\r\n SIZE\r\n211 fim\r\n", Phase::Login, true},
        {"TYPE", "TYPE I", "200 ok\r\n", Phase::Login},
        {"SYST", "SYST", "215 UNIX\r\n", Phase::Login, true},
        {"PORT", "PORT 127,0,0,1,", "200 ok\r\n", Phase::Transfer},
        {"RETR", "RETR ", "150 abrindo\r\n", Phase::Transfer},
        {"data connection", "", "", Phase::Transfer},
        {"end of the transfer", "", "226 fim\r\n", Phase::Transfer},
        {"notice of the end of the file", "RETR ", "250 anotado\r\n", Phase::After, true},
        {"QUIT", "QUIT", "221 tchau\r\n", Phase::After, true},
    };
    const auto playNormally = [&](FtpScript& s, const FtpTurn& t) {
        if (!t.command.empty()) {
            s.push_back(FtpStep::command(t.command));
        }
        if (t.reply.empty()) {
            s.push_back(FtpStep::sendData(wireBytes, {wireBytes.size()}, 0ms));
        } else {
            s.push_back(FtpStep::reply(t.reply));
        }
    };
    // The system error code the client records for each fault of a reply.
    const auto replyFaultCode = [](Fault f) {
        switch (f) {
        case Fault::Silence:
            return 110;  // ETIMEDOUT
        case Fault::Reset:
            return 104;  // ECONNRESET
        case Fault::AbsurdLength:
            return 71;  // EPROTO: a reply line beyond any FTP server's
        default:
            return 0;  // an end of stream, or a reply with a refusing code
        }
    };
    const auto downloadError = [](int code) {
        return code > 0 ? " Houve um erro ao efetuar download do arquivo. Código de erro do Windows: " +
                              std::to_string(code) + " (" + platform::systemText(code) + ")"
                        : std::string(" Houve um erro inesperado ao efetuar download do arquivo.");
    };

    for (std::size_t at = 0; at < turns.size(); ++at) {
        const FtpTurn& turn = turns[at];
        for (const Fault fault : AllFaults) {
            const bool data = turn.reply.empty();
            // A data connection has no code, and an orderly close of it is the
            // end of the file.
            if (data && (fault == Fault::UnexpectedCode || fault == Fault::Close)) {
                continue;
            }
            SCOPED_TRACE(std::string(turn.name) + " / " + faultName(fault));
            FtpScript script;
            for (std::size_t i = 0; i < at; ++i) {
                playNormally(script, turns[i]);
            }
            if (!turn.command.empty()) {
                script.push_back(FtpStep::command(turn.command));
            }
            const bool continues = fault == Fault::UnexpectedCode && turn.strayCodeTolerated;
            switch (fault) {
            case Fault::Silence:
                break;  // for the data connection: the server never connects
            case Fault::Close:
                script.push_back(FtpStep::close());
                break;
            case Fault::Reset:
                script.push_back(data ? FtpStep::resetData(wireBytes.substr(0, wireBytes.size() / 2))
                                      : FtpStep::reset());
                break;
            case Fault::UnexpectedCode:
                script.push_back(FtpStep::reply("550 recusado\r\n"));
                if (continues) {
                    for (std::size_t i = at + 1; i < turns.size(); ++i) {
                        playNormally(script, turns[i]);
                    }
                }
                break;
            case Fault::Truncated:
                // Half the file and an orderly end with no final reply, or half a reply line.
                if (data) {
                    script.push_back(
                        FtpStep::sendData(wireBytes.substr(0, wireBytes.size() / 2), {wireBytes.size() / 2}, 0ms));
                } else {
                    script.push_back(FtpStep::reply(turn.reply.substr(0, 2)));
                    script.push_back(FtpStep::close());
                }
                break;
            case Fault::AbsurdLength:
                // Past the bound of a file listed as 1 KB, or a reply line without end.
                script.push_back(data ? FtpStep::sendData(std::string(70000, 'x'), {70000}, 0ms)
                                      : FtpStep::reply(std::string(70000, '2')));
                break;
            }

            std::optional<std::string> expected;
            if (turn.phase == Phase::Login && !continues) {
                expected = " O VEK tentou 4 vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \rA seguir, a "
                           "lista dos códigos de erro obtidos em cada tentativa: \rCódigo de erro -> /1ª tentativa: " +
                           std::to_string(replyFaultCode(fault)) +
                           "\r/2ª tentativa: 111\r/3ª tentativa: 111\r/4ª tentativa: 111\r";
            } else if (turn.phase == Phase::Transfer && data) {
                switch (fault) {
                case Fault::Silence:
                    expected = std::string(ftp::TZebSimpleServer::WaitFailedMessage).substr(13);
                    break;
                case Fault::Reset:
                    expected = downloadError(104);
                    break;
                case Fault::Truncated:
                    expected = downloadError(110);  // the final reply never comes
                    break;
                default:
                    expected = " O servidor da ZEB enviou mais dados do que o tamanho informado para o arquivo. "
                               "Download interrompido.";
                    break;
                }
            } else if (turn.phase == Phase::Transfer) {
                expected = downloadError(replyFaultCode(fault));
            }

            test::Sandbox box;
            test::RecordingUiServices ui;
            platform::ScopedUi scope(ui);
            TCanalZEBCliente canal;
            const std::size_t before = openDescriptors();
            std::optional<std::string> error;
            {
                FakeFtpServer server(script, true);
                std::uint16_t dataPort = 0;
                {
                    platform::TcpListener l;
                    l.listen("127.0.0.1", 0);
                    dataPort = l.localPort();
                }
                test::writeFile(box.path() / "vek.INI",
                                "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=9\r\nPortaFTP=" +
                                    std::to_string(server.port()) + "\r\nPortaDados=" + std::to_string(dataPort) +
                                    "\r\n");
                fs::create_directories(box.path() / "temp");
                canal.CD_Operadora = "123456";
                canal.Senha = "demo";
                canal.UsuarioDownload = "usuario";
                canal.SenhaDownload = "segredo";
                canal.IdentificadorDownload = "ID77";
                // Short waits only where the case waits them out: a silent
                // server, or a file cut short with no final reply.
                const bool waitedOut = fault == Fault::Silence || (fault == Fault::Truncated && data);
                canal.timeouts.ftpReply = waitedOut ? 1000ms : 10000ms;
                canal.timeouts.dataConnection = waitedOut ? 1000ms : 10000ms;
                canal.timeouts.afterDownload = 0ms;
                canal.timeouts.afterDownloadExtra = 0ms;
                try {
                    canal.ReceberArquivo("retorno.xml", "/srv/ret/retorno.xml", "42", "RET", Chave, "", 1);
                } catch (const Error& e) {
                    error = e.what();
                }
                server.finish();
                for (const auto& p : server.problems()) {
                    ADD_FAILURE() << "the scripted FTP server saw: " << p;
                }
            }
            EXPECT_EQ(error, expected);
            // vek-cli exits with 1 exactly when an error is raised.
            EXPECT_TRUE(ui.messages().empty());
            EXPECT_EQ(openDescriptors(), before);
            const auto kept = filesIn(box.path() / "temp");
            if (expected) {
                // The temporary file, complete or partial, stays for another attempt.
                EXPECT_TRUE(kept.empty() || kept == std::set<std::string>{"retorno.tmp"}) << kept.size();
                EXPECT_FALSE(fs::exists(box.path() / "temp" / "retorno.xml"));
            } else {
                EXPECT_EQ(kept, std::set<std::string>{"retorno.xml"});
                EXPECT_EQ(test::readFile(box.path() / "temp" / "retorno.xml"), content);
            }
        }
    }
}

}  // namespace
}  // namespace vek::channel
