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
// vek-cli's --destino); a download that is not kept stays in temp/.
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

private:
    dataset::ListTable& tabela_;
    std::size_t linha_;
    std::string localName_;
    std::filesystem::path fetched_;
};

inline constexpr const char* MsgNenhumArquivoSelecionado = "Não há arquivo selecionado para baixar.";

}  // namespace vek::app
