#include "ui/HistoryPage.h"

#include "app/HistoricoXlsx.h"
#include "dataset/FieldNames.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/PastasLembradas.h"
#include "ui/TfrmPrincipal.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

namespace vek::ui {

namespace {

std::vector<ColunaGrade> colunasHistorico()
{
    namespace f = dataset::field;
    return {
        {f::DT_TRANSMISSAO, "Transmissão", 110},
        {f::NM_ARQUIVO, "Arquivo", 160},
        {f::CD_TIPO_ARQUIVO, "Tipo", 40},
        {f::CD_PROTOCOLO, "Protocolo", 180},
        {f::NM_STATUS_PROCESSAMENTO, "Status", 160},
        {f::QT_AVISOS, "Avisos", 80},
        {f::QT_ERROS, "Erros", 80},
    };
}

// The hourglass for a scope, also when it ends in an error.
struct Ampulheta
{
    Ampulheta() { platform::ui().setBusy(true); }
    ~Ampulheta() { platform::ui().setBusy(false); }
    Ampulheta(const Ampulheta&) = delete;
    Ampulheta& operator=(const Ampulheta&) = delete;
};

}  // namespace

HistoryPage::HistoryPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgHistoricoTransmissoes", 6, "Consulta de Histórico de Transmissões")
    , abrirPlanilha([](const QString& caminho) { return QDesktopServices::openUrl(QUrl::fromLocalFile(caminho)); })
{
    historicoGrid_ = new GradeTabela(this, janela.tabelaHistorico(), colunasHistorico());
    historicoGrid_->setObjectName("HistoricoGrid");
    historicoGrid_->setGeometry(176, 132, 509, 221);

    btnExportar_ = new QPushButton("E&xportar para Excel", this);
    btnExportar_->setObjectName("btnExportarExcel");
    btnExportar_->setGeometry(576, 356, 110, 25);
    // A size smaller than the bar's buttons, so that the caption fits its 110 pixels.
    btnExportar_->setFont(fontePx("Arial", 11));
    btnExportar_->setAutoDefault(false);
    connect(btnExportar_, &QPushButton::clicked, this, [this] {
        try {
            exportar();
        } catch (const std::exception& e) {
            TfrmPrincipal::mostrarErro(e);
        }
    });
}

void HistoryPage::aoEntrar()
{
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Sair});
}

void HistoryPage::recarregar()
{
    historicoGrid_->recarregar();
}

void HistoryPage::exportar()
{
    const QString pasta = pastaLembrada(pastas::ExportarHistorico, QDir::homePath());
    const QString caminho = FileDialog::instance().getSaveFileName(
        window(), "Exportar para Excel", QDir(pasta).filePath("Historico.xlsx"), "Pasta de trabalho (*.xlsx)");
    if (caminho.isEmpty()) {
        return;
    }
    bool aberta = false;
    {
        Ampulheta ampulheta;
        app::writeHistoryWorkbook(janela_.tabelaHistorico(), std::filesystem::u8path(caminho.toStdString()));
        lembrarPasta(pastas::ExportarHistorico, caminho);
        aberta = abrirPlanilha(caminho);
    }
    // The export succeeded: the workbook is there for the user to open.
    if (!aberta) {
        platform::ui().showMessage("A planilha foi gravada em \"" +
                                       QFileInfo(caminho).absoluteFilePath().toStdString() +
                                       "\", mas nenhum aplicativo de planilhas pôde abri-la.",
                                   platform::MessageKind::Information);
    }
}

}  // namespace vek::ui
