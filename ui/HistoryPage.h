#pragma once

#include "ui/WizardPage.h"

#include <QString>

#include <functional>

class QPushButton;

namespace vek::ui {

class GradeTabela;

// pgHistoricoTransmissoes: the transmissions of the period in a grid, and
// their export to a spreadsheet.
class HistoryPage : public WizardPage
{
    Q_OBJECT

public:
    explicit HistoryPage(TfrmPrincipal& janela);

    void aoEntrar() override;

    // The history table was loaded again.
    void recarregar();
    // "Exportar para Excel": writes the workbook where the user chooses and
    // hands it to the desktop's spreadsheet application.
    void exportar();

    GradeTabela* grade() const { return historicoGrid_; }
    // Opens a written workbook; false when no application took it.
    std::function<bool(const QString& caminho)> abrirPlanilha;

private:
    GradeTabela* historicoGrid_ = nullptr;
    QPushButton* btnExportar_ = nullptr;
};

}  // namespace vek::ui
