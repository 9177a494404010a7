#include "ui/HistoryPeriodPage.h"

#include "app/InputChecks.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/TfrmPrincipal.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace vek::ui {

namespace {

constexpr const char* TextoAguardeHistorico =
    "Aguarde: conectando com o servidor da ZEB para trazer o histórico \r\ndas transferências.";

}  // namespace

CampoData::CampoData(QWidget* parent, const char* nome, const QRect& geometria)
    : QLineEdit(parent)
{
    setObjectName(nome);
    setGeometry(geometria);
    // "0" is a required digit; the blank is what the text holds where none was typed.
    setInputMask("00/00/0000; ");
    setMaxLength(10);
    setToolTip("Formato DD/MM/AAAA");
}

bool CampoData::incompleto() const
{
    const QString texto = displayText();
    const auto digitos = std::count_if(texto.begin(), texto.end(), [](QChar c) { return c.isDigit(); });
    return digitos > 0 && digitos < 8;
}

void CampoData::focusInEvent(QFocusEvent* event)
{
    // A partly typed date that gets the focus back (held after a move, back
    // from the warning's box or another window) is typing under way: Esc
    // still gives back the text from before it, however often the warning
    // showed.
    if (!incompleto()) {
        textoAoEntrar_ = displayText();
    }
    QLineEdit::focusInEvent(event);
}

void CampoData::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Focus that goes to another window (a message box, another program) or
    // leaves with the page is let go; only the user's own moves are held.
    const Qt::FocusReason motivo = event->reason();
    const bool doUsuario = motivo == Qt::MouseFocusReason || motivo == Qt::TabFocusReason ||
                           motivo == Qt::BacktabFocusReason || motivo == Qt::ShortcutFocusReason;
    const QWidget* destino = QApplication::focusWidget();
    if (!doUsuario || !incompleto() || !isVisible() || destino == nullptr || destino->window() != window()) {
        return;
    }
    setFocus(Qt::OtherFocusReason);
    if (motivo == Qt::MouseFocusReason && !segurandoMouse_) {
        // The focus moves before the press is delivered: the press comes next.
        segurandoMouse_ = true;
        qApp->installEventFilter(this);
    }
    // Shown once the focus has settled, and once for moves in quick succession.
    if (!avisoPendente_) {
        avisoPendente_ = true;
        QTimer::singleShot(0, this, [this] {
            platform::ui().showMessage(MsgDataIncompleta, platform::MessageKind::Warning);
            avisoPendente_ = false;
            pararDeSegurarMouse();
        });
    }
}

bool CampoData::eventFilter(QObject* watched, QEvent* event)
{
    if (segurandoMouse_ && watched != this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::MouseButtonRelease:
            pararDeSegurarMouse();
            return true;
        default:
            break;
        }
    }
    return QLineEdit::eventFilter(watched, event);
}

void CampoData::pararDeSegurarMouse()
{
    if (segurandoMouse_) {
        segurandoMouse_ = false;
        qApp->removeEventFilter(this);
    }
}

void CampoData::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        setText(textoAoEntrar_);
        setCursorPosition(0);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

QProgressBar* criarMedidor(QWidget* parent, const char* nome, const QRect& geometria)
{
    auto* medidor = new QProgressBar(parent);
    medidor->setObjectName(nome);
    medidor->setGeometry(geometria);
    medidor->setRange(0, 100);
    medidor->setValue(0);
    medidor->setTextVisible(false);
    medidor->setStyleSheet("QProgressBar { border: 1px solid #A0A0A0; background: white; }"
                           "QProgressBar::chunk { background: #CCCCCC; }");
    return medidor;
}

QWidget* criarPainelAguarde(QWidget* parent,
                            const char* nome,
                            const QRect& geometria,
                            const QString& texto,
                            const char* nomeMedidor,
                            QProgressBar*& medidor)
{
    QWidget* painel = criarPainel(parent, geometria, Qt::white);
    painel->setObjectName(nome);
    auto* icone = new QLabel(painel);
    icone->setObjectName(QString(nome) + "Icone");
    icone->setGeometry(16, 16, 14, 14);
    icone->setPixmap(pixmapIcone(Icone::Processando));
    auto* rotulo = new QLabel(QString(texto).replace("\r\n", "\n"), painel);
    rotulo->setObjectName(QString(nome) + "Texto");
    rotulo->setTextFormat(Qt::PlainText);
    rotulo->setFont(fontePx("Verdana", 11));
    rotulo->setGeometry(36, 16, geometria.width() - 36 - 8, 32);
    rotulo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    medidor = criarMedidor(painel, nomeMedidor, QRect(40, 56, 298, 16));
    painel->hide();
    return painel;
}

