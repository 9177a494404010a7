#include "tests/cli/CliScripts.h"

#include "crypto/TBlowfishQv.h"
#include "crypto/TGzip.h"
#include "dataset/FieldNames.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

namespace vek::test {

std::string gzippedPacket(const Sandbox& box, const std::string& name, const std::string& xml)
{
    const auto src = box.write(name + ".xml", xml);
    crypto::TGzip gz;
    gz.FileSource = src.string();
    gz.FileDestination = (box.path() / (name + ".gz")).string();
    EXPECT_EQ(gz.Compress(), crypto::TGzip::ResultOk);
    return box.read(name + ".gz");
}

FakeScript listScript(std::uint8_t request, const std::string& gz, const std::string& name, bool credentials)
{
    FakeScript s{FakeStep::expect(request),
                 FakeStep::reply(wire::CMD_ACEITO),
                 FakeStep::reply(wire::CMD_ACEITO, "1"),
                 FakeStep::reply(wire::CMD_TAMANHO, std::to_string(gz.size()) + "|X" + name),
                 FakeStep::reply(wire::CMD_BLOCO, gz),
                 FakeStep::expect(wire::CMD_ACK),
                 FakeStep::reply(wire::CMD_FIM_DADOS)};
    if (credentials) {
        s.push_back(FakeStep::expect(wire::CMD_LISTA_RECEBIDA));
        s.push_back(FakeStep::reply(wire::CMD_ACEITO, crypto::EncryptProtocolText("u|p|i")));
    }
    s.push_back(FakeStep::expect(wire::CMD_ACK));
    return s;
}

std::vector<dataset::Row> sampleListRows(const std::string& fileName, const std::string& description)
{
    namespace f = dataset::field;
    using dataset::Decimal;
    return {dataset::makeRow(dataset::ListTable::definition(),
                             {{f::NM_ARQUIVO, fileName},
                              {f::DE_CONTEUDO_ARQUIVO, description},
                              {f::TAMANHO, *Decimal::parse("2.5")},
                              {f::MEDIDA, std::string("KBytes")},
                              {f::DT_CADASTRO, *dataset::parseSqlDateTime("20261209T14:05:09000")},
                              {f::ID_ARQUIVO_DISPONIVEL, *Decimal::parse("42")},
                              {f::CD_CHAVE_CRIPTOGRAFIA, std::string("chave")},
                              {f::DE_PATH_ARQUIVO, std::string("/srv/42")},
                              {f::CD_TIPO_ARQUIVO, std::string("RET")}})};
}

std::vector<dataset::Row> sampleHistoryRows(const std::string& transmittedAt)
{
    namespace f = dataset::field;
    using dataset::Decimal;
    return {dataset::makeRow(dataset::HistoryTable::definition(),
                             {{f::DT_TRANSMISSAO, *dataset::parseSqlDateTime(transmittedAt)},
                              {f::NM_ARQUIVO, std::string("dados.xml")},
                              {f::CD_TIPO_ARQUIVO, std::string("XML")},
                              {f::CD_PROTOCOLO, std::string("77")},
                              {f::NM_STATUS_PROCESSAMENTO, std::string("Processado")},
                              {f::QT_AVISOS, *Decimal::parse("1")},
                              {f::QT_ERROS, *Decimal::parse("0")},
                              {f::CD_OPERADORA, std::string("123456")}})};
}

}  // namespace vek::test
