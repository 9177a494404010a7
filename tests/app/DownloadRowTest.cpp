#include "app/DownloadRow.h"

#include "channel/TCanalZEBCliente.h"
#include "crypto/TDecryptFile.h"
#include "dataset/DataPacket.h"
#include "dataset/FieldValue.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeFtpServer.h"
#include "tests/fixtures/PublishedFile.h"
#include "tests/fixtures/Sandbox.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vek::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftp::test::FakeFtpServer;
using ftp::test::FtpScript;
using ftp::test::FtpStep;
using test::freePort;

constexpr const char* Chave = "chave-do-arquivo";

// The bytes the server sends for a file: enciphered with its listed key.
std::string enciphered(const test::Sandbox& box, const std::string& content)
{
    return test::encipheredForDownload(box, content, Chave);
}

FtpScript transfer(std::initializer_list<FtpStep> afterRetr)
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
    s.insert(s.end(), afterRetr);
    return s;
}

// A list of the given files and a channel that downloads them from one
// scripted FTP server each.
struct Downloads
{
    explicit Downloads(const std::vector<std::string>& names)
    {
        namespace f = dataset::field;
        std::vector<dataset::Row> rows;
        for (std::size_t i = 0; i < names.size(); ++i) {
            rows.push_back(
                dataset::makeRow(dataset::ListTable::definition(),
                                 {{f::NM_ARQUIVO, names[i]},
                                  {f::DE_CONTEUDO_ARQUIVO, std::string("Retorno")},
                                  {f::DT_CADASTRO, *dataset::parseSqlDateTime("20261209T14:05:09000")},
                                  {f::TAMANHO, *dataset::Decimal::parse("1")},
                                  {f::MEDIDA, std::string("KBytes")},
                                  {f::ID_ARQUIVO_DISPONIVEL, *dataset::Decimal::parse(std::to_string(i + 1))},
                                  {f::CD_CHAVE_CRIPTOGRAFIA, std::string(Chave)},
                                  {f::DE_PATH_ARQUIVO, "/srv/" + names[i]},
                                  {f::CD_TIPO_ARQUIVO, std::string("RET")}}));
        }
        tabela.loadDocument(dataset::writeDataPacket(dataset::ListTable::definition(), rows), "lista");
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.UsuarioDownload = "usuario";
        canal.SenhaDownload = "segredo";
        canal.IdentificadorDownload = "ID77";
        canal.timeouts.ftpReply = 2000ms;
        canal.timeouts.afterDownload = 0ms;
        canal.timeouts.afterDownloadExtra = 0ms;
        fs::create_directories(box.path() / "temp");
    }

    // Row `linha` through a server answering RETR with `afterRetr`.
    std::unique_ptr<RowDownload> fetch(std::size_t linha, std::initializer_list<FtpStep> afterRetr)
    {
        FakeFtpServer server(transfer(afterRetr));
        test::writeFile(box.path() / "vek.INI",
                        "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=9\r\nPortaFTP=" +
                            std::to_string(server.port()) + "\r\nPortaDados=" + std::to_string(freePort()) + "\r\n");
        auto download = std::make_unique<RowDownload>(tabela, linha);
        try {
            download->fetch(canal);
        } catch (const Error& e) {
            error = e.what();
        }
        return download;
    }

    std::unique_ptr<RowDownload> fetched(std::size_t linha)
    {
        const std::string wire = enciphered(box, "conteudo do arquivo " + std::to_string(linha));
        error.clear();
        auto download = fetch(linha,
                              {FtpStep::reply("150 abrindo\r\n"),
                               FtpStep::sendData(wire, {wire.size()}, 0ms),
                               FtpStep::reply("226 fim\r\n"),
                               FtpStep::command("RETR "),
                               FtpStep::reply("250 anotado\r\n"),
                               FtpStep::command("QUIT"),
                               FtpStep::reply("221 tchau\r\n")});
        EXPECT_EQ(error, "");
        return download;
    }

    [[nodiscard]] fs::path temp(const std::string& name) const { return box.path() / "temp" / name; }

    test::Sandbox box;
    dataset::ListTable tabela;
    channel::TCanalZEBCliente canal;
    std::string error;
};

TEST(RowDownload, AListWithoutTheRowIsRefused)
{
    test::Sandbox box;
    dataset::ListTable tabela;
    try {
        RowDownload download(tabela, 0);
        ADD_FAILURE() << "an empty list has no row to download";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), MsgNenhumArquivoSelecionado);
    }
}

// A deciphered agency file does not outlive the run that declined to keep
// it: declined, it goes at once; what the run's downloads left in temp/ goes
// at close. What the operator kept, and what was in temp/ before and no
// download of this run wrote, stays.
TEST(RowDownload, WhatNobodyKeptLeavesTempAndWhatWasKeptStays)
{
    (void)apagarDownloadsNaoGuardados();  // nothing of another test's run
    Downloads d({"ret-recusado.xml", "ret-declinado.xml", "ret-esquecido.xml", "ret-guardado.xml", "ret-em-temp.xml"});
    test::writeFile(d.temp("ret-recusado.xml"), "de antes, não tocado");
    test::writeFile(d.temp("alheio.tmp"), "de antes");
    const fs::path saida = d.box.path() / "saida";
    fs::create_directories(saida);

    // The server refuses the file: the download fails after creating its
    // temporary file.
    (void)d.fetch(0, {FtpStep::reply("550 arquivo inexistente\r\n")});
    ASSERT_NE(d.error, "");
    EXPECT_TRUE(fs::exists(d.temp("ret-recusado.tmp")));

    auto declinado = d.fetched(1);
    ASSERT_TRUE(fs::exists(d.temp("ret-declinado.xml")));
    declinado->discard();
    EXPECT_FALSE(fs::exists(d.temp("ret-declinado.xml")));

    auto esquecido = d.fetched(2);  // neither kept nor declined
    auto guardado = d.fetched(3);
    EXPECT_EQ(guardado->keep(saida, false), saida / "ret-guardado.xml");
    auto emTemp = d.fetched(4);
    EXPECT_EQ(emTemp->keep(d.temp("meu.xml"), false), d.temp("meu.xml"));
    emTemp->discard();  // kept: nothing to discard
    EXPECT_TRUE(fs::exists(d.temp("meu.xml")));
    for (const char* name : {"ret-declinado.tmp", "ret-esquecido.tmp", "ret-guardado.tmp"}) {
        EXPECT_FALSE(fs::exists(d.temp(name))) << name;
    }

    EXPECT_EQ(apagarDownloadsNaoGuardados(), 2);
    EXPECT_FALSE(fs::exists(d.temp("ret-recusado.tmp")));
    EXPECT_FALSE(fs::exists(d.temp("ret-esquecido.xml")));
    EXPECT_EQ(test::readFile(d.temp("ret-recusado.xml")), "de antes, não tocado");
    EXPECT_EQ(test::readFile(d.temp("alheio.tmp")), "de antes");
    EXPECT_EQ(test::readFile(saida / "ret-guardado.xml"), "conteudo do arquivo 3");
    EXPECT_EQ(test::readFile(d.temp("meu.xml")), "conteudo do arquivo 4");
    EXPECT_EQ(apagarDownloadsNaoGuardados(), 0);
}

}  // namespace
}  // namespace vek::app
