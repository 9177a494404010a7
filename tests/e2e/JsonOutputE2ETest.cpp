#include "platform/Socket.h"
#include "tests/e2e/E2E.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <regex>
#include <sstream>

namespace vek::test {
namespace {

namespace fs = std::filesystem;

// One object of --json output as Python's json module read it: its field
// names in order, and each field as "<python type>:<value as JSON>".
struct PyObject
{
    std::string keys;
    std::map<std::string, std::string> fields;

    [[nodiscard]] std::string at(const std::string& name) const
    {
        const auto it = fields.find(name);
        return it == fields.end() ? "<absent>" : it->second;
    }
};

// Every line of `text` read back by Python's json.loads, which fails on
// anything that is not exactly one JSON object per line.
std::vector<PyObject> parsedByPython(const Sandbox& box, const std::string& text)
{
    const auto file = box.write("saida.jsonl", text);
    const auto r = runProcess({"/usr/bin/python3",
                               "-c",
                               "import json, sys\n"
                               "for line in open(sys.argv[1], encoding='utf-8'):\n"
                               "    o = json.loads(line)\n"
                               "    assert isinstance(o, dict), line\n"
                               "    print('#' + '|'.join(o.keys()))\n"
                               "    for k, v in o.items():\n"
                               "        print(k + '=' + type(v).__name__ + ':' + json.dumps(v, ensure_ascii=False))\n",
                               file.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err << text;
    std::vector<PyObject> objects;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind('#', 0) == 0) {
            objects.push_back({line.substr(1), {}});
        } else if (!objects.empty()) {
            const auto eq = line.find('=');
            objects.back().fields[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return objects;
}

// The rest of the first line of `text` that begins with `start`.
std::optional<std::string> lineStarting(const std::string& text, const std::string& start)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(start, 0) == 0) {
            return line.substr(start.size());
        }
    }
    return std::nullopt;
}

constexpr const char* UploadKeys = "Arquivo|Sucesso|Protocolo|DataHora|EnderecoIP|Autenticacao|Registro|Erro";

class JsonOutputE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client,
                  zebd.messagePort(),
                  "PortaFTP=" + std::to_string(zebd.ftpPort()) + "\r\nPortaDados=" + std::to_string(freePort()) +
                      "\r\n"};

    std::vector<PyObject> run(const std::vector<std::string>& args, int exitCode = 0)
    {
        const auto r = cli.run(args);
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        return parsedByPython(client, r.out);
    }
};

