#include "app/WatchedFolder.h"

#include "dataset/TransmissionRecord.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(WatchedFolder, HiddenAndTemporaryNamesAreIgnored)
{
    struct Case
    {
        const char* name;
        bool ignored;
    };
    // clang-format off
    constexpr std::array cases{
        Case{"dados.xml", false},
        Case{".dados.xml", true},
        Case{"dados.xml.tmp", true},
        Case{"dados.xml.TMP", true},
        Case{"dados.part", true},
        Case{"dados.Part", true},
        Case{"tmp.xml", false},
        Case{"dados.partes", false},
        Case{"dados.tmpx", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(nomeIgnorado(c.name), c.ignored);
    }
}

TEST(WatchedFolder, AFileIsReadyOnlyAfterItsQuietPeriodWithoutAWriteSinceItsClose)
{
    test::Sandbox box;
    const fs::path entrada = box.path() / "entrada";
    fs::create_directories(entrada);
    test::writeFile(entrada / "a.xml", "a");
    WatchedFiles files(entrada, 1000ms);
    const auto t0 = WatchedFiles::Clock::now();
    files.scan(t0);
    EXPECT_EQ(files.nextReady(t0 + 999ms), std::nullopt);
    EXPECT_EQ(files.nextReady(t0 + 1000ms), "a.xml");

    // Written to again: no longer ready until closed again.
    files.modified("a.xml");
    EXPECT_EQ(files.nextReady(t0 + 5s), std::nullopt);
    EXPECT_EQ(files.untilNext(t0 + 5s), std::nullopt);
    files.written("a.xml", t0 + 5s);
    EXPECT_EQ(files.untilNext(t0 + 5s), WatchedFiles::Clock::duration(1000ms));
    // Grown although no notification told: the quiet period starts again.
    test::writeFile(entrada / "a.xml", "ab");
    EXPECT_EQ(files.nextReady(t0 + 6s), std::nullopt);
    EXPECT_EQ(files.nextReady(t0 + 7s), "a.xml");
    files.taken("a.xml");
    EXPECT_EQ(files.nextReady(t0 + 60s), std::nullopt);

    // Ignored names never become candidates; a removed file is forgotten.
    test::writeFile(entrada / "b.part", "b");
    files.written("b.part", t0);
    test::writeFile(entrada / "c.xml", "c");
    files.written("c.xml", t0);
    fs::remove(entrada / "c.xml");
    EXPECT_EQ(files.nextReady(t0 + 60s), std::nullopt);
}

class Placement : public ::testing::Test
{
protected:
    test::Sandbox box;
    PastasVigiadas pastas{box.path() / "entrada", box.path() / "enviados", box.path() / "falhas"};

    void SetUp() override
    {
        fs::create_directories(pastas.entrada);
        fs::create_directories(pastas.enviados);
    }

    UploadOutcome outcome(bool sent, const std::string& record)
    {
        UploadOutcome o;
        o.end = sent ? UploadEnd::Sent : UploadEnd::Failed;
        o.error = sent ? "" : "Tipo não permitido";
        o.record = box.write("Protocolos/VEK-a.xml-1.xml", record);
        return o;
    }
};

TEST_F(Placement, ATakenNameGetsANumberAndTheRecordAndErrorGoBesideTheFile)
{
    test::writeFile(pastas.enviados / "a.xml", "anterior");
    test::writeFile(pastas.enviados / "a-2.xml.registro.xml", "registro anterior");
    test::writeFile(pastas.entrada / "a.xml", "novo");
    const auto sent = colocarArquivo(pastas, "a.xml", outcome(true, "<registro/>"));
    EXPECT_EQ(sent.destino, pastas.enviados / "a-3.xml");
    EXPECT_EQ(test::readFile(pastas.enviados / "a-3.xml"), "novo");
    EXPECT_EQ(test::readFile(pastas.enviados / "a-3.xml.registro.xml"), "<registro/>");
    EXPECT_EQ(test::readFile(pastas.enviados / "a.xml"), "anterior");
    EXPECT_EQ(sent.erro, std::nullopt);
    EXPECT_FALSE(fs::exists(pastas.entrada / "a.xml"));

    test::writeFile(pastas.entrada / "a.xml", "recusado");
    const auto failed = colocarArquivo(pastas, "a.xml", outcome(false, "<falha/>"));
    EXPECT_EQ(failed.destino, pastas.falhas / "a.xml");
    EXPECT_EQ(test::readFile(pastas.falhas / "a.xml"), "recusado");
    EXPECT_EQ(test::readFile(pastas.falhas / "a.xml.registro.xml"), "<falha/>");
    EXPECT_EQ(test::readFile(pastas.falhas / "a.xml.erro"), "Tipo não permitido\n");
    // No temporary file is left behind.
    for (const auto& dir : {pastas.enviados, pastas.falhas}) {
        for (const auto& e : fs::directory_iterator(dir)) {
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        }
    }
}

// The .erro file is read by programs: it holds the error text without the
// blanks and line ends around it (the core's texts begin with the blank left
// where a message prefix was cut off), and keeps the line breaks inside it.
TEST_F(Placement, TheErrorFileHoldsTheTextWithoutTheBlanksAroundIt)
{
    struct Case
    {
        const char* name;
        std::string error;
        std::string stored;
    };
    const std::array<Case, 3> cases{{
        {"leading blank", " O servidor reportou um erro.", "O servidor reportou um erro.\n"},
        {"trailing line end", "Tipo não permitido\r\n", "Tipo não permitido\n"},
        {"line breaks inside",
         " O VEK tentou 4 vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \r",
         "O VEK tentou 4 vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso.\n"},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(pastas.entrada / "a.xml", "dados");
        UploadOutcome o = outcome(false, "<falha/>");
        o.error = c.error;
        const auto placed = colocarArquivo(pastas, "a.xml", o);
        ASSERT_TRUE(placed.erro);
        EXPECT_EQ(test::readFile(*placed.erro), c.stored);
    }
}

// The record's companion (the receipt's own values) goes with the record's
// copy, so that the moved file's receipt prints whole from it; a record
// without one of its protocol is copied alone, and a name whose companion
// copy is taken is not used.
TEST_F(Placement, TheRecordsCompanionGoesBesideItsCopy)
{
    dataset::RegistroTransmissao registro;
    registro.operadora = "123456";
    registro.protocoloTX = "2026000001";
    const std::string recibo = "<recibo><protocoloTX>2026000001</protocoloTX><enderecoIP>10.0.0.1</enderecoIP>"
                               "<autenticacao>AB</autenticacao><modo>interativo</modo></recibo>";
    box.write(".recibos/VEK-a.xml-1.xml", recibo);
    test::writeFile(pastas.enviados / "a.xml.registro.recibo", "de outro envio");
    test::writeFile(pastas.entrada / "a.xml", "novo");
    const auto sent = colocarArquivo(pastas, "a.xml", outcome(true, dataset::registroXml(registro)));
    EXPECT_EQ(sent.destino, pastas.enviados / "a-2.xml");
    EXPECT_EQ(sent.recibo, pastas.enviados / "a-2.xml.registro.recibo");
    EXPECT_EQ(test::readFile(pastas.enviados / "a-2.xml.registro.xml"), dataset::registroXml(registro));
    EXPECT_EQ(test::readFile(pastas.enviados / "a-2.xml.registro.recibo"), recibo);
    EXPECT_EQ(test::readFile(pastas.enviados / "a.xml.registro.recibo"), "de outro envio");
    // The copies read back as the record with its receipt's values.
    EXPECT_EQ(dataset::lerRegistroTransmissao(pastas.enviados / "a-2.xml.registro.xml").autenticacao, "AB");

    fs::remove(box.path() / ".recibos" / "VEK-a.xml-1.xml");
    struct Case
    {
        const char* name;
        const char* besideTheRecord;  // a companion as earlier versions kept it
        bool copied;
    };
    const std::array<Case, 3> cases{{
        {"none", nullptr, false},
        {"beside the record, of its protocol", "<recibo><protocoloTX>2026000001</protocoloTX></recibo>", true},
        {"beside the record, of another protocol", "<recibo><protocoloTX>1999</protocoloTX></recibo>", false},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(box.path() / "Protocolos" / "VEK-a.xml-1.recibo");
        if (c.besideTheRecord != nullptr) {
            box.write("Protocolos/VEK-a.xml-1.recibo", c.besideTheRecord);
        }
        test::writeFile(pastas.entrada / "b.xml", "outro");
        const auto placed = colocarArquivo(pastas, "b.xml", outcome(true, dataset::registroXml(registro)));
        const fs::path copy = fs::path(placed.destino.string() + ".registro.recibo");
        EXPECT_EQ(placed.recibo, c.copied ? std::optional(copy) : std::nullopt);
        EXPECT_EQ(fs::exists(copy), c.copied);
        if (c.copied) {
            EXPECT_EQ(test::readFile(copy), c.besideTheRecord);
        }
    }
}

TEST_F(Placement, WithoutARecordTheFileStaysInTheInputFolder)
{
    test::writeFile(pastas.entrada / "a.xml", "dados");
    UploadOutcome o = outcome(true, "");
    o.record.reset();
    EXPECT_THROW(colocarArquivo(pastas, "a.xml", o), Error);
    EXPECT_EQ(test::readFile(pastas.entrada / "a.xml"), "dados");
    EXPECT_FALSE(fs::exists(pastas.enviados / "a.xml"));
}

// What a watch started after a crash makes of each kept receipt: the file
// still as it was sent is placed as sent (its record written again when it
// never reached Protocolos), never sent again; a file changed since, or gone,
// loses the receipt and is treated like any other.
TEST(WatchedFolder, AKeptReceiptPlacesOnlyTheFileThatWasSent)
{
    struct Case
    {
        const char* what;
        bool recordWritten;       // the record reached Protocolos before the crash
        const char* nowInFolder;  // nullptr: gone
        bool placed;
    };
    const Case cases[] = {
        {"unchanged, record written", true, "conteudo enviado", true},
        {"unchanged, record never written", false, "conteudo enviado", true},
        {"another file of the same name now", true, "conteudo novo", false},
        {"gone (placed before the crash)", true, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Sandbox box;
        const PastasVigiadas pastas{box.path() / "entrada", box.path() / "enviados", box.path() / "falhas"};
        fs::create_directories(pastas.entrada);
        test::writeFile(pastas.entrada / "a.xml", "conteudo enviado");
        ReciboPendente recibo;
        recibo.arquivo = identificarArquivo(pastas.entrada, "a.xml");
        recibo.resultado.Sucesso = true;
        recibo.resultado.Protocolo = "4711";
        recibo.resultado.DataHora = "10/12/2026 14:42:32";
        recibo.resultado.EnderecoIP = "127.0.0.1";
        recibo.resultado.Autenticacao = "AUT";
        recibo.dados = {"123456", "XML", (pastas.entrada / "a.xml").string(), "", false};
        recibo.nomeRegistro = "VEK-a.xml-1.xml";
        const RecibosPendentes recibos(pastas.entrada);
        recibos.gravar(recibo);
        if (c.recordWritten) {
            dataset::RegistroTransmissao registro;
            registro.operadora = "123456";
            registro.tipo_Arquivo = "XML";
            registro.arquivo = recibo.dados.arquivo;
            registro.dataTransmissao = recibo.resultado.DataHora;
            registro.protocoloTX = "4711";
            registro.enderecoIP = "127.0.0.1";
            registro.autenticacao = "AUT";
            ASSERT_TRUE(dataset::gravarRegistroTransmissao(registro, box.path(), recibo.nomeRegistro));
        }
        if (c.nowInFolder == nullptr) {
            fs::remove(pastas.entrada / "a.xml");
        } else if (std::string(c.nowInFolder) != "conteudo enviado") {
            test::writeFile(pastas.entrada / "a.xml", c.nowInFolder);
        }

        const auto retomados = retomarRecibos(pastas, recibos);
        EXPECT_TRUE(recibos.todos().empty());
        if (!c.placed) {
            EXPECT_TRUE(retomados.empty());
            EXPECT_FALSE(fs::exists(pastas.enviados / "a.xml"));
            if (c.nowInFolder != nullptr) {
                EXPECT_EQ(test::readFile(pastas.entrada / "a.xml"), c.nowInFolder);
            }
            continue;
        }
        ASSERT_EQ(retomados.size(), 1U);
        EXPECT_EQ(retomados[0].outcome.resultado.Protocolo, "4711");
        EXPECT_FALSE(fs::exists(pastas.entrada / "a.xml"));
        EXPECT_EQ(test::readFile(pastas.enviados / "a.xml"), "conteudo enviado");
        const auto registro = dataset::lerRegistroTransmissao(pastas.enviados / "a.xml.registro.xml");
        EXPECT_EQ(registro.protocoloTX, "4711");
        EXPECT_EQ(registro.autenticacao, "AUT");
        EXPECT_TRUE(fs::exists(box.path() / "Protocolos" / "VEK-a.xml-1.xml"));
    }
}

TEST(WatchedFolder, ADamagedKeptReceiptIsSkipped)
{
    test::Sandbox box;
    const fs::path entrada = box.path() / "entrada";
    fs::create_directories(entrada / ".vek-recibos");
    test::writeFile(entrada / ".vek-recibos" / "x.recibo", "nome\t61\ntamanho\t31");  // cut short
    test::writeFile(entrada / ".vek-recibos" / "y.recibo", "nome\tzz\nfim\n");        // not hex
    EXPECT_TRUE(RecibosPendentes(entrada).todos().empty());
}

}  // namespace
}  // namespace vek::app
