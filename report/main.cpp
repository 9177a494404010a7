// vek-recibo REGISTRO DESTINO: draws the receipt of a transmission record into
// a PDF file, offscreen. It is how "vek-cli recibo" draws a receipt: vek-cli
// itself needs no Qt GUI, so a host without a display installs it alone, and
// the receipt keeps the one drawing the window prints and previews.
// vek-cli has already checked the record and the destination; this program
// only draws, and says why it could not on standard error.

#include "app/Receipt.h"
#include "dataset/TransmissionRecord.h"
#include "report/Recibo.h"

#include <QString>

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "Uso: vek-recibo REGISTRO.xml DESTINO.pdf (o vek-cli recibo o chama)\n";
        return 2;
    }
    const std::string destino = argv[2];
    try {
        const auto registro = vek::dataset::lerRegistroTransmissao(argv[1]);
        const auto valores = vek::app::reciboParaImprimir(registro);
        if (!valores) {
            std::cerr << "VEK: " << vek::app::MsgRegistroSemRecibo << '\n';
            return 1;
        }
        const vek::report::AplicacaoSemJanela aplicacao;
        if (!vek::report::salvarReciboPdf(QString::fromStdString(destino), *valores)) {
            std::cerr << "Erro: Não foi possível gravar o arquivo \"" << destino << "\".\n";
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "Erro: " << e.what() << '\n';
        return 1;
    }
}
