#include "ui/PasswordPage.h"

#include "ui/Appearance.h"
#include "ui/TfrmPrincipal.h"

#include <QLabel>
#include <QLineEdit>

#include <exception>
#include <string>

namespace vek::ui {

PasswordPage::PasswordPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgAlteraSenha", 7, "Alteração de Senha")
{
    QWidget* entrada = criarPainel(this, QRect(176, 114, 508, 70), cor::Entrada);
    entrada->setObjectName("pnlEntradaNovaSenha");
    auto* rotulo = criarRotulo(entrada, "Nova Senha:", QPoint(12, 16));
    txtNovaSenha_ = new QLineEdit(entrada);
    txtNovaSenha_->setObjectName("txtNovaSenha");
    txtNovaSenha_->setGeometry(12, 32, 121, 22);
    txtNovaSenha_->setEchoMode(QLineEdit::Password);
    txtNovaSenha_->setStyleSheet("lineedit-password-character: 42;");
    txtNovaSenha_->setToolTip("Não há diferença entre maiúsculas e minúsculas.");
    rotulo->setBuddy(txtNovaSenha_);

    pnlInfNovaSenha_ = criarPainelInformacao(this, "pnlInfNovaSenha", QRect(176, 384, 509, 61));
}

void PasswordPage::aoEntrar()
{
    pnlInfNovaSenha_->hide();
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Concluir, Botao::Sair});
    janela_.definirConcluir("&Alterar");
    // Alt+A is the page's own action here; "< Anterior" keeps its place and
    // its click but gives up the letter while this page shows.
    janela_.botao(Botao::Anterior)->setText("< Anterior");
    txtNovaSenha_->setFocus();
}

void PasswordPage::aoAnterior(bool& parar)
{
    parar = true;
    janela_.irPara(pgAcesso);
}

void PasswordPage::aoConcluir(bool&)
{
    pnlInfNovaSenha_->hide();
    window()->repaint();
    channel::TCanalZEBCliente& canal = janela_.canal();
    canal.CD_Operadora = janela_.estado().registro;
    canal.Senha = janela_.estado().senha;
    const std::string nova = txtNovaSenha_->text().toStdString();
    try {
        OperacaoEmCurso operacao(janela_);
        // Once the server has taken the new password the old one is refused:
        // the run goes on with the new one.
        if (canal.AlterarSenha(nova) == channel::ResultadoAlteracaoSenha::Aceita) {
            janela_.adotarSenha(nova);
        }
    } catch (const std::exception& e) {
        definirCorTexto(pnlInfNovaSenha_, cor::Erro);
        pnlInfNovaSenha_->setFont(fontePx("Verdana", 12, true));
        pnlInfNovaSenha_->setText(QString::fromStdString(e.what()));
        pnlInfNovaSenha_->show();
    }
}

}  // namespace vek::ui
