#include "app/ReceiveRules.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace vek::app {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void falhar(const std::string& texto, int codigo)
{
    throw Error(texto + ": " + vek::platform::systemText(codigo), codigo);
}

// rename() that never replaces: EEXIST when `para` exists. A file system
// without that kind of rename falls back to a check first.
int renomearSemSubstituir(const fs::path& de, const fs::path& para)
{
    if (::renameat2(AT_FDCWD, de.c_str(), AT_FDCWD, para.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    std::error_code ec;
    if (fs::exists(para, ec)) {
        return EEXIST;
    }
    return ::rename(de.c_str(), para.c_str()) == 0 ? 0 : errno;
}

int renomear(const fs::path& de, const fs::path& para, bool substituir)
{
    if (substituir) {
        return ::rename(de.c_str(), para.c_str()) == 0 ? 0 : errno;
    }
    return renomearSemSubstituir(de, para);
}

}  // namespace

void moverArquivoBaixado(const fs::path& origem, const fs::path& destino, bool substituir)
{
    const std::string ficou = " O arquivo baixado ficou em \"" + origem.string() + "\".";
    int erro = renomear(origem, destino, substituir);
    if (erro == 0) {
        return;
    }
    if (erro == EEXIST) {
        throw Error("O arquivo \"" + destino.string() + "\" já existe e não foi substituído." + ficou, erro);
    }
    if (erro != EXDEV) {
        falhar("Não foi possível gravar o arquivo \"" + destino.string() + "\"." + ficou, erro);
    }

    // Another file system: a copy beside the destination, renamed into place.
    std::string modelo = (destino.parent_path() / ("." + destino.filename().string() + ".XXXXXX")).string();
    platform::File vazio;
    if (!vazio.createTemporary(modelo)) {
        falhar("Não foi possível gravar o arquivo \"" + destino.string() + "\"." + ficou, errno);
    }
    vazio.close();
    const fs::path copia = modelo;
    std::error_code ec;
    fs::copy_file(origem, copia, fs::copy_options::overwrite_existing, ec);
    erro = ec ? ec.value() : renomear(copia, destino, substituir);
    if (erro != 0) {
        fs::remove(copia, ec);
        if (erro == EEXIST) {
            throw Error("O arquivo \"" + destino.string() + "\" já existe e não foi substituído." + ficou, erro);
        }
        falhar("Não foi possível gravar o arquivo \"" + destino.string() + "\"." + ficou, erro);
    }
    fs::remove(origem, ec);
}

std::int32_t tamanhoEsperadoDownload(std::int64_t kilobytes)
{
    constexpr std::int64_t maximo = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(kilobytes, 0, maximo));
}

std::string textoArquivoCopiado(const std::string& caminho)
{
    return "O arquivo foi copiado para o diretório \"" + caminho + "\"";
}

}  // namespace vek::app