void marcarEspera(QWidget* painel, Icone icone)
{
    if (auto* rotulo = painel->findChild<QLabel*>(painel->objectName() + "Icone")) {
        rotulo->setPixmap(pixmapIcone(icone));
    }
}

HistoryPeriodPage::HistoryPeriodPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgPeriodoConsultaHist", 5, "Consulta de Histórico de Transmissões")
{
    QWidget* entrada = criarPainel(this, QRect(176, 114, 508, 70), cor::Entrada);
    entrada->setObjectName("pnlEntradaPeriodo");
    auto* lblInicio = criarRotulo(entrada, "Início", QPoint(8, 16));
    txtInicioConsultaHist_ = new CampoData(entrada, "txtInicioConsultaHist", QRect(8, 32, 121, 22));
    lblInicio->setBuddy(txtInicioConsultaHist_);
    auto* lblFim = criarRotulo(entrada, "Fim", QPoint(136, 16));
    txtFimConsultaHist_ = new CampoData(entrada, "txtFimConsultaHist", QRect(136, 32, 119, 22));
    lblFim->setBuddy(txtFimConsultaHist_);

    pnlStatusConsultaHist_ = criarPainelAguarde(this,
                                                "pnlStatusConsultaHist",
                                                QRect(176, 200, 513, 105),
                                                TextoAguardeHistorico,
                                                "gagConsultaHist",
                                                gagConsultaHist_);
    pnlInfConsultaHist_ = criarPainelInformacao(this, "pnlInfConsultaHist", QRect(176, 384, 509, 61));
}

void HistoryPeriodPage::aoEntrar()
{
    pnlStatusConsultaHist_->hide();
    pnlInfConsultaHist_->hide();
    pnlInfConsultaHist_->clear();
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Proximo, Botao::Sair});
    txtInicioConsultaHist_->setFocus();
}

void HistoryPeriodPage::aoAnterior(bool& parar)
{
    parar = true;
    janela_.irPara(pgAcesso);
}

void HistoryPeriodPage::aoProximo(bool& parar)
{
    parar = true;
    txtFimConsultaHist_->setFocus();
    const std::string inicio = txtInicioConsultaHist_->displayText().toStdString();
    const std::string fim = txtFimConsultaHist_->displayText().toStdString();
    const app::InputCheck check = app::checkPeriod(inicio, fim);
    if (check.focus == app::InputField::txtInicioConsultaHist) {
        txtInicioConsultaHist_->setFocus();
    }
    if (check.kind == app::InputCheckKind::Error) {
        throw Error(check.text);
    }
    if (check.kind == app::InputCheckKind::Warning) {
        platform::ui().showMessage(check.text, platform::MessageKind::Warning);
        return;
    }

    gagConsultaHist_->setValue(0);
    pnlStatusConsultaHist_->show();
    pnlInfConsultaHist_->show();
    window()->repaint();

    channel::TCanalZEBCliente& canal = janela_.canalDaOperadora();
    std::string caminho;
    consultarComPainel(pnlStatusConsultaHist_, [&] {
        OperacaoEmCurso operacao(janela_);
        canal.ConsultarHistoricoTx(inicio, fim, caminho);
    });
    if (caminho.empty() || !std::filesystem::is_regular_file(std::filesystem::u8path(caminho))) {
        return;
    }
    janela_.carregarHistorico(caminho);
    parar = false;
}

void HistoryPeriodPage::aoProgressoConsulta(std::int32_t percent, const std::string& texto)
{
    gagConsultaHist_->setValue(std::clamp(percent, 0, 100));
    pnlInfConsultaHist_->setText(textoDaTela(texto));
    platform::ui().processEvents();
}

}  // namespace vek::ui
