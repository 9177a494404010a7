#pragma once

#include "ui/WizardPage.h"

#include <cstdint>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace vek::ui {

// pgReceber: the file type and the optional months, and the query for the
// list of files available for download.
class ReceivePage : public WizardPage
{
    Q_OBJECT

public:
    explicit ReceivePage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoProximo(bool& parar) override;
    void aoAnterior(bool& parar) override;

    // Replaces the type list's items; no item is selected afterwards.
    void preencherTipos(const std::vector<std::string>& itens);
    // The list query's progress event.
    void aoProgressoConsulta(std::int32_t percent, const std::string& texto);

private:
    QComboBox* cbxTpoArqReceber_ = nullptr;
    QLineEdit* txtMesAnoComp_ = nullptr;
    QLineEdit* txtMesAnoDisp_ = nullptr;
    QWidget* pnlListaArqReceber_ = nullptr;
    QProgressBar* gagListaArqReceber_ = nullptr;
    QLabel* pnlInfRecebto_ = nullptr;
};

}  // namespace vek::ui
