#include "ui/DatasetGrid.h"

#include "dataset/Table.h"
#include "ui/Appearance.h"

#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QStyledItemDelegate>

#include <variant>

namespace vek::ui {

namespace {

// A check box centred in its cell, which the user cannot toggle.
class DelegadoCaixa : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem fundo = option;
        initStyleOption(&fundo, index);
        fundo.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        fundo.text.clear();
        QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &fundo, painter, option.widget);

        QStyleOptionButton caixa;
        const int lado = std::min(13, option.rect.height() - 2);
        caixa.rect = QRect(0, 0, lado, lado);
        caixa.rect.moveCenter(option.rect.center());
        caixa.state = QStyle::State_Enabled |
                      (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &caixa, painter, option.widget);
    }
};

QString textoDoValor(const dataset::Value& valor, const QString& textoTabela)
{
    if (std::holds_alternative<dataset::Decimal>(valor)) {
        QString texto = textoTabela;
        return texto.replace('.', QLocale().decimalPoint());
    }
    return textoTabela;
}

}  // namespace

ModeloTabela::ModeloTabela(const dataset::Table& tabela, std::vector<ColunaGrade> colunas, QObject* parent)
    : QAbstractTableModel(parent)
    , tabela_(tabela)
    , colunas_(std::move(colunas))
{}

int ModeloTabela::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(tabela_.recordCount());
}

int ModeloTabela::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(colunas_.size());
}

bool ModeloTabela::booleano(int coluna) const
{
    const auto& campo = tabela_.fields()[tabela_.fieldIndex(colunas_[coluna].campo)];
    return campo.type == dataset::FieldType::Boolean;
}

QVariant ModeloTabela::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    const auto linha = static_cast<std::size_t>(index.row());
    const ColunaGrade& coluna = colunas_[index.column()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (booleano(index.column())) {
            return {};
        }
        return textoDoValor(tabela_.value(linha, coluna.campo),
                            QString::fromStdString(tabela_.asText(linha, coluna.campo)));
    case Qt::CheckStateRole:
        if (booleano(index.column())) {
            return tabela_.asBoolean(linha, coluna.campo) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(coluna.alinhamento);
    default:
        return {};
    }
}

QVariant ModeloTabela::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const ColunaGrade& coluna = colunas_[section];
    if (role == Qt::DisplayRole) {
        if (!coluna.titulo.isEmpty()) {
            return coluna.titulo;
        }
        return QString::fromStdString(tabela_.fields()[tabela_.fieldIndex(coluna.campo)].label);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(coluna.alinhamento);
    }
    return {};
}

Qt::ItemFlags ModeloTabela::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void ModeloTabela::recarregar()
{
    beginResetModel();
    endResetModel();
}

void ModeloTabela::atualizarLinha(int linha)
{
    emit dataChanged(index(linha, 0), index(linha, columnCount() - 1));
}

GradeTabela::GradeTabela(QWidget* parent, dataset::Table& tabela, std::vector<ColunaGrade> colunas)
    : QTableView(parent)
    , tabela_(tabela)
{
    modelo_ = new ModeloTabela(tabela, std::move(colunas), this);
    setModel(modelo_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    // Rows are one line high; a long text ends in "..." and shows whole in its tooltip.
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    // A narrower face than the pages', so that a date and time fits the 110
    // pixels of its column.
    setFont(fontePx("Arial", 11));
    setAlternatingRowColors(true);
    setTabKeyNavigation(false);

    QPalette pal = palette();
    pal.setColor(QPalette::AlternateBase, QColor(0xDF, 0xEE, 0xDF));
    // The selected row stays marked when the grid loses the focus.
    for (const auto papel : {QPalette::Highlight, QPalette::HighlightedText}) {
        pal.setColor(QPalette::Inactive, papel, pal.color(QPalette::Active, papel));
    }
    setPalette(pal);

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(16);
    verticalHeader()->setDefaultSectionSize(16);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* titulos = horizontalHeader();
    titulos->setFixedHeight(17);
    titulos->setSectionResizeMode(QHeaderView::Interactive);
    titulos->setHighlightSections(false);
    titulos->setStyleSheet("QHeaderView::section { background: #6C8F01; color: white; font-family: Tahoma;"
                           " font-size: 11px; font-weight: bold; border: 0; border-right: 1px solid #4E6801;"
                           " padding: 0 1px; }");
    for (int i = 0; i < modelo_->columnCount(); ++i) {
        setColumnWidth(i, modelo_->colunas()[i].largura);
        if (tabela.fields()[tabela.fieldIndex(modelo_->colunas()[i].campo)].type == dataset::FieldType::Boolean) {
            setItemDelegateForColumn(i, new DelegadoCaixa(this));
        }
    }

    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& atual) {
        if (atual.isValid()) {
            tabela_.setCurrent(static_cast<std::size_t>(atual.row()));
        }
    });
}

void GradeTabela::recarregar()
{
    modelo_->recarregar();
    if (modelo_->rowCount() > 0) {
        selectRow(0);
        setCurrentIndex(modelo_->index(0, 0));
    }
    scrollToTop();
}

}  // namespace vek::ui
