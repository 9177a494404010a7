#pragma once

#include "channel/TCanalZEBCliente.h"
#include "ui/Appearance.h"
#include "ui/WizardPage.h"

#include <QLineEdit>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;

namespace vek::ui {

// A date field with the mask "DD/MM/AAAA": every digit required, the "/"
// part of the text, blanks where nothing was typed. A partly typed date
// cannot be left: when the user moves elsewhere (Tab, a click, a shortcut)
// the focus stays, the click does nothing and a warning says why. Esc
// gives the field back the text it had before the typing began.
class CampoData : public QLineEdit
{
    Q_OBJECT

public:
    CampoData(QWidget* parent, const char* nome, const QRect& geometria);

    // Some digits typed, but not all.
    [[nodiscard]] bool incompleto() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pararDeSegurarMouse();

    // What Esc gives back: the text when the field last got the focus
    // holding an empty or a whole date.
    QString textoAoEntrar_;
    // The mouse press that tried to take the focus away, and its release,
    // reach nothing.
    bool segurandoMouse_ = false;
    bool avisoPendente_ = false;
};

// The warning of a partly typed date that the user tried to leave.
inline constexpr const char* MsgDataIncompleta =
    "Data incompleta. Preencha o dia, o mês e o ano no formato DD/MM/AAAA, ou tecle Esc para desfazer.";
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
    CampoData* txtInicioConsultaHist_ = nullptr;
    CampoData* txtFimConsultaHist_ = nullptr;
    QWidget* pnlStatusConsultaHist_ = nullptr;
    QProgressBar* gagConsultaHist_ = nullptr;
    QLabel* pnlInfConsultaHist_ = nullptr;
};

// A white panel with the processing icon, a two-line text and a gauge, shown
// while a list-type query runs.
QWidget* criarPainelAguarde(QWidget* parent,
                            const char* nome,
                            const QRect& geometria,
                            const QString& texto,
                            const char* nomeMedidor,
                            QProgressBar*& medidor);
QProgressBar* criarMedidor(QWidget* parent, const char* nome, const QRect& geometria);
// The panel's icon: processing while the query runs; once it has ended
// without a list (an error, an empty answer) the panel stays, its icon
// telling that nothing is being waited for any more.
void marcarEspera(QWidget* painel, Icone icone);

// Runs a list-type query with its wait panel's icon kept up to date.
template <class Consulta> void consultarComPainel(QWidget* painel, Consulta&& consulta)
{
    marcarEspera(painel, Icone::Processando);
    try {
        consulta();
    } catch (...) {
        marcarEspera(painel, Icone::Erro);
        throw;
    }
    marcarEspera(painel, Icone::Feito);
}

}  // namespace vek::ui
