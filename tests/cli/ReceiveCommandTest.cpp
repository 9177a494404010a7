// vek-cli receber against a scripted agency: the list from a scripted
// message server, each file from a scripted FTP server.

#include "crypto/TBlowfishQv.h"
#include "crypto/TGzip.h"
#include "dataset/DataPacket.h"
#include "dataset/FieldValue.h"
#include "dataset/ListTable.h"
#include "tests/e2e/E2E.h"
#include "tests/fixtures/FakeFtpServer.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/PublishedFile.h"
#include "tests/fixtures/SocketPair.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <csignal>

namespace vek::test {
namespace {

namespace fs = std::filesystem;
namespace f = dataset::field;
using namespace std::chrono_literals;
using ftp::test::FakeFtpServer;
using ftp::test::FtpGate;
using ftp::test::FtpScript;
using ftp::test::FtpStep;

constexpr const char* Chave = "chave-do-arquivo";

struct Published
{
    std::string id;
    std::string name;
    std::string content;
};

// The list query's conversation for these files.
FakeScript listing(const Sandbox& box, const std::vector<Published>& files)
{
    std::vector<dataset::Row> rows;
    for (const auto& p : files) {
        rows.push_back(dataset::makeRow(dataset::ListTable::definition(),
                                        {{f::NM_ARQUIVO, p.name},
                                         {f::DE_CONTEUDO_ARQUIVO, std::string("Retorno")},
                                         {f::DT_CADASTRO, *dataset::parseSqlDateTime("20261209T14:05:09000")},
                                         {f::TAMANHO, *dataset::Decimal::parse("1")},
                                         {f::MEDIDA, std::string("KBytes")},
                                         {f::ID_ARQUIVO_DISPONIVEL, *dataset::Decimal::parse(p.id)},
                                         {f::CD_CHAVE_CRIPTOGRAFIA, std::string(Chave)},
                                         {f::DE_PATH_ARQUIVO, "/srv/" + p.name},
                                         {f::CD_TIPO_ARQUIVO, std::string("RET")}}));
    }
    const auto xml = box.write("lista.xml", dataset::writeDataPacket(dataset::ListTable::definition(), rows));
    crypto::TGzip gz;
    gz.FileSource = xml.string();
    gz.FileDestination = (box.path() / "lista.gz").string();
    EXPECT_EQ(gz.Compress(), 0);
    const std::string packet = box.read("lista.gz");
    using namespace wire;
    return {FakeStep::expect(CMD_PEDIDO_LISTA),
            FakeStep::reply(CMD_ACEITO),
            FakeStep::reply(CMD_ACEITO, "1"),
            FakeStep::reply(CMD_TAMANHO, std::to_string(packet.size()) + "|Xlista.zeb"),
            FakeStep::reply(CMD_BLOCO, packet),
            FakeStep::expect(CMD_ACK),
            FakeStep::reply(CMD_FIM_DADOS),
            FakeStep::expect(CMD_LISTA_RECEBIDA),
            FakeStep::reply(CMD_ACEITO, crypto::EncryptProtocolText("usuario|senha|id|7")),
            FakeStep::expect(CMD_ACK)};
}

// One download's FTP conversation: `beforeData` after RETR is answered,
// then the file's bytes (none: the server refuses the file).
FtpScript download(const Sandbox& box, const std::optional<std::string>& content, std::vector<FtpStep> beforeData = {})
{
    FtpScript s{FtpStep::reply("220 servidor\r\n"),
                FtpStep::command("USER "),
                FtpStep::reply("331 senha\r\n"),
                FtpStep::command("PASS "),
                FtpStep::reply("230 ok\r\n"),
                FtpStep::command("FEAT"),
                FtpStep::reply("211 fim\r\n"),
                FtpStep::command("TYPE I"),
                FtpStep::reply("200 ok\r\n"),
                FtpStep::command("SYST"),
                FtpStep::reply("215 UNIX\r\n"),
                FtpStep::command("PORT "),
                FtpStep::reply("200 ok\r\n"),
                FtpStep::command("RETR ")};
    if (!content) {
        s.push_back(FtpStep::reply("550 arquivo inexistente\r\n"));
        return s;
    }
    s.push_back(FtpStep::reply("150 abrindo\r\n"));
    s.insert(s.end(), beforeData.begin(), beforeData.end());
    const std::string wire = encipheredForDownload(box, *content, Chave);
    s.insert(s.end(),
             {FtpStep::sendData(wire, {wire.size()}, 0ms),
              FtpStep::reply("226 fim\r\n"),
              FtpStep::command("RETR "),
              FtpStep::reply("250 anotado\r\n"),
              FtpStep::command("QUIT"),
              FtpStep::reply("221 tchau\r\n")});
    return s;
}

class ReceiveCommand : public ::testing::Test
{
protected:
    Sandbox box{false};
    Sandbox scratch{false};
    fs::path destino = box.path() / "destino";

