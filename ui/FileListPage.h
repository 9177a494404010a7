#pragma once

#include "app/TransferEstimate.h"
#include "channel/TCanalZEBCliente.h"
#include "ui/WizardPage.h"

#include <QString>

#include <filesystem>

class QLabel;
class QProgressBar;
class QScrollArea;

namespace vek::ui {

class GradeTabela;

// pgCopiarArq: the files available for download, and the download of the
// selected one to where the user wants it.
class FileListPage : public WizardPage
{
    Q_OBJECT

public:
    explicit FileListPage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoConcluir(bool& parar) override;

    // The list table was loaded again.
    void recarregar();
    // The download's progress event.
    void aoProgressoDownload(const channel::TStatusDownload& status);
    // The bytes received so far: what came of the listed size, the speed and
    // the time left beside the gauge.
    void aoTransferir(std::int64_t feitos, std::int64_t total);
    app::TransferEstimate& estimativa() { return estimativa_; }

    GradeTabela* grade() const { return grade_; }

private:
    // Runs the download of the current row and saves the file; throws on failure.
    void baixar();
    // The save dialog until the user picks a free place, agrees to replace a
    // file, or cancels (an empty path).
    std::filesystem::path escolherDestino(const QString& nome, bool& substituir);
    void mostrarTexto(const QString& texto, const QColor& cor, bool negrito);

    GradeTabela* grade_ = nullptr;
    QWidget* pnlArqCopiar_ = nullptr;
    QLabel* imgArqCopiar_ = nullptr;
    QScrollArea* rolagemArqCopiar_ = nullptr;
    QLabel* lblArqCopiar_ = nullptr;
    QProgressBar* gagArqCopiar_ = nullptr;
    QLabel* lblEstimativa_ = nullptr;
    app::TransferEstimate estimativa_{app::TransferEstimate::Direction::Receiving};
    QString ultimaPasta_;
};

}  // namespace vek::ui
