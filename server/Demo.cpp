#include "server/Demo.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"
#include "server/Authenticator.h"
#include "server/Availability.h"
#include "server/DataFiles.h"
#include "server/Store.h"
#include "server/ZebServer.h"

#include <gcrypt.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace vek::server {
namespace {

constexpr const char* DemoOperator = "123456";
constexpr std::int64_t SecondsPerDay = 24 * 60 * 60;

std::string retornoXml(const std::string& competence, int records)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<retorno competencia=\"" + competence + "\">\n";
    for (int i = 1; i <= records; ++i) {
        out += "  <registro numero=\"" + std::to_string(i) + "\" situacao=\"" + (i % 7 == 0 ? "rejeitado" : "aceito") +
               "\"/>\n";
    }
    return out + "</retorno>\n";
}

std::string relatorioTexto()
{
    std::string out = "RELATÓRIO DE PROCESSAMENTO - OPERADORA 123456\n\n";
    for (int i = 1; i <= 200; ++i) {
        char line[96];
        std::snprintf(
            line, sizeof line, "Lote %04d  arquivos %3d  avisos %2d  erros %d\n", i, i % 50 + 1, i % 5, i % 3);
        out += line;
    }
    return out;
}

// About 2 MB of CSV lines whose fields change from line to line.
std::string conferenciaCsv()
{
    std::string out = "beneficiario;plano;inicio;situacao\n";
    std::uint32_t x = 0x9E3779B9u;
    while (out.size() < 2 * 1024 * 1024) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        char line[96];
        std::snprintf(line,
                      sizeof line,
                      "%010u;%06u;%02u/%02u/20%02u;%s\n",
                      x,
                      x % 999983u,
                      x % 28u + 1,
                      x % 12u + 1,
                      x % 24u,
                      (x & 1u) != 0 ? "ATIVO" : "CANCELADO");
        out += line;
    }
    return out;
}

std::string daysAgo(int days)
{
    const std::time_t t = std::time(nullptr) - days * SecondsPerDay;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void writeFile(const std::filesystem::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) {
        throw Error("Não foi possível gravar " + file.string());
    }
}

struct DemoFile
{
    const char* type;
    const char* name;
    const char* description;
    const char* competence;
    std::string content;
};

struct DemoUpload
{
    const char* type;
    const char* name;
    int daysAgo;
    std::string content;
};

}  // namespace

void seedDemoContent(Store& store, const std::filesystem::path& dataDir, const Authenticator& authenticator)
{
    const std::array files{
        DemoFile{
            "RET", "retorno-052024.xml", "Retorno do processamento de maio/2024", "05/2024", retornoXml("05/2024", 40)},
        DemoFile{"RET",
                 "retorno-042024.xml",
                 "Retorno do processamento de abril/2024",
                 "04/2024",
                 retornoXml("04/2024", 12)},
        DemoFile{
            "REL", "relatorio-processamento.txt", "Relatório de processamento dos lotes", "05/2024", relatorioTexto()},
        DemoFile{
            "CNF", "conferencia-cadastro.csv", "Conferência de cadastro de beneficiários", "04/2024", conferenciaCsv()},
    };
    const std::filesystem::path sources = dataDir / ".demo-origem";
    std::filesystem::create_directories(sources);
    try {
        for (const DemoFile& f : files) {
            const auto source = sources / f.name;
            writeFile(source, f.content);
            (void)makeFileAvailable(store, dataDir, {DemoOperator, f.type, source, f.description, f.competence, {}});
        }
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(sources, ignored);
        throw;
    }
    std::filesystem::remove_all(sources);

    crypto::ensureGcrypt();
    const std::array uploads{
        DemoUpload{"XML", "movimentacao-cadastral.xml", 9, retornoXml("04/2024", 5)},
        DemoUpload{"TXT", "informacoes-complementares.txt", 2, "Informações complementares do lote de maio.\n"},
    };
    const std::filesystem::path received = dataDir / ReceivedDirName;
    std::filesystem::create_directories(received);
    for (const DemoUpload& u : uploads) {
        UploadRecord r;
        r.protocol = store.nextProtocol();
        r.operatorId = DemoOperator;
        r.fileType = u.type;
        r.fileName = u.name;
        r.size = static_cast<std::int64_t>(u.content.size());
        r.storedPath = (received / (std::to_string(r.protocol) + "-" + u.name)).string();
        r.receivedAt = daysAgo(u.daysAgo);
        r.clientAddress = "127.0.0.1";
        std::array<std::uint8_t, 32> sha{};
        gcry_md_hash_buffer(GCRY_MD_SHA256, sha.data(), u.content.data(), u.content.size());
        r.authentication = authenticator.code(r.protocol, r.operatorId, sha);
        r.application = "VEK";
        r.version = "4.0.8";
        r.systemName = " (demonstração)";
        writeFile(r.storedPath, u.content);
        store.addUpload(r);
    }
}

std::string demoClientConfiguration(const std::string& address, std::uint16_t messagePort, std::uint16_t ftpPort)
{
    // A server listening on every address is reached here through loopback.
    const bool everyAddress = address == "0.0.0.0";
    std::string out = everyAddress ? "zebd: configuração de um cliente VEK nesta máquina (em outra, use o endereço "
                                     "desta na rede), no vek.INI:\n"
                                   : "zebd: configuração de um cliente VEK, no vek.INI:\n";
    out += "[Defaults]\n";
    out += "ServidorInternet=" + (everyAddress ? std::string("127.0.0.1") : address) + "\n";
    out += "PortaServico=" + std::to_string(messagePort) + "\n";
    out += "PortaFTP=" + std::to_string(ftpPort) + "\n";
    return out;
}

}  // namespace vek::server
