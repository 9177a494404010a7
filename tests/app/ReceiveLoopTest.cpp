#include "app/ReceiveLoop.h"

#include "dataset/DataPacket.h"
#include "dataset/FieldValue.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace vek::app {
namespace {

namespace fs = std::filesystem;
namespace f = dataset::field;

// The agency as a round sees it: the files it lists (id -> name and
// content) and the ones whose download fails.
class ScriptedSource : public FonteRecebimento
{
public:
    explicit ScriptedSource(fs::path temp)
        : temp_(std::move(temp))
    {
        fs::create_directories(temp_);
    }

    void publish(const std::string& id, const std::string& name, const std::string& content)
    {
        files_[id] = {name, content};
    }

    void consultar(dataset::ListTable& tabela) override
    {
        ++queries;
        std::vector<dataset::Row> rows;
        for (const auto& [id, file] : files_) {
            rows.push_back(dataset::makeRow(dataset::ListTable::definition(),
                                            {{f::NM_ARQUIVO, file.first},
                                             {f::DE_CONTEUDO_ARQUIVO, std::string("Retorno")},
                                             {f::DT_CADASTRO, *dataset::parseSqlDateTime("20261209T14:05:09000")},
                                             {f::TAMANHO, *dataset::Decimal::parse("1")},
                                             {f::MEDIDA, std::string("KBytes")},
                                             {f::ID_ARQUIVO_DISPONIVEL, *dataset::Decimal::parse(id)},
                                             {f::CD_CHAVE_CRIPTOGRAFIA, std::string("chave")},
                                             {f::DE_PATH_ARQUIVO, "/srv/" + file.first},
                                             {f::CD_TIPO_ARQUIVO, std::string("RET")}}));
        }
        tabela.loadDocument(dataset::writeDataPacket(dataset::ListTable::definition(), rows), "lista");
    }

    fs::path baixar(dataset::ListTable& tabela, std::size_t linha) override
    {
        const std::string id = tabela.asText(linha, f::ID_ARQUIVO_DISPONIVEL);
        downloads.push_back(id);
        if (failing.count(id) != 0) {
            throw Error("O arquivo não foi baixado corretamente. Por favor, tente novamente.");
        }
        const auto& [name, content] = files_.at(id);
        test::writeFile(temp_ / name, content);
        return temp_ / name;
    }

    std::set<std::string> failing;
    std::vector<std::string> downloads;
    int queries = 0;

private:
    fs::path temp_;
    std::map<std::string, std::pair<std::string, std::string>> files_;
};

struct Round
{
    bool ok = false;
    std::vector<fs::path> received;
    std::vector<std::string> failed;
};

class ReceiveLoopTest : public ::testing::Test
{
protected:
    test::Sandbox box;
    fs::path pasta = box.path() / "destino";
    fs::path record = box.path() / "Recebidos" / "123456-RET.txt";
    ScriptedSource source{box.path() / "temp"};

    void SetUp() override { fs::create_directories(pasta); }

    // A round as a fresh run does it: the record read from disk.
    Round round(const std::function<bool()>& stop = {})
    {
        RegistroRecebidos recebidos(record);
        ReceiveLoop loop(pasta, recebidos);
        Round r;
        ReceiveLoop::Eventos eventos;
        eventos.recebido = [&](const ArquivoRecebido& a, const dataset::ListTable*) {
            r.received.push_back(a.caminho);
        };
        eventos.falhou = [&](const FalhaRecebimento& falha) { r.failed.push_back(falha.id + ":" + falha.nome); };
        eventos.parar = stop;
        r.ok = loop.rodada(source, eventos);
        return r;
    }

    // Every file of the folder, hidden ones too.
    std::map<std::string, std::string> folder() const
    {
        std::map<std::string, std::string> all;
        for (const auto& e : fs::directory_iterator(pasta)) {
            all[e.path().filename().string()] = test::readFile(e.path());
        }
        return all;
    }
};

TEST_F(ReceiveLoopTest, EachListedFileArrivesOnceWithoutReplacingAnother)
{
    test::writeFile(pasta / "b.xml", "do operador");
    source.publish("1", "a.xml", "conteudo a");
    source.publish("2", "b.xml", "conteudo b");
    source.publish("3", "c.txt", "conteudo c");
    Round r = round();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, (std::vector<fs::path>{pasta / "a.xml", pasta / "b-2.xml", pasta / "c.txt"}));
    EXPECT_EQ(
        folder(),
        (std::map<std::string, std::string>{
            {"a.xml", "conteudo a"}, {"b.xml", "do operador"}, {"b-2.xml", "conteudo b"}, {"c.txt", "conteudo c"}}));

