#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vek::channel {
class TCanalZEBCliente;
}
namespace vek::dataset {
class ListTable;
}

namespace vek::app {

// Files of one type received without a person: each round lists what the
// agency has for the operator and brings into a folder every listed file not
// yet received, told apart by its ID_ARQUIVO_DISPONIVEL.

// What a round needs from the agency.
class FonteRecebimento
{
public:
    virtual ~FonteRecebimento() = default;
    // The list query into `tabela`; throws vek::Error when it fails.
    virtual void consultar(dataset::ListTable& tabela) = 0;
    // Downloads row `linha` of the list, deciphered, into a file of the local
    // file system (temp/) named as the file is to be named, and returns it.
    // Throws vek::Error when the download fails.
    virtual std::filesystem::path baixar(dataset::ListTable& tabela, std::size_t linha) = 0;
};

// The channel's list query (with the filter page's month filters) and download.
class FonteCanal : public FonteRecebimento
{
public:
    FonteCanal(channel::TCanalZEBCliente& canal,
               std::string tipo,
               std::string competencia,
               std::string disponibilizacao);
    void consultar(dataset::ListTable& tabela) override;
    std::filesystem::path baixar(dataset::ListTable& tabela, std::size_t linha) override;

private:
    channel::TCanalZEBCliente& canal_;
    std::string tipo_;
    std::string competencia_;
    std::string disponibilizacao_;
};

// The identifiers received for one operator and file type, with the path
// each file was given: a text file rewritten whole (through a temporary file,
// flushed and renamed into place) at every change, so that it always holds
// either the old or the new list.
class RegistroRecebidos
{
public:
    // Loads the record at `arquivo` (none yet: empty). Throws vek::Error when
    // it exists and cannot be read.
    explicit RegistroRecebidos(std::filesystem::path arquivo);

    // "<base directory>/Recebidos/<registro>-<tipo>.txt", the two values with
    // every byte outside A-Z, a-z, 0-9, "_" and "." written as "%XX".
    static std::filesystem::path caminhoPadrao(const std::string& registro, const std::string& tipo);

    [[nodiscard]] bool recebido(const std::string& id) const { return caminhos_.count(id) != 0; }
    [[nodiscard]] const std::map<std::string, std::filesystem::path>& caminhos() const { return caminhos_; }
    // Records `id` with its file's path; durable once it returns. Throws vek::Error.
    void gravar(const std::string& id, const std::filesystem::path& caminho);

private:
    std::filesystem::path arquivo_;
    std::map<std::string, std::filesystem::path> caminhos_;
};

struct ArquivoRecebido
{
    std::string id;
    std::filesystem::path caminho;  // its final path
    std::size_t linha = 0;          // its row in the round's list
};

struct FalhaRecebimento
{
    std::string id;
    std::string nome;  // as listed
    std::string erro;
};

// The rounds of one folder. A file's way: downloaded, moved into the folder
// under a hidden temporary name (".vek-<id in hex>.part") and flushed, its
// identifier and final name recorded, and then renamed to that name, never
// replacing a file there ("nome.ext", else "nome-2.ext", "nome-3.ext"…). A
// crash before the record leaves at most a hidden temporary file, which the
// next round removes and downloads again; a crash after it leaves the
// temporary file, which the next round renames into place. No file is ever
// lost, doubled or seen half written under its final name.
class ReceiveLoop
{
public:
    ReceiveLoop(std::filesystem::path pasta, RegistroRecebidos& recebidos);

    struct Eventos
    {
        // A file in its place; the list and its row when it came in this round
        // (nullptr: an earlier round left it half done).
        std::function<void(const ArquivoRecebido&, const dataset::ListTable*)> recebido;
        std::function<void(const FalhaRecebimento&)> falhou;
        // Asked before each file: true ends the round there.
        std::function<bool()> parar;
    };

    // One round: first what an earlier round left half done, then the list
    // query (its error is raised) and every listed file not yet received. A
    // file that fails is reported and left for the next round. Returns
    // whether no file failed.
    bool rodada(FonteRecebimento& fonte, const Eventos& eventos);

    // Renames into place every file recorded whose temporary file is still
    // in the folder and removes the temporary files of identifiers never
    // recorded. Returns the files placed. Throws vek::Error.
    std::vector<ArquivoRecebido> retomar();

private:
    std::filesystem::path temporario(const std::string& id) const;
    std::filesystem::path colocar(const std::string& id, const std::string& nome);
    ArquivoRecebido receber(FonteRecebimento& fonte, dataset::ListTable& tabela, std::size_t linha);

    std::filesystem::path pasta_;
    RegistroRecebidos& recebidos_;
};

}  // namespace vek::app
