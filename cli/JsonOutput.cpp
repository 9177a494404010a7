#include "cli/JsonOutput.h"

#include "app/Text.h"
#include "app/UploadFlow.h"
#include "dataset/FieldNames.h"
#include "dataset/Table.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <type_traits>

namespace vek::cli {
namespace {

// Fields in the order written, which the documentation shows.
using json = nlohmann::ordered_json;

// One line; a text that is not valid UTF-8 keeps its other characters.
void writeLine(std::ostream& out, const json& value)
{
    out << value.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
}

json textOrNull(const std::optional<std::string>& text)
{
    return text ? json(*text) : json(nullptr);
}

json valueJson(const dataset::Value& value)
{
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool>) {
                return v;
            } else if constexpr (std::is_same_v<T, dataset::Decimal>) {
                // Whole numbers stay integers ("42", not "42.0").
                if (v.roundedToInteger() == v) {
                    try {
                        return v.toInt64();
                    } catch (const std::exception&) {
                        return v.toDouble();
                    }
                }
                return v.toDouble();
            } else {
                char text[32];
                std::snprintf(text,
                              sizeof text,
                              "%04d-%02d-%02dT%02d:%02d:%02d",
                              v.year,
                              v.month,
                              v.day,
                              v.hour,
                              v.minute,
                              v.second);
                return text;
            }
        },
        value);
}

}  // namespace

void writeUploadJson(std::ostream& out,
                     const std::string& arquivo,
                     const app::UploadOutcome& outcome,
                     const std::vector<ExtraField>& extra)
{
    const bool sent = outcome.sent();
    const auto ifSent = [sent](const std::string& text) { return sent ? json(text) : json(nullptr); };
    json o = json::object();
    o["Arquivo"] = arquivo;
    o["Sucesso"] = sent;
    o["Protocolo"] = ifSent(outcome.resultado.Protocolo);
    o["DataHora"] = ifSent(outcome.resultado.DataHora);
    o["EnderecoIP"] = ifSent(outcome.resultado.EnderecoIP);
    o["Autenticacao"] = ifSent(outcome.resultado.Autenticacao);
    o["Registro"] = outcome.record ? json(outcome.record->string()) : json(nullptr);
    // The core's texts keep the blank that follows a cut-off message prefix;
    // a program reading the field gets the text alone.
    o["Erro"] = sent ? json(nullptr) : json(app::trimmed(outcome.error));
    for (const auto& f : extra) {
        o[f.name] = f.number ? json(*f.number) : textOrNull(f.text);
    }
    writeLine(out, o);
}

void writeBatchSummaryJson(std::ostream& out,
                           std::size_t total,
                           std::size_t enviados,
                           const std::vector<std::string>& falharam,
                           const std::vector<std::string>& naoEnviados)
{
    writeLine(out,
              json{{"Resumo",
                    {{"Total", total}, {"Enviados", enviados}, {"Falharam", falharam}, {"NaoEnviados", naoEnviados}}}});
}

void writeTableJson(std::ostream& out, const dataset::Table& table, std::span<const std::string_view> columns)
{
    for (std::size_t row = 0; row < table.recordCount(); ++row) {
        json o = json::object();
        for (const auto name : columns) {
            o[std::string(name)] = valueJson(table.value(row, name));
        }
        writeLine(out, o);
    }
}

void writeTypeListJson(std::ostream& out, const std::string& lista)
{
    json tipos = json::array();
    std::size_t start = 0;
    while (start < lista.size()) {
        std::size_t end = lista.find('|', start);
        if (end == std::string::npos) {
            end = lista.size();
        }
        const std::string item = lista.substr(start, end - start);
        const auto hash = item.find('#');
        tipos.push_back({{"Codigo", item.substr(0, hash)},
                         {"Descricao", hash == std::string::npos ? std::string() : item.substr(hash + 1)}});
        start = end + 1;
    }
    writeLine(out, json{{"Lista", lista}, {"Tipos", tipos}});
}

void writeDownloadJson(std::ostream& out, const std::string& caminho, const dataset::Table& table, std::size_t row)
{
    writeLine(out,
              json{{"Caminho", caminho},
                   {"ID_ARQUIVO_DISPONIVEL", valueJson(table.value(row, dataset::field::ID_ARQUIVO_DISPONIVEL))},
                   {"NM_ARQUIVO", valueJson(table.value(row, dataset::field::NM_ARQUIVO))}});
}

}  // namespace vek::cli
