#include "ui/FileListPage.h"

#include "app/DownloadRow.h"
#include "app/ReceiveRules.h"
#include "dataset/FieldNames.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/HistoryPeriodPage.h"
#include "ui/PastasLembradas.h"
#include "ui/TfrmPrincipal.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>

namespace vek::ui {

namespace {

namespace fs = std::filesystem;
namespace f = dataset::field;

constexpr const char* TextoAguardeLista =
    "Aguarde: conectando com o servidor da ZEB para trazer a lista de arquivos \r\ndisponíveis.";
constexpr int LarguraTexto = 470;
constexpr int AlturaTexto = 26;
constexpr const char* MsgArquivoNaoSalvo = "O arquivo não foi salvo. Clique em \"Baixar\" para baixá-lo novamente.";
// An error may take the gauge's room.
constexpr int AlturaTextoMaxima = 83 - 16 - 4;

std::vector<ColunaGrade> colunasLista()
{
    return {
        {f::ENVIADO, "Feito", 33, Qt::AlignCenter},
        {f::DE_CONTEUDO_ARQUIVO, "Arquivo", 270},
        {f::TAMANHOFTM, "Tamanho", 80, Qt::AlignCenter},
        {f::DT_CADASTRO, "Disponibilizado em", 120},
    };
}

}  // namespace

FileListPage::FileListPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgCopiarArq", 4, "Receber Arquivo")
    , ultimaPasta_(pastaLembrada(pastas::SalvarDownload, QDir::homePath()))
{
    grade_ = new GradeTabela(this, janela.tabelaLista(), colunasLista());
    grade_->setObjectName("ListaArqGrid");
    grade_->setGeometry(176, 132, 509, 221);
    // A double click on a file downloads it, as "&Baixar" does.
    connect(grade_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& indice) {
        QPushButton* baixar = janela_.botao(Botao::Concluir);
        if (indice.isValid() && janela_.assistenteHabilitado() && baixar->isVisible() && baixar->isEnabled()) {
            baixar->click();
        }
    });

    pnlArqCopiar_ = criarPainel(this, QRect(172, 356, 513, 83), Qt::white);
    pnlArqCopiar_->setObjectName("pnlArqCopiar");
    imgArqCopiar_ = new QLabel(pnlArqCopiar_);
    imgArqCopiar_->setObjectName("imgArqCopiar");
    imgArqCopiar_->setGeometry(16, 16, 14, 14);
    imgArqCopiar_->setPixmap(pixmapIcone(Icone::Processando));
    // A long error (a failed connection lists every attempt) scrolls in its place.
    rolagemArqCopiar_ = new QScrollArea(pnlArqCopiar_);
    rolagemArqCopiar_->setObjectName("rolagemArqCopiar");
    rolagemArqCopiar_->setGeometry(36, 16, LarguraTexto, AlturaTexto);
    rolagemArqCopiar_->setFrameShape(QFrame::NoFrame);
    rolagemArqCopiar_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rolagemArqCopiar_->setWidgetResizable(true);
    rolagemArqCopiar_->setBackgroundRole(QPalette::Base);
    lblArqCopiar_ = new QLabel(textoDaTela(TextoAguardeLista));
    lblArqCopiar_->setObjectName("lblArqCopiar");
    rolagemArqCopiar_->setWidget(lblArqCopiar_);
    lblArqCopiar_->setFont(fontePx("Verdana", 11));
    lblArqCopiar_->setTextFormat(Qt::PlainText);
    lblArqCopiar_->setWordWrap(true);
    lblArqCopiar_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    gagArqCopiar_ = criarMedidor(pnlArqCopiar_, "gagArqCopiar", QRect(40, 56, 298, 16));
    // What came of the listed size on one line, the speed and the time left
    // on the next, beside the gauge.
    lblEstimativa_ = new QLabel(pnlArqCopiar_);
    lblEstimativa_->setObjectName("lblEstimativaDownload");
    lblEstimativa_->setGeometry(346, 50, 163, 28);
    lblEstimativa_->setFont(fontePx("Verdana", 10));
    lblEstimativa_->setTextFormat(Qt::PlainText);
    lblEstimativa_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    definirCorTexto(lblEstimativa_, cor::TextoOpcao);
    lblEstimativa_->hide();
    pnlArqCopiar_->hide();
}

void FileListPage::aoEntrar()
{
    pnlArqCopiar_->hide();
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Concluir, Botao::Sair});
    janela_.definirConcluir("&Baixar", 75);
    grade_->setFocus();
}

void FileListPage::recarregar()
{
    grade_->recarregar();
}

