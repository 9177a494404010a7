#include "server/ListRows.h"

#include "dataset/FieldNames.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Win1252.h"
#include "server/ZebServer.h"

#include <cstdio>
#include <filesystem>

namespace vek::server {
namespace {

using namespace dataset;

// What every received upload shows: it was deciphered, expanded and checked
// before its receipt went out.
constexpr const char* StatusProcessado = "Processado";

std::string fitted(const std::vector<FieldDef>& fields, std::string_view name, const std::string& text)
{
    const auto size = static_cast<std::size_t>(fields[fieldIndex(fields, name)].size);
    return platform::utf8Length(text) <= size ? text : platform::utf8Left(text, size);
}

Value timeValue(const std::string& storeTime)
{
    if (const auto t = timestampOf(storeTime)) {
        return *t;
    }
    return {};
}

}  // namespace

std::string serverPathOf(const AvailableFile& file)
{
    return std::string(AvailableDirName) + "/" + std::filesystem::path(file.storedPath).filename().string();
}

ListedSize listedSizeOf(std::int64_t bytes)
{
    constexpr std::int64_t Kilo = 1024;
    constexpr std::int64_t Mega = 1024 * 1024;
    const bool mega = bytes >= Mega;
    const std::int64_t unit = mega ? Mega : Kilo;
    const std::int64_t hundredths = (bytes * 100 + unit - 1) / unit;
    char text[48];
    std::snprintf(text,
                  sizeof text,
                  "%lld.%02lld",
                  static_cast<long long>(hundredths / 100),
                  static_cast<long long>(hundredths % 100));
    return {Decimal::parse(text).value_or(Decimal{}).toString(), mega ? "MBytes" : "KBytes"};
}

std::optional<Timestamp> timestampOf(const std::string& storeTime)
{
    Timestamp t;
    char tail = 0;
    if (std::sscanf(storeTime.c_str(),
                    "%4d-%2d-%2d %2d:%2d:%2d%c",
                    &t.year,
                    &t.month,
                    &t.day,
                    &t.hour,
                    &t.minute,
                    &t.second,
                    &tail) != 6) {
        return std::nullopt;
    }
    // The dataset's own parser checks the calendar.
    return parseSqlDateTime(formatSqlDateTime(t));
}

std::vector<Row> listRows(const std::vector<AvailableFile>& files)
{
    const auto& fields = ListTable::definition();
    std::vector<Row> rows;
    for (const AvailableFile& f : files) {
        const ListedSize size = listedSizeOf(f.size);
        rows.push_back(
            makeRow(fields,
                    {
                        {field::NM_ARQUIVO, fitted(fields, field::NM_ARQUIVO, f.fileName)},
                        {field::DE_CONTEUDO_ARQUIVO, fitted(fields, field::DE_CONTEUDO_ARQUIVO, f.description)},
                        {field::TAMANHO, Decimal::parse(size.amount).value_or(Decimal{})},
                        {field::MEDIDA, size.unit},
                        {field::ULT_DOWNLOAD, timeValue(f.lastDownload)},
                        {field::DT_CADASTRO, timeValue(f.registeredAt)},
                        {field::ID_ARQUIVO_DISPONIVEL, Decimal::fromInteger(f.id)},
                        {field::CD_CHAVE_CRIPTOGRAFIA, f.cipherKey},
                        {field::DE_PATH_ARQUIVO, fitted(fields, field::DE_PATH_ARQUIVO, serverPathOf(f))},
                        {field::CD_TIPO_ARQUIVO, fitted(fields, field::CD_TIPO_ARQUIVO, f.fileType)},
                    }));
    }
    return rows;
}

std::vector<Row> historyRows(const std::vector<UploadRecord>& uploads)
{
    const auto& fields = HistoryTable::definition();
    std::vector<Row> rows;
    for (const UploadRecord& u : uploads) {
        rows.push_back(makeRow(fields,
                               {
                                   {field::CD_OPERADORA, fitted(fields, field::CD_OPERADORA, u.operatorId)},
                                   {field::DT_TRANSMISSAO, timeValue(u.receivedAt)},
                                   {field::NM_ARQUIVO, fitted(fields, field::NM_ARQUIVO, u.fileName)},
                                   {field::CD_TIPO_ARQUIVO, fitted(fields, field::CD_TIPO_ARQUIVO, u.fileType)},
                                   {field::CD_PROTOCOLO, std::to_string(u.protocol)},
                                   {field::NM_STATUS_PROCESSAMENTO, std::string(StatusProcessado)},
                                   {field::QT_AVISOS, Decimal::fromInteger(0)},
                                   {field::QT_ERROS, Decimal::fromInteger(0)},
                               }));
    }
    return rows;
}

}  // namespace vek::server