    void SetUp() override { fs::create_directories(destino); }

    // The client pointed at this run's servers.
    CliClient client(const FakeZebServer& zeb, const FakeFtpServer& ftp) const
    {
        CliClient cli{box, zeb.port()};
        writeClientConfig(box.path().string(),
                          zeb.port(),
                          "PortaFTP=" + std::to_string(ftp.port()) + "\r\nPortaDados=" + std::to_string(freePort()) +
                              "\r\n");
        return cli;
    }

    [[nodiscard]] std::vector<std::string> args() const
    {
        return {"receber", "--registro", "123456", "--tipo", "RET", "--pasta", destino.string(), "--uma-vez"};
    }
};

TEST_F(ReceiveCommand, AFailedDownloadIsRetriedInTheNextRound)
{
    const Published file{"5", "retorno.xml", "<retorno>inteiro</retorno>"};
    {
        FakeZebServer zeb({listing(scratch, {file})});
        FakeFtpServer ftp(download(scratch, std::nullopt));
        const auto r = client(zeb, ftp).run(args());
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Erro: retorno.xml (ID_ARQUIVO_DISPONIVEL 5): "), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_empty(destino));
        EXPECT_TRUE(ftp.problems().empty());
    }
    FakeZebServer zeb({listing(scratch, {file})});
    FakeFtpServer ftp(download(scratch, file.content));
    const auto r = client(zeb, ftp).run(args());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, (destino / "retorno.xml").string() + "\n");
    EXPECT_EQ(readFile(destino / "retorno.xml"), file.content);
    EXPECT_TRUE(ftp.problems().empty());
}

// SIGTERM while a file is coming: that file is finished and kept, the next
// one is left for a later run, which brings only it.
TEST_F(ReceiveCommand, SigtermMidDownloadFinishesTheFileAndARestartBringsTheRest)
{
    const Published first{"1", "primeiro.xml", randomBytes(50000, 3)};
    const Published second{"2", "segundo.xml", "<segundo/>"};
    {
        auto gate = std::make_shared<FtpGate>();
        FakeZebServer zeb({listing(scratch, {first, second})});
        FakeFtpServer ftp(download(scratch, first.content, {FtpStep::wait(gate)}));
        std::vector<std::string> loop = args();
        loop.back() = "--intervalo";
        loop.push_back("60");
        RunningCli receiving(client(zeb, ftp), box.path() / "logs1", loop);
        ASSERT_TRUE(waitFor([&] { return gate->reached.load() || receiving.ended(); }, 120s)) << receiving.err();
        receiving.signal(SIGTERM);
        gate->open = true;
        EXPECT_EQ(receiving.wait(), 0) << receiving.err();
        EXPECT_EQ(receiving.out(), (destino / "primeiro.xml").string() + "\n");
        EXPECT_TRUE(ftp.problems().empty());
    }
    EXPECT_TRUE(readFile(destino / "primeiro.xml") == first.content);
    EXPECT_FALSE(fs::exists(destino / "segundo.xml"));

    FakeZebServer zeb({listing(scratch, {first, second})});
    FakeFtpServer ftp(download(scratch, second.content));
    const auto r = client(zeb, ftp).run(args());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, (destino / "segundo.xml").string() + "\n");
    EXPECT_EQ(readFile(destino / "segundo.xml"), second.content);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(destino)) {
        ++files;
    }
    EXPECT_EQ(files, 2U);
    EXPECT_TRUE(ftp.problems().empty());
}

}  // namespace
}  // namespace vek::test