void FileListPage::mostrarTexto(const QString& texto, const QColor& cor, bool negrito)
{
    definirCorTexto(lblArqCopiar_, cor);
    lblArqCopiar_->setFont(fontePx("Verdana", 11, negrito));
    lblArqCopiar_->setText(texto);
    lblArqCopiar_->setToolTip(texto);
    const int altura = std::clamp(lblArqCopiar_->heightForWidth(LarguraTexto), AlturaTexto, AlturaTextoMaxima);
    rolagemArqCopiar_->resize(LarguraTexto, altura);
    rolagemArqCopiar_->raise();
    gagArqCopiar_->setVisible(altura <= AlturaTexto + 8);
    lblEstimativa_->setVisible(gagArqCopiar_->isVisible() && !lblEstimativa_->text().isEmpty());
}

void FileListPage::aoConcluir(bool&)
{
    pnlArqCopiar_->show();
    mostrarTexto(lblArqCopiar_->text(), Qt::black, false);
    try {
        baixar();
    } catch (const std::exception& e) {
        imgArqCopiar_->setPixmap(pixmapIcone(Icone::Erro));
        mostrarTexto(textoDaTela(e.what()), cor::Erro, true);
        janela_.definirConcluir("&Baixar", 120);
        janela_.mostrarBotoes({Botao::Inicio, Botao::Concluir, Botao::Sair});
        return;
    }
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Concluir, Botao::Sair});
}

void FileListPage::baixar()
{
    janela_.mostrarBotoes({Botao::Inicio, Botao::Sair});
    dataset::ListTable& tabela = janela_.tabelaLista();
    const std::size_t linha = tabela.current();
    app::RowDownload download(tabela, linha);
    estimativa_.reset();
    lblEstimativa_->clear();
    lblEstimativa_->hide();
    {
        OperacaoEmCurso operacao(janela_, Transferencia::Download);
        download.fetch(janela_.canal());
    }
    // The dialog proposes the name the file has in temp/, so that a listed
    // name with directories in it cannot point the dialog elsewhere.
    bool substituir = false;
    const fs::path destino = escolherDestino(QString::fromStdString(download.localName()), substituir);
    if (destino.empty()) {
        download.discard();
        // "Arquivo LIBERADO." no longer holds: the file is gone.
        imgArqCopiar_->setPixmap(pixmapIcone(Icone::Vazio));
        gagArqCopiar_->setValue(0);
        lblEstimativa_->clear();
        mostrarTexto(MsgArquivoNaoSalvo, Qt::black, false);
        return;
    }
    const fs::path guardado = download.keep(destino, substituir);
    ultimaPasta_ = QFileInfo(QString::fromStdString(guardado.string())).absolutePath();
    lembrarPasta(pastas::SalvarDownload, QString::fromStdString(guardado.string()));
    grade_->modelo()->atualizarLinha(static_cast<int>(linha));
    platform::ui().showMessage(app::textoArquivoCopiado(guardado.string()), platform::MessageKind::Information);
}

fs::path FileListPage::escolherDestino(const QString& nome, bool& substituir)
{
    QString proposta = QDir(ultimaPasta_).filePath(nome);
    for (;;) {
        const QString escolhido = FileDialog::instance().getSaveFileName(
            window(), "Salvar como", proposta, QString(), QFileDialog::DontConfirmOverwrite);
        if (escolhido.isEmpty()) {
            return {};
        }
        // Asked again (the file exists and is not to be replaced), the dialog
        // opens where the user was, with the name they chose.
        proposta = escolhido;
        const fs::path destino = fs::absolute(fs::u8path(escolhido.toStdString()));
        if (!fs::exists(destino)) {
            substituir = false;
            return destino;
        }
        if (fs::is_regular_file(destino) &&
            platform::ui().showMessage("O arquivo \"" + destino.string() + "\" já existe. Deseja substituí-lo?",
                                       platform::MessageKind::Question)) {
            substituir = true;
            return destino;
        }
    }
}

void FileListPage::aoTransferir(std::int64_t feitos, std::int64_t total)
{
    if (estimativa_.update(feitos, total)) {
        const std::string taxa = estimativa_.rateText();
        lblEstimativa_->setText(QString::fromStdString(estimativa_.amountText() + (taxa.empty() ? "" : "\n" + taxa)));
        lblEstimativa_->setVisible(gagArqCopiar_->isVisible());
    }
    // Between the progress reports, too, the window repaints and the close box answers.
    platform::ui().processEvents();
}

void FileListPage::aoProgressoDownload(const channel::TStatusDownload& status)
{
    imgArqCopiar_->setPixmap(pixmapIcone(status.PercentFeito == 100 ? Icone::Feito : Icone::Processando));
    gagArqCopiar_->setValue(std::clamp(status.PercentFeito, 0, 100));
    mostrarTexto(textoDaTela(status.TextoInfo), lblArqCopiar_->palette().color(QPalette::WindowText), false);
    platform::ui().processEvents();
}

}  // namespace vek::ui
