#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace vek::channel {
class TCanalZEBCliente;
}
namespace vek::dataset {
class ListTable;
}

namespace vek::app {

// One listed file downloaded into a destination, as both front ends do it:
// fetch() brings the file of a row of the list table into temp/ and checks
// that it arrived; keep() moves it to the chosen place and ticks the row.
// Between the two the front end finds the place (the window's save dialog,
// vek-cli's --destino). A download the operator declines to keep goes with
// discard(); one that is neither kept nor discarded stays in temp/ (vek-cli
// leaves it there when it cannot be moved) until apagarDownloadsNaoGuardados.
class RowDownload
{
public:
    // Throws vek::Error (MsgNenhumArquivoSelecionado) when the table has no such row.
    RowDownload(dataset::ListTable& tabela, std::size_t linha);

    // ReceberArquivo with the row's values and its expected size, into
    // temp/. Returns the downloaded file; throws the channel's error, or
    // MsgArquivoNaoBaixado when no plain file of the row's name is in temp/
    // afterwards.
    std::filesystem::path fetch(channel::TCanalZEBCliente& canal);

    // The name the file has in temp/ (the listed name reduced to a plain
    // file name), which is also the name to propose; known after fetch().
    [[nodiscard]] const std::string& localName() const { return localName_; }

    // Moves the fetched file to `destino` (into it under localName() when it
    // is a directory), replacing a file there only when `substituir`, and
    // adds the row to the run's downloaded-file list. Returns the absolute
    // final path. Throws vek::Error naming both places when the move cannot
    // be made; the file then stays in temp/.
    std::filesystem::path keep(std::filesystem::path destino, bool substituir);

    // Removes the fetched file from temp/ (unless keep() was called): the
    // operator declined to keep it, and a deciphered agency file does not stay
    // behind.
    void discard();

private:
    dataset::ListTable& tabela_;
    std::size_t linha_;
    std::string localName_;
    std::filesystem::path fetched_;
    bool kept_ = false;
};

// Removes what the downloads of this run put in temp/ and nobody kept: a
// deciphered file neither kept nor discarded, the enciphered temporary file of
// a download that failed. A file the operator chose to keep (even one that
// could not be moved out of temp/), and anything that was in temp/ before a
// download and was left untouched by it, are never among them. Returns how
// many files went. The window calls it when it closes.
int apagarDownloadsNaoGuardados();

inline constexpr const char* MsgNenhumArquivoSelecionado = "Não há arquivo selecionado para baixar.";

}  // namespace vek::app
