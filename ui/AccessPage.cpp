#include "ui/AccessPage.h"

#include "app/AccessChecks.h"
#include "app/SendRules.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/FiltroDigitos.h"
#include "ui/SendPage.h"
#include "ui/TfrmPrincipal.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace vek::ui {

namespace {

constexpr const char* TextoIntroducao = "Este programa tem por finalidade auxiliar a operadora no envio \r\n"
                                        "e recebimento de arquivos de forma segura, autenticada e rápida.";
constexpr const char* DicaSenha = "Não há diferença entre maiúsculas e minúsculas.";

}  // namespace

AccessPage::AccessPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgAcesso", 1, "Acesso ao VEK")
{
    auto* introducao = new QLabel(QString(TextoIntroducao).replace("\r\n", "\n"), this);
    introducao->setObjectName("lblIntroducao");
    introducao->setFont(fontePx("Verdana", 12));
    definirCorTexto(introducao, cor::TextoAcesso);
    introducao->setGeometry(188, 132, 419, 28);

    QWidget* credenciais = criarPainel(this, QRect(176, 180, 508, 73), cor::Entrada);
    credenciais->setObjectName("pnlCredenciais");
    auto* lblRegistro = criarRotulo(credenciais, "Registro ZEB", QPoint(8, 16));
    txtRegZEB_ = new QLineEdit(credenciais);
    txtRegZEB_->setObjectName("txtRegZEB");
    txtRegZEB_->setGeometry(8, 32, 121, 22);
    txtRegZEB_->setMaxLength(6);
    FiltroDigitos::instalar(txtRegZEB_, app::caractereRegistroAceito);
    lblRegistro->setBuddy(txtRegZEB_);

    auto* lblSenha = criarRotulo(credenciais, "Senha", QPoint(152, 16));
    txtSenha_ = new QLineEdit(credenciais);
    txtSenha_->setObjectName("txtSenha");
    txtSenha_->setGeometry(152, 32, 121, 22);
    txtSenha_->setEchoMode(QLineEdit::Password);
    txtSenha_->setStyleSheet("lineedit-password-character: 42;");
    txtSenha_->setToolTip(DicaSenha);
    lblSenha->setBuddy(txtSenha_);

    auto* escolha = criarRotulo(this, "Selecione o tipo de função", QPoint(188, 264), fontePx("Verdana", 12, true));
    definirCorTexto(escolha, cor::TextoAcesso);

    auto* grupo = new QButtonGroup(this);
    auto opcao = [this, grupo](const char* nome, const QString& texto, int y) {
        auto* r = new QRadioButton(texto, this);
        r->setObjectName(nome);
        r->setFont(fontePx("Verdana", 11));
        definirCorTexto(r, cor::TextoOpcao);
        r->adjustSize();
        r->move(192, y);
        grupo->addButton(r);
        return r;
    };
    rdbEnviar_ = opcao("rdbEnviar", "Enviar arquivo", 288);
    rdbReceber_ = opcao("rdbReceber", "Receber arquivos da ZEB (\"downloads\")", 312);
    rdbHistorico_ = opcao("rdbHistorico", "Consultar histórico de transmissões", 336);
    rdbAlterarSenha_ = opcao("rdbAlterarSenha", "Alterar Senha", 360);
    rdbEnviar_->setChecked(true);

    pnlAcesso_ = criarPainelInformacao(this, "pnlAcesso", QRect(176, 384, 509, 61));

    // Enter in either field goes on, as "&Próximo >" does.
    for (QLineEdit* campo : {txtRegZEB_, txtSenha_}) {
        connect(campo, &QLineEdit::returnPressed, this, [this] {
            QPushButton* proximo = janela_.botao(Botao::Proximo);
            if (janela_.assistenteHabilitado() && proximo->isVisible() && proximo->isEnabled()) {
                proximo->click();
            }
        });
    }
}

void AccessPage::focarRegistro()
{
    txtRegZEB_->setFocus();
}

void AccessPage::definirSenha(const QString& senha)
{
    txtSenha_->setText(senha);
}

void AccessPage::aoEntrar()
{
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Proximo, Botao::Sair});
}

void AccessPage::aoProximo(bool& parar)
{
    parar = true;
    const std::string registro = txtRegZEB_->text().toStdString();
    const std::string senha = txtSenha_->text().toStdString();
    if (const auto aviso = app::verificarAcesso(registro, senha)) {
        platform::ui().showMessage(*aviso, platform::MessageKind::Warning);
        return;
    }
    app::AppState& estado = janela_.estado();
    if (!estado.modoParametros) {
        estado.registro = registro;
        estado.senha = senha;
        estado.aplicacao.clear();
        estado.versaoAplicacao.clear();
    }

    pnlAcesso_->setText(app::MsgCarregandoTipos);
    pnlAcesso_->show();
    window()->repaint();
    // While the query lets window events run, the wizard takes no input, so
    // that no second operation starts on the one channel. The panel goes away
    // also when the query fails, so that no stale "loading" text stays behind
    // the error box.
    struct Consulta
    {
        TfrmPrincipal& janela;
        QLabel* painel;
        ~Consulta()
        {
            janela.setOperacaoEmAndamento(false);
            janela.setAssistenteHabilitado(true);
            painel->hide();
            painel->clear();
        }
    } consulta{janela_, pnlAcesso_};
    janela_.setAssistenteHabilitado(false);
    janela_.setOperacaoEmAndamento(true);

    if (rdbEnviar_->isChecked()) {
        std::string lista;
        janela_.canal().ListarTiposArquivoEnvio(lista);
        janela_.paginaEnviar()->preencherTipos(lista);
        janela_.irPara(pgEnviar);
    } else if (rdbReceber_->isChecked()) {
        std::string lista;
        janela_.canal().ListarTiposArquivoDownload(lista);
        janela_.definirTiposReceber(app::itensListaTipos(lista));
        janela_.irPara(pgReceber);
    } else if (rdbHistorico_->isChecked()) {
        janela_.irPara(pgPeriodoConsultaHist);
    } else {
        janela_.irPara(pgAlteraSenha);
    }
}

}  // namespace vek::ui
