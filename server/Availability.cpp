#include "server/Availability.h"

#include "crypto/Gcrypt.h"
#include "crypto/TDecryptFile.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win1252.h"
#include "server/DataFiles.h"
#include "server/ZebServer.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vek::server {
namespace {

constexpr std::size_t CipherKeyLength = 16;
constexpr std::size_t MaxNameLength = 200;
constexpr std::size_t MaxDescriptionLength = 400;
constexpr std::string_view KeyAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Letters and digits only: the key travels inside the list data packet and
// through the file cipher's password rule.
std::string freshCipherKey()
{
    crypto::ensureGcrypt();
    std::string key;
    while (key.size() < CipherKeyLength) {
        unsigned char b = 0;
        gcry_randomize(&b, 1, GCRY_STRONG_RANDOM);
        // 248 = 4 * 62: keeps every character equally likely.
        if (b < 248) {
            key += KeyAlphabet[b % KeyAlphabet.size()];
        }
    }
    return key;
}

bool isMonth(const std::string& text)
{
    if (text.size() != 7 || text[2] != '/') {
        return false;
    }
    const std::string digits = text.substr(0, 2) + text.substr(3);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int month = std::stoi(text.substr(0, 2));
    return month >= 1 && month <= 12;
}

std::string randomHex()
{
    std::array<std::uint8_t, 8> nonce{};
    gcry_create_nonce(nonce.data(), nonce.size());
    return platform::toHex(nonce, platform::HexCase::Lower);
}

void syncFile(const std::filesystem::path& file)
{
    platform::File f;
    if (!f.openRead(file) || !f.sync()) {
        throw Error("Não foi possível gravar " + file.string(), errno);
    }
}

}  // namespace

AvailableFile makeFileAvailable(Store& store, const std::filesystem::path& dataDir, const AvailabilityRequest& r)
{
    if (!store.hasOperator(r.registro)) {
        throw Error("Operadora " + r.registro + " não cadastrada.");
    }
    const std::string tipo = platform::upperText(r.tipo);
    const auto codes = listCodes(store.tiposDownload());
    if (std::find(codes.begin(), codes.end(), tipo) == codes.end()) {
        throw Error("Tipo " + tipo + " não está na lista de tipos para download.");
    }
    if (!r.competencia.empty() && !isMonth(r.competencia)) {
        throw Error("Competência inválida (use MM/AAAA): " + r.competencia);
    }
    // The list carries the name in 200 characters and the description in 400;
    // the download request must repeat the name exactly.
    const std::string name = r.arquivo.filename().string();
    if (platform::utf8Length(name) > MaxNameLength) {
        throw Error("Nome de arquivo com mais de " + std::to_string(MaxNameLength) + " caracteres: " + name);
    }
    if (r.descricao.empty() || platform::utf8Length(r.descricao) > MaxDescriptionLength) {
        throw Error("A descrição deve ter de 1 a " + std::to_string(MaxDescriptionLength) + " caracteres.");
    }
    const std::filesystem::path& source = r.conteudo.empty() ? r.arquivo : r.conteudo;
    if (!std::filesystem::is_regular_file(source)) {
        throw Error("Arquivo não encontrado: " + r.arquivo.string());
    }

    AvailableFile f;
    f.operatorId = r.registro;
    f.fileType = tipo;
    f.fileName = name;
    f.description = r.descricao;
    f.competence = r.competencia;
    f.size = static_cast<std::int64_t>(std::filesystem::file_size(source));
    f.cipherKey = freshCipherKey();

    const std::filesystem::path dir = dataDir / AvailableDirName;
    std::filesystem::create_directories(dir);
    const std::string tag = randomHex();
    const std::filesystem::path temp = dir / (".cifrando-" + tag);
    const std::filesystem::path final = dir / (tag + ".cpt");
    try {
        crypto::TEncryptFile cipher;
        cipher.SetArquivoOriginal(source.string());
        cipher.SetArquivoDestino(temp.string());
        cipher.SetSenha(platform::toWin1252(f.cipherKey));
        cipher.UsarSenha = true;
        cipher.ExcecaoErro = true;
        cipher.Executar();
        syncFile(temp);
        std::filesystem::rename(temp, final);
        syncDirectory(dir);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw;
    }
    f.storedPath = final.string();
    try {
        f.id = store.addAvailableFile(f);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(final, ignored);
        throw;
    }
    return f;
}

}  // namespace vek::server
