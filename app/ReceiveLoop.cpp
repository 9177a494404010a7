#include "app/ReceiveLoop.h"

#include "app/DownloadRow.h"
#include "app/Text.h"
#include "channel/TCanalZEBCliente.h"
#include "dataset/FieldNames.h"
#include "dataset/ListTable.h"
#include "platform/BaseDir.h"
#include "platform/DurableFile.h"
#include "platform/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>

namespace vek::app {

namespace fs = std::filesystem;
namespace f = dataset::field;

namespace {

constexpr std::string_view PrefixoTemporario = ".vek-";
constexpr std::string_view SufixoTemporario = ".part";

std::string escapar(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", c);
            out += code;
        }
    }
    return out;
}

// The first name in `pasta` that no file takes: `nome`, else "<stem>-2<ext>", "-3"…
std::string nomeLivre(const fs::path& pasta, const std::string& nome)
{
    const fs::path original(nome);
    std::error_code ec;
    for (int n = 1;; ++n) {
        const std::string candidato =
            n == 1 ? nome : original.stem().string() + "-" + std::to_string(n) + original.extension().string();
        if (!fs::exists(fs::symlink_status(pasta / candidato, ec))) {
            return candidato;
        }
    }
}

// rename() that never replaces; EEXIST when `para` exists.
int renomearSemSubstituir(const fs::path& de, const fs::path& para)
{
    if (::renameat2(AT_FDCWD, de.c_str(), AT_FDCWD, para.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    std::error_code ec;
    if (fs::exists(fs::symlink_status(para, ec))) {
        return EEXIST;
    }
    return ::rename(de.c_str(), para.c_str()) == 0 ? 0 : errno;
}

}  // namespace

FonteCanal::FonteCanal(channel::TCanalZEBCliente& canal,
                       std::string tipo,
                       std::string competencia,
                       std::string disponibilizacao)
    : canal_(canal)
    , tipo_(std::move(tipo))
    , competencia_(std::move(competencia))
    , disponibilizacao_(std::move(disponibilizacao))
{}

void FonteCanal::consultar(dataset::ListTable& tabela)
{
    std::string caminho;
    canal_.ConsultarListaDownload(tipo_, competencia_, disponibilizacao_, caminho);
    if (!caminho.empty()) {
        tabela.load(caminho);
    }
}

fs::path FonteCanal::baixar(dataset::ListTable& tabela, std::size_t linha)
{
    RowDownload download(tabela, linha);
    return download.fetch(canal_);
}

RegistroRecebidos::RegistroRecebidos(fs::path arquivo)
    : arquivo_(std::move(arquivo))
{
    std::error_code ec;
    if (!fs::exists(arquivo_, ec)) {
        return;
    }
    std::ifstream in(arquivo_, std::ios::binary);
    if (!in) {
        throw Error("Não foi possível ler o registro de arquivos recebidos " + arquivo_.string(), errno);
    }
    for (std::string linha; std::getline(in, linha);) {
        const auto tab = linha.find('\t');
        if (tab == std::string::npos) {
            continue;
        }
        const auto id = unhex(std::string_view(linha).substr(0, tab));
        const auto caminho = unhex(std::string_view(linha).substr(tab + 1));
        if (id && caminho) {
            caminhos_[*id] = *caminho;
        }
    }
    if (in.bad()) {
        throw Error("Não foi possível ler o registro de arquivos recebidos " + arquivo_.string(), errno);
    }
}

fs::path RegistroRecebidos::caminhoPadrao(const std::string& registro, const std::string& tipo)
{
    return platform::baseDir() / "Recebidos" / (escapar(registro) + "-" + escapar(tipo) + ".txt");
}

void RegistroRecebidos::gravar(const std::string& id, const fs::path& caminho)
{
    std::map<std::string, fs::path> novos = caminhos_;
    novos[id] = caminho;
    std::string texto;
    for (const auto& [i, c] : novos) {
        texto += hex(i) + '\t' + hex(c.string()) + '\n';
    }
    std::error_code ec;
    if (!fs::is_directory(arquivo_.parent_path(), ec)) {
        fs::create_directories(arquivo_.parent_path(), ec);
        if (ec) {
            throw Error("Não foi possível criar a pasta " + arquivo_.parent_path().string() + ": " + ec.message(),
                        ec.value());
        }
    }
    platform::writeFileDurably(arquivo_, texto);
    caminhos_ = std::move(novos);
}

ReceiveLoop::ReceiveLoop(fs::path pasta, RegistroRecebidos& recebidos)
    : pasta_(std::move(pasta))
    , recebidos_(recebidos)
{}

fs::path ReceiveLoop::temporario(const std::string& id) const
{
    return pasta_ / (std::string(PrefixoTemporario) + hex(id) + std::string(SufixoTemporario));
}

// Renames the temporary file of `id` to the first free name after `nome`
// (recorded before the rename) and returns where it went.
fs::path ReceiveLoop::colocar(const std::string& id, const std::string& nome)
{
    const fs::path de = temporario(id);
    for (;;) {
        const fs::path para = pasta_ / nomeLivre(pasta_, nome);
        if (recebidos_.caminhos().count(id) == 0 || recebidos_.caminhos().at(id) != para) {
            recebidos_.gravar(id, para);
        }
        const int erro = renomearSemSubstituir(de, para);
        if (erro == 0) {
            platform::syncPath(pasta_);
            return para;
        }
        if (erro != EEXIST) {
            throw Error("Não foi possível gravar o arquivo \"" + para.string() + "\": " + std::strerror(erro), erro);
        }
        // Someone took the name meanwhile: the next one.
    }
}

std::vector<ArquivoRecebido> ReceiveLoop::retomar()
{
    std::vector<ArquivoRecebido> colocados;
    std::error_code ec;
    std::vector<std::pair<std::string, fs::path>> pendentes;
    for (const auto& entry : fs::directory_iterator(pasta_, ec)) {
        const std::string nome = entry.path().filename().string();
        // A copy from another file system cut short on its way to a
        // temporary name ("." + that name + ".tmp"): nothing refers to it.
        if (nome.rfind("." + std::string(PrefixoTemporario), 0) == 0 && nome.size() > 9 &&
            nome.compare(nome.size() - 9, 9, ".part.tmp") == 0) {
            fs::remove(entry.path(), ec);
            continue;
        }
        if (nome.size() <= PrefixoTemporario.size() + SufixoTemporario.size() ||
            nome.compare(0, PrefixoTemporario.size(), PrefixoTemporario) != 0 ||
            nome.compare(nome.size() - SufixoTemporario.size(), SufixoTemporario.size(), SufixoTemporario) != 0) {
            continue;
        }
        const auto id = unhex(std::string_view(nome).substr(
            PrefixoTemporario.size(), nome.size() - PrefixoTemporario.size() - SufixoTemporario.size()));
        if (id) {
            pendentes.emplace_back(*id, entry.path());
        }
    }
    for (const auto& [id, caminho] : pendentes) {
        const auto it = recebidos_.caminhos().find(id);
        if (it == recebidos_.caminhos().end()) {
            // Never recorded: the file is downloaded again.
            fs::remove(caminho, ec);
            continue;
        }
        colocados.push_back({id, colocar(id, it->second.filename().string()), 0});
    }
    return colocados;
}

ArquivoRecebido ReceiveLoop::receber(FonteRecebimento& fonte, dataset::ListTable& tabela, std::size_t linha)
{
    const std::string id = tabela.asText(linha, f::ID_ARQUIVO_DISPONIVEL);
    const fs::path baixado = fonte.baixar(tabela, linha);
    const std::string nome = baixado.filename().string();
    const fs::path temp = temporario(id);
    std::error_code ec;
    fs::remove(temp, ec);
    platform::syncPath(baixado);
    platform::moveDurably(baixado, temp);
    const fs::path final = colocar(id, nome);
    tabela.markDownloaded(linha);
    return {id, final, linha};
}

bool ReceiveLoop::rodada(FonteRecebimento& fonte, const Eventos& eventos)
{
    for (const auto& r : retomar()) {
        if (eventos.recebido) {
            eventos.recebido(r, nullptr);
        }
    }
    dataset::ListTable tabela;
    fonte.consultar(tabela);
    bool todos = true;
    for (std::size_t linha = 0; linha < tabela.recordCount(); ++linha) {
        const std::string id = tabela.asText(linha, f::ID_ARQUIVO_DISPONIVEL);
        if (id.empty() || recebidos_.recebido(id)) {
            continue;
        }
        if (eventos.parar && eventos.parar()) {
            break;
        }
        try {
            const ArquivoRecebido r = receber(fonte, tabela, linha);
            if (eventos.recebido) {
                eventos.recebido(r, &tabela);
            }
        } catch (const Error& e) {
            todos = false;
            if (eventos.falhou) {
                eventos.falhou({id, tabela.asText(linha, f::NM_ARQUIVO), e.what()});
            }
        }
    }
    return todos;
}

}  // namespace vek::app
