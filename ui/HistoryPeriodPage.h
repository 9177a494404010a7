#pragma once

#include "channel/TCanalZEBCliente.h"
#include "ui/WizardPage.h"

#include <cstdint>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace vek::ui {

// pgPeriodoConsultaHist: the period of the history query, and the query.
class HistoryPeriodPage : public WizardPage
{
    Q_OBJECT

public:
    explicit HistoryPeriodPage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoProximo(bool& parar) override;
    void aoAnterior(bool& parar) override;

    // The history query's progress event.
    void aoProgressoConsulta(std::int32_t percent, const std::string& texto);

private:
    QLineEdit* txtInicioConsultaHist_ = nullptr;
    QLineEdit* txtFimConsultaHist_ = nullptr;
    QWidget* pnlStatusConsultaHist_ = nullptr;
    QProgressBar* gagConsultaHist_ = nullptr;
    QLabel* pnlInfConsultaHist_ = nullptr;
};

// A date field with the mask "DD/MM/AAAA": every digit required, the "/"
// part of the text, blanks where nothing was typed.
QLineEdit* criarCampoData(QWidget* parent, const char* nome, const QRect& geometria);
// A white panel with the processing icon, a two-line text and a gauge, shown
// while a list-type query runs.
QWidget* criarPainelAguarde(QWidget* parent,
                            const char* nome,
                            const QRect& geometria,
                            const QString& texto,
                            const char* nomeMedidor,
                            QProgressBar*& medidor);
QProgressBar* criarMedidor(QWidget* parent, const char* nome, const QRect& geometria);

}  // namespace vek::ui