TEST_F(JsonOutputE2E, UploadsOneObjectPerFileAndTheSummary)
{
    const auto a = client.write("lote/a.xml", "<a/>");
    const auto b = client.write("lote/b.qqq", "recusado");

    auto objects = run({"enviar", "--json", "--registro", "123456", a.string()});
    ASSERT_EQ(objects.size(), 1U);
    EXPECT_EQ(objects[0].keys, UploadKeys);
    EXPECT_EQ(objects[0].at("Arquivo"), "str:\"" + a.string() + "\"");
    EXPECT_EQ(objects[0].at("Sucesso"), "bool:true");
    EXPECT_TRUE(std::regex_match(objects[0].at("Protocolo"), std::regex("str:\"[0-9]+\"")));
    EXPECT_TRUE(std::regex_match(objects[0].at("DataHora"), std::regex("str:\".+\"")));
    EXPECT_TRUE(std::regex_match(objects[0].at("Registro"), std::regex("str:\".*/Protocolos/VEK-a.xml-.*\\.xml\"")));
    EXPECT_EQ(objects[0].at("Erro"), "NoneType:null");

    const auto r = cli.run({"enviar", "--registro", "123456", "--json", a.string(), b.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    objects = parsedByPython(client, r.out);
    ASSERT_EQ(objects.size(), 3U);
    EXPECT_EQ(objects[0].at("Sucesso"), "bool:true");
    EXPECT_EQ(objects[1].keys, UploadKeys);
    EXPECT_EQ(objects[1].at("Sucesso"), "bool:false");
    for (const char* empty : {"Protocolo", "DataHora", "EnderecoIP", "Autenticacao"}) {
        EXPECT_EQ(objects[1].at(empty), "NoneType:null") << empty;
    }
    // The error text alone, while the "Erro: " line keeps it exactly as raised,
    // with the blank left where the message prefix was cut off.
    const auto raised = lineStarting(r.err, "Erro: ");
    ASSERT_TRUE(raised) << r.err;
    EXPECT_EQ(raised->rfind(" O servidor reportou", 0), 0U) << r.err;
    EXPECT_TRUE(std::regex_match(objects[1].at("Erro"), std::regex("str:\"[^ ].*QQQ.*[^ ]\"")))
        << objects[1].at("Erro");
    EXPECT_TRUE(std::regex_match(objects[1].at("Registro"), std::regex("str:\".*/Protocolos/VEK-b.qqq-.*\"")));
    EXPECT_EQ(objects[2].keys, "Resumo");
    EXPECT_EQ(objects[2].at("Resumo"),
              "dict:{\"Total\": 2, \"Enviados\": 1, \"Falharam\": [\"" + b.string() + "\"], \"NaoEnviados\": []}");
}

TEST_F(JsonOutputE2E, ParameterFileUploadCarriesItsExitCode)
{
    const auto file = client.write("folha.xml", "<folha/>");
    const auto par = client.path() / "envio.par";
    ASSERT_EQ(cli.run({"gerar-parametros",
                       "--formato",
                       "1",
                       "--registro",
                       "123456",
                       "--arquivo",
                       file.string(),
                       "--resposta",
                       "resposta.xml",
                       "--checksum",
                       "auto",
                       "-o",
                       par.string()})
                  .exitCode,
              0);
    const auto objects = run({"parametros", par.string(), "--json"}, 9);
    ASSERT_EQ(objects.size(), 1U);
    EXPECT_EQ(objects[0].keys, std::string(UploadKeys) + "|CodigoSaida");
    EXPECT_EQ(objects[0].at("Sucesso"), "bool:true");
    EXPECT_EQ(objects[0].at("CodigoSaida"), "int:9");
    EXPECT_EQ(objects[0].at("Registro"), "str:\"" + (client.path() / "Protocolos" / "resposta.xml").string() + "\"");
}

TEST_F(JsonOutputE2E, TypeListsGiveTheTextAndItsItems)
{
    auto objects = run({"tipos-envio", "--json"});
    ASSERT_EQ(objects.size(), 1U);
    EXPECT_EQ(objects[0].keys, "Lista|Tipos");
    const std::string text = cli.run({"tipos-envio"}).out;
    EXPECT_EQ(objects[0].at("Lista"), "str:\"" + text.substr(0, text.size() - 1) + "\"");
    EXPECT_EQ(objects[0].at("Tipos").rfind("list:[{\"Codigo\": \"XML\", \"Descricao\": \"Arquivo de dados XML\"}, ", 0),
              0U)
        << objects[0].at("Tipos");
    objects = run({"tipos-download", "--json"});
    ASSERT_EQ(objects.size(), 1U);
    EXPECT_NE(objects[0].at("Tipos").find("{\"Codigo\": \"CNF\", \"Descricao\": \"Conferência de cadastro\"}"),
              std::string::npos)
        << objects[0].at("Tipos");
}

TEST_F(JsonOutputE2E, ListDownloadAndHistoryUseTheTablesFieldNames)
{
    const auto published = server.write("publicar/retorno-json.xml", "conteúdo publicado\n");
    const auto r = runProcess({binPath("zebd"),
                               "disponibilizar",
                               "--dados",
                               (server.path() / "dados").string(),
                               "--registro",
                               "123456",
                               "--tipo",
                               "RET",
                               "--arquivo",
                               published.string(),
                               "--descricao",
                               "Retorno em JSON"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string id = r.out.substr(0, r.out.find_first_of("\r\n"));

    auto objects = run({"listar", "--registro", "123456", "--tipo", "RET", "--json"});
    const PyObject* row = nullptr;
    for (const auto& o : objects) {
        EXPECT_EQ(o.keys,
                  "NM_ARQUIVO|DE_CONTEUDO_ARQUIVO|TAMANHO|MEDIDA|ULT_DOWNLOAD|DT_CADASTRO|ID_ARQUIVO_DISPONIVEL|"
                  "CD_CHAVE_CRIPTOGRAFIA|DE_PATH_ARQUIVO|CD_TIPO_ARQUIVO|TAMANHOFTM");
        if (o.at("NM_ARQUIVO") == "str:\"retorno-json.xml\"") {
            row = &o;
        }
    }
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at("ID_ARQUIVO_DISPONIVEL"), "int:" + id);
    EXPECT_EQ(row->at("DE_CONTEUDO_ARQUIVO"), "str:\"Retorno em JSON\"");
    EXPECT_TRUE(std::regex_match(row->at("TAMANHO"), std::regex("(int|float):[0-9.]+"))) << row->at("TAMANHO");
    EXPECT_TRUE(
        std::regex_match(row->at("DT_CADASTRO"), std::regex("str:\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\"")))
        << row->at("DT_CADASTRO");

    const auto destino = client.path() / "baixados";
    fs::create_directories(destino);
    objects =
        run({"baixar", "--registro", "123456", "--tipo", "RET", "--id", id, "--destino", destino.string(), "--json"});
    ASSERT_EQ(objects.size(), 1U);
    EXPECT_EQ(objects[0].keys, "Caminho|ID_ARQUIVO_DISPONIVEL|NM_ARQUIVO");
    EXPECT_EQ(objects[0].at("Caminho"), "str:\"" + (destino / "retorno-json.xml").string() + "\"");
    EXPECT_EQ(objects[0].at("ID_ARQUIVO_DISPONIVEL"), "int:" + id);
    EXPECT_EQ(objects[0].at("NM_ARQUIVO"), "str:\"retorno-json.xml\"");

    ASSERT_EQ(cli.run({"enviar", "--registro", "123456", client.write("historia.xml", "<h/>").string()}).exitCode, 0);
    char hoje[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(hoje, sizeof hoje, "%d/%m/%Y", std::localtime(&now));
    objects = run({"historico", "--registro", "123456", "--inicio", hoje, "--fim", hoje, "--json"});
    row = nullptr;
    for (const auto& o : objects) {
        EXPECT_EQ(o.keys,
                  "DT_TRANSMISSAO|NM_ARQUIVO|CD_TIPO_ARQUIVO|CD_PROTOCOLO|NM_STATUS_PROCESSAMENTO|QT_AVISOS|QT_ERROS");
        if (o.at("NM_ARQUIVO") == "str:\"historia.xml\"") {
            row = &o;
        }
    }
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at("CD_TIPO_ARQUIVO"), "str:\"XML\"");
    EXPECT_TRUE(
        std::regex_match(row->at("DT_TRANSMISSAO"), std::regex("str:\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\"")));
    EXPECT_TRUE(std::regex_match(row->at("QT_ERROS"), std::regex("int:[0-9]+|NoneType:null"))) << row->at("QT_ERROS");
}

}  // namespace
}  // namespace vek::test
