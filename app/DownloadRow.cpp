#include "app/DownloadRow.h"

#include "app/ReceiveRules.h"
#include "channel/TCanalZEBCliente.h"
#include "dataset/FieldNames.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"

#include <exception>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace vek::app {

namespace fs = std::filesystem;
namespace f = dataset::field;

namespace {

// The files in temp/ that this run's downloads wrote and nobody kept.
class NaoGuardados
{
public:
    void add(const fs::path& arquivo)
    {
        const std::lock_guard lock(mutex_);
        arquivos_.insert(arquivo);
    }
    void forget(const fs::path& arquivo)
    {
        const std::lock_guard lock(mutex_);
        arquivos_.erase(arquivo);
    }
    std::set<fs::path> takeAll()
    {
        const std::lock_guard lock(mutex_);
        return std::exchange(arquivos_, {});
    }

private:
    std::mutex mutex_;
    std::set<fs::path> arquivos_;
};

NaoGuardados& naoGuardados()
{
    static NaoGuardados lista;
    return lista;
}

// A plain file (or a link, never followed), removed; anything else is left alone.
bool removerArquivo(const fs::path& arquivo)
{
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(arquivo, ec);
    if (ec || !(fs::is_regular_file(status) || fs::is_symlink(status))) {
        return false;
    }
    return fs::remove(arquivo, ec);
}

// How a file was before a download, to tell afterwards whether the download wrote it.
struct Marca
{
    fs::path caminho;
    bool existia = false;
    fs::file_time_type quando{};
};

Marca marcar(const fs::path& caminho)
{
    std::error_code ec;
    Marca m{caminho, fs::is_regular_file(caminho, ec), {}};
    if (m.existia) {
        m.quando = fs::last_write_time(caminho, ec);
    }
    return m;
}

bool escritoDesde(const Marca& m)
{
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(m.caminho, ec))) {
        return false;
    }
    const auto quando = fs::last_write_time(m.caminho, ec);
    return !ec && (!m.existia || quando != m.quando);
}

// Notes what a download wrote in temp/, whether it succeeded or not.
class NotaDoDownload
{
public:
    explicit NotaDoDownload(const std::string& nome)
    {
        try {
            const auto caminhos = channel::TCanalZEBCliente::caminhosDownload(nome, "");
            marcas_ = {marcar(caminhos.temporario), marcar(caminhos.destino)};
        } catch (const Error&) {
            // A name that names no file: the download itself refuses it.
        }
    }
    ~NotaDoDownload()
    {
        try {
            for (const Marca& m : marcas_) {
                if (escritoDesde(m)) {
                    naoGuardados().add(m.caminho);
                }
            }
        } catch (const std::exception&) {
            // Out of memory while the download's own error may be on its way:
            // the file then only stays in temp/.
        }
    }
    NotaDoDownload(const NotaDoDownload&) = delete;
    NotaDoDownload& operator=(const NotaDoDownload&) = delete;

private:
    std::vector<Marca> marcas_;
};

}  // namespace

RowDownload::RowDownload(dataset::ListTable& tabela, std::size_t linha)
    : tabela_(tabela)
    , linha_(linha)
{
    if (linha >= tabela.recordCount()) {
        throw Error(MsgNenhumArquivoSelecionado);
    }
}

fs::path RowDownload::fetch(channel::TCanalZEBCliente& canal)
{
    const std::string nome = tabela_.asText(linha_, f::NM_ARQUIVO);
    const NotaDoDownload nota(nome);
    canal.ReceberArquivo(nome,
                         tabela_.asText(linha_, f::DE_PATH_ARQUIVO),
                         tabela_.asText(linha_, f::ID_ARQUIVO_DISPONIVEL),
                         tabela_.asText(linha_, f::CD_TIPO_ARQUIVO),
                         tabela_.asText(linha_, f::CD_CHAVE_CRIPTOGRAFIA),
                         "",
                         tamanhoEsperadoDownload(tabela_.expectedSizeKb(linha_)));
    // The channel wrote the file under the server's name made safe; only a
    // plain file there is the download (never move a directory or a device
    // that happens to carry the name).
    localName_ = channel::nomeArquivoSeguro(nome);
    fetched_ = channel::TCanalZEBCliente::diretorioTemp() / localName_;
    std::error_code ec;
    if (!fs::is_regular_file(fetched_, ec)) {
        throw Error(MsgArquivoNaoBaixado);
    }
    return fetched_;
}

fs::path RowDownload::keep(fs::path destino, bool substituir)
{
    std::error_code ec;
    if (fs::is_directory(destino, ec)) {
        destino /= localName_;
    }
    destino = fs::absolute(destino);
    // The operator chose to keep it: should the move fail, it stays in temp/,
    // where the error says it is.
    kept_ = true;
    naoGuardados().forget(fetched_);
    moverArquivoBaixado(fetched_, destino, substituir);
    // A place the operator chose in temp/ is theirs, whatever wrote there before.
    naoGuardados().forget(destino);
    tabela_.markDownloaded(linha_);
    return destino;
}

void RowDownload::discard()
{
    if (fetched_.empty() || kept_) {
        return;
    }
    removerArquivo(fetched_);
    naoGuardados().forget(fetched_);
    fetched_.clear();
}

int apagarDownloadsNaoGuardados()
{
    int apagados = 0;
    for (const fs::path& arquivo : naoGuardados().takeAll()) {
        if (removerArquivo(arquivo)) {
            ++apagados;
        }
    }
    return apagados;
}

}  // namespace vek::app
