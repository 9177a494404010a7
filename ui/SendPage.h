#pragma once

#include "app/TransferEstimate.h"
#include "channel/TCanalZEBCliente.h"
#include "ui/WizardPage.h"

#include <QString>

#include <array>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace vek::ui {

// pgEnviar: the file type and the file, the upload with its three steps, and
// the result with the receipt.
class SendPage : public WizardPage
{
    Q_OBJECT

public:
    explicit SendPage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoConcluir(bool& parar) override;

    // Replaces the type list's items by those of the server's list text; no
    // item is selected afterwards.
    void preencherTipos(const std::string& lista);
    // The upload's progress event.
    void aoProgressoEnvio(const channel::TStatusUpload& status);
    // The bytes of the enciphered file sent so far: what went of the total,
    // the speed and the time left under the transmission's gauge.
    void aoTransferir(std::int64_t feitos, std::int64_t total);
    app::TransferEstimate& estimativa() { return estimativa_; }
    // The file-open dialog, reopened while the picked file has another type.
    void procurarArquivo();
    // "Imprimir Recibo": the receipt of the last upload in a print preview.
    void imprimirRecibo();

    // Unattended mode: the one type item "Arquivo do ..." selected, the
    // parameter file's path in the file field and the "Status" sub-page.
    void prepararModoParametros();
    // The unattended upload: the checksum check, then the upload as from the
    // finish button. False when it failed or the run had to end at once.
    bool enviarModoParametros();

    // "label (*.ext)|*.ext" for the selected type, or every file.
    [[nodiscard]] const QString& filtro() const { return filtro_; }

private:
    void reiniciar();
    // The upload of the state's file on this page: the "Status" sub-page
    // while it runs, then the receipt or the failure. True when it was sent.
    bool executarEnvio();
    void mostrarRecibo();
    void mostrarFalha(const std::string& mensagem);
    void definirInformacao(const QString& texto, const QColor& cor);

    QComboBox* cbxTpoArqEnviar_ = nullptr;
    QLineEdit* txtArqEnviado_ = nullptr;
    QStackedWidget* ntbEnviar_ = nullptr;
    QWidget* listaArquivos_ = nullptr;
    QWidget* status_ = nullptr;
    QWidget* imprimirRecibo_ = nullptr;
    std::array<QLabel*, 3> icones_{};
    std::array<QProgressBar*, 3> medidores_{};
    QLabel* lblArqEnviado_ = nullptr;
    QLabel* lblProtocoloEnvio_ = nullptr;
    QPushButton* btnImprimirRecibo_ = nullptr;
    QLabel* lblEstimativa_ = nullptr;
    app::TransferEstimate estimativa_{app::TransferEstimate::Direction::Sending};
    QLabel* pnlInfEnvio_ = nullptr;
    QLabel* pnlInfEnvio2_ = nullptr;
    QLabel* pnlInfEnvio3_ = nullptr;
    QString filtro_;
};

}  // namespace vek::ui