    // Nothing new: nothing downloaded.
    r = round();
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.received.empty());
    EXPECT_EQ(source.downloads.size(), 3U);

    // A file published between rounds, of a name already received.
    source.publish("4", "a.xml", "conteudo a, segunda versao");
    r = round();
    EXPECT_EQ(r.received, std::vector<fs::path>{pasta / "a-2.xml"});
    EXPECT_EQ(test::readFile(pasta / "a-2.xml"), "conteudo a, segunda versao");
    EXPECT_EQ(source.downloads, (std::vector<std::string>{"1", "2", "3", "4"}));
    // A file the operator removed after it arrived is not brought back.
    fs::remove(pasta / "c.txt");
    r = round();
    EXPECT_TRUE(r.received.empty());
    EXPECT_FALSE(fs::exists(pasta / "c.txt"));
}

TEST_F(ReceiveLoopTest, AFailedDownloadIsRetriedNextRoundAndTheOthersGoOn)
{
    source.publish("1", "a.xml", "a");
    source.publish("2", "b.xml", "b");
    source.failing = {"1"};
    Round r = round();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failed, std::vector<std::string>{"1:a.xml"});
    EXPECT_EQ(r.received, std::vector<fs::path>{pasta / "b.xml"});
    EXPECT_FALSE(fs::exists(pasta / "a.xml"));

    source.failing.clear();
    r = round();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, std::vector<fs::path>{pasta / "a.xml"});
    EXPECT_EQ(source.downloads, (std::vector<std::string>{"1", "2", "1"}));
}

TEST_F(ReceiveLoopTest, AStopEndsTheRoundBetweenTwoFiles)
{
    source.publish("1", "a.xml", "a");
    source.publish("2", "b.xml", "b");
    int asked = 0;
    Round r = round([&] { return ++asked > 1; });
    EXPECT_EQ(r.received, std::vector<fs::path>{pasta / "a.xml"});
    r = round();
    EXPECT_EQ(r.received, std::vector<fs::path>{pasta / "b.xml"});
    EXPECT_EQ(source.downloads, (std::vector<std::string>{"1", "2"}));
}

// What a crash leaves at each step of a file's way, and what the next round
// makes of it: the file once, whole, under a name of its own.
TEST_F(ReceiveLoopTest, WhatACrashLeftIsFinishedOrDoneAgainNeverDoubled)
{
    struct Case
    {
        const char* what;
        const char* left;            // the hidden file left ("7" is "37" in hex), or nullptr
        bool recorded;               // its identifier in the record
        bool renamed;                // already under its final name
        std::size_t downloadsAfter;  // downloads the next round makes
    };
    const Case cases[] = {
        {"copying from another file system", "..vek-37.part.tmp", false, false, 1},
        {"after the download, before the record", ".vek-37.part", false, false, 1},
        {"after the record, before the rename", ".vek-37.part", true, false, 0},
        {"after the rename", nullptr, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(pasta);
        fs::create_directories(pasta);
        fs::remove(record);
        source = ScriptedSource(box.path() / "temp");
        source.publish("7", "r.xml", "conteudo inteiro");
        if (c.left != nullptr) {
            test::writeFile(pasta / c.left, c.recorded ? "conteudo inteiro" : "conteudo in");
        }
        if (c.renamed) {
            test::writeFile(pasta / "r.xml", "conteudo inteiro");
        }
        if (c.recorded) {
            RegistroRecebidos recebidos(record);
            recebidos.gravar("7", pasta / "r.xml");
        }
        const Round r = round();
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(source.downloads.size(), c.downloadsAfter);
        EXPECT_EQ(folder(), (std::map<std::string, std::string>{{"r.xml", "conteudo inteiro"}}));
        EXPECT_EQ(r.received.size(), c.renamed ? 0U : 1U);
        EXPECT_TRUE(round().received.empty());
    }
}

TEST(RegistroRecebidos, KeepsAnyIdentifierAndPathAcrossRuns)
{
    test::Sandbox box;
    const fs::path arquivo = box.path() / "Recebidos" / "r.txt";
    {
        RegistroRecebidos r(arquivo);
        r.gravar("42", "/d/um arquivo\tcom tab\n.xml");
        r.gravar("43", "/d/b.xml");
        r.gravar("42", "/d/a-2.xml");
    }
    const RegistroRecebidos lido(arquivo);
    EXPECT_TRUE(lido.recebido("42"));
    EXPECT_TRUE(lido.recebido("43"));
    EXPECT_FALSE(lido.recebido("4"));
    EXPECT_EQ(lido.caminhos().at("42"), fs::path("/d/a-2.xml"));
    EXPECT_EQ(RegistroRecebidos::caminhoPadrao("12/34", "R T").filename(), "12%2F34-R%20T.txt");
}

}  // namespace
}  // namespace vek::app
