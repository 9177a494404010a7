#include "ui/PreviousReceiptsDialog.h"

#include "app/Receipt.h"
#include "dataset/TransmissionRecord.h"
#include "platform/BaseDir.h"
#include "platform/UiServices.h"
#include "ui/FileDialog.h"
#include "ui/PastasLembradas.h"
#include "ui/TqrpRecibo.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

namespace vek::ui {

namespace {

namespace fs = std::filesystem;

enum Coluna
{
    ColunaData,
    ColunaProtocolo,
    ColunaArquivo,
    ColunaRegistro,
};

constexpr int PapelCaminho = Qt::UserRole;
constexpr int PapelSituacao = Qt::UserRole + 1;

constexpr const char* TextoSemRecibo = "sem recibo (envio não concluído)";
constexpr const char* TextoDanificado = "registro ilegível";

QString q(const std::string& texto)
{
    return QString::fromStdString(texto);
}

}  // namespace

PreviousReceiptsDialog::PreviousReceiptsDialog(QWidget* parent)
    : QDialog(parent)
    , pasta_(platform::baseDir() / "Protocolos")
{
    setObjectName("recibosAnterioresDialog");
    setWindowTitle("Recibos anteriores");
    resize(660, 380);

    auto* explicacao = new QLabel("Escolha o registro de um envio para ver, imprimir ou salvar em PDF o seu recibo.");
    explicacao->setWordWrap(true);

    lista_ = new QTreeWidget;
    lista_->setObjectName("registrosTree");
    lista_->setRootIsDecorated(false);
    lista_->setAllColumnsShowFocus(true);
    lista_->setHeaderLabels({"Recebido em", "Protocolo", "Arquivo enviado", "Registro"});
    lista_->header()->setStretchLastSection(true);

    situacao_ = new QLabel;
    situacao_->setObjectName("situacaoLabel");
    situacao_->setWordWrap(true);
    situacao_->setTextFormat(Qt::PlainText);

    visualizar_ = new QPushButton("&Visualizar recibo");
    visualizar_->setObjectName("visualizarButton");
    visualizar_->setDefault(true);
    auto* outro = new QPushButton("&Outro registro...");
    outro->setObjectName("outroRegistroButton");
    auto* fechar = new QPushButton("&Fechar");
    fechar->setObjectName("fecharButton");

    auto* botoes = new QHBoxLayout;
    botoes->addWidget(outro);
    botoes->addStretch();
    botoes->addWidget(visualizar_);
    botoes->addWidget(fechar);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explicacao);
    layout->addWidget(lista_, 1);
    layout->addWidget(situacao_);
    layout->addLayout(botoes);

    connect(lista_, &QTreeWidget::currentItemChanged, this, [this] { mostrarSituacao(); });
    connect(lista_, &QTreeWidget::itemActivated, this, [this] { visualizarSelecionado(); });
    connect(visualizar_, &QPushButton::clicked, this, [this] { visualizarSelecionado(); });
    connect(outro, &QPushButton::clicked, this, [this] { abrirOutro(); });
    connect(fechar, &QPushButton::clicked, this, &QDialog::accept);

    recarregar();
}

void PreviousReceiptsDialog::recarregar()
{
    lista_->clear();
    struct Entrada
    {
        fs::path caminho;
        fs::file_time_type quando;
    };
    std::vector<Entrada> entradas;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(pasta_, ec)) {
        std::error_code tipo;
        if (!e.is_regular_file(tipo) || e.path().extension() != ".xml") {
            continue;
        }
        entradas.push_back({e.path(), e.last_write_time(tipo)});
    }
    std::sort(entradas.begin(), entradas.end(), [](const Entrada& a, const Entrada& b) {
        return a.quando != b.quando ? a.quando > b.quando : a.caminho > b.caminho;
    });
    for (const Entrada& e : entradas) {
        auto* item = new QTreeWidgetItem(lista_);
        item->setText(ColunaRegistro, q(e.caminho.filename().string()));
        item->setData(ColunaData, PapelCaminho, q(e.caminho.string()));
        try {
            const dataset::RegistroTransmissao r = dataset::lerRegistroTransmissao(e.caminho);
            const bool temRecibo = app::reciboDoRegistro(r).has_value();
            item->setText(ColunaData, q(r.dataTransmissao));
            item->setText(ColunaProtocolo, temRecibo ? q(r.protocoloTX) : QString(TextoSemRecibo));
            item->setText(ColunaArquivo, q(fs::path(r.arquivo).filename().string()));
            item->setData(ColunaData, PapelSituacao, temRecibo ? QString() : QString(app::MsgRegistroSemRecibo));
        } catch (const std::exception& erro) {
            item->setText(ColunaProtocolo, TextoDanificado);
            item->setData(ColunaData, PapelSituacao, QString::fromStdString(erro.what()));
        }
    }
    for (int c = ColunaData; c < ColunaRegistro; ++c) {
        lista_->resizeColumnToContents(c);
    }
    if (lista_->topLevelItemCount() > 0) {
        lista_->setCurrentItem(lista_->topLevelItem(0));
    } else {
        situacao_->setText("Não há registros de transmissão em " + q(pasta_.string()) + ".");
    }
    mostrarSituacao();
}

void PreviousReceiptsDialog::mostrarSituacao()
{
    const QTreeWidgetItem* item = lista_->currentItem();
    visualizar_->setEnabled(item != nullptr);
    if (item != nullptr) {
        situacao_->setText(item->data(ColunaData, PapelSituacao).toString());
    }
}

void PreviousReceiptsDialog::visualizarSelecionado()
{
    if (const QTreeWidgetItem* item = lista_->currentItem()) {
        visualizar(item->data(ColunaData, PapelCaminho).toString().toStdString());
    }
}

void PreviousReceiptsDialog::abrirOutro()
{
    const QString escolhido =
        FileDialog::instance().getOpenFileName(this,
                                               "Abrir registro de transmissão",
                                               pastaLembrada(pastas::AbrirRegistro, q(pasta_.string())),
                                               "Registros de transmissão (*.xml)");
    if (!escolhido.isEmpty()) {
        lembrarPasta(pastas::AbrirRegistro, escolhido);
        visualizar(escolhido.toStdString());
    }
}

void PreviousReceiptsDialog::visualizar(const fs::path& registro)
{
    std::optional<app::ValoresRecibo> valores;
    try {
        valores = app::reciboParaImprimir(dataset::lerRegistroTransmissao(registro));
    } catch (const std::exception& erro) {
        platform::ui().showMessage(erro.what(), platform::MessageKind::Error);
        return;
    }
    if (!valores) {
        return;
    }
    TqrpRecibo recibo(this);
    recibo.definirValores(TqrpRecibo::valoresDe(*valores));
    recibo.visualizar();
}

}  // namespace vek::ui
