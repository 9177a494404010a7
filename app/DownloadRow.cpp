#include "app/DownloadRow.h"

#include "app/ReceiveRules.h"
#include "channel/TCanalZEBCliente.h"
#include "dataset/FieldNames.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"

namespace vek::app {

namespace fs = std::filesystem;
namespace f = dataset::field;

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
    moverArquivoBaixado(fetched_, destino, substituir);
    tabela_.markDownloaded(linha_);
    return destino;
}

}  // namespace vek::app
