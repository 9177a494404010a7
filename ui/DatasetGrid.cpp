#include "ui/DatasetGrid.h"

#include "dataset/Table.h"
#include "ui/Appearance.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <variant>

namespace vek::ui {

namespace {

// A check box centred in its cell, which the user cannot toggle.
class DelegadoCaixa : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override
    {
        return false;
    }

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

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return {13, GradeTabela::AlturaLinha - 1};
    }
};

// Lays `texto` out `largura` pixels wide; returns the height of its lines.
qreal disporTexto(QTextLayout& layout, int largura, Qt::Alignment alinhamento)
{
    QTextOption opcao(alinhamento & Qt::AlignHorizontal_Mask);
    opcao.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(opcao);
    layout.beginLayout();
    qreal altura = 0;
    for (QTextLine linha = layout.createLine(); linha.isValid(); linha = layout.createLine()) {
        linha.setLineWidth(std::max(largura, 1));
        linha.setPosition(QPointF(0, altura));
        altura += linha.height();
    }
    layout.endLayout();
    return altura;
}

// Line breaks of any kind start a new line of the cell.
QString textoDaCelula(const QModelIndex& index)
{
    QString texto = index.data(Qt::DisplayRole).toString();
    texto.replace("\r\n", "\n").replace('\r', '\n').replace('\n', QChar::LineSeparator);
    return texto;
}

// Text that wraps inside its cell: at word boundaries, and anywhere in a
// word longer than the cell. The row grows to show it whole.
class DelegadoTexto : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem fundo = option;
        initStyleOption(&fundo, index);
        fundo.text.clear();
        QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &fundo, painter, option.widget);

        const QRect area = option.rect.adjusted(GradeTabela::MargemTexto, 1, -GradeTabela::MargemTexto, -1);
        QTextLayout layout(textoDaCelula(index), option.font);
        const Qt::Alignment alinhamento = fundo.displayAlignment;
        const qreal altura = disporTexto(layout, area.width(), alinhamento);
        // One line sits in the middle of its row; more start at the top.
        const qreal topo = area.top() + std::max<qreal>(0, (area.height() - altura) / 2);
        const QPalette::ColorGroup grupo = option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        painter->save();
        painter->setClipRect(option.rect);
        painter->setPen(option.palette.color(
            grupo, option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        layout.draw(painter, QPointF(area.left(), topo));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString texto = textoDaCelula(index);
        const int largura = option.rect.width() - 2 * GradeTabela::MargemTexto;
        const int altura = alturaTextoQuebrado(option.font, texto, largura);
        return {QFontMetrics(option.font).horizontalAdvance(texto) + 2 * GradeTabela::MargemTexto, altura + 2};
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

int alturaTextoQuebrado(const QFont& fonte, const QString& texto, int largura)
{
    QString linhas = texto;
    linhas.replace("\r\n", "\n").replace('\r', '\n').replace('\n', QChar::LineSeparator);
    QTextLayout layout(linhas, fonte);
    return static_cast<int>(std::ceil(disporTexto(layout, largura, Qt::AlignLeft)));
}

std::vector<int> larguraColunasAjustada(const std::vector<int>& larguras, const std::vector<int>& minimas, int total)
{
    std::vector<int> out = larguras;
    if (out.empty()) {
        return out;
    }
    const int soma = std::accumulate(larguras.begin(), larguras.end(), 0);
    if (soma <= total) {
        out.back() += total - soma;
        return out;
    }
    // Columns held at their minimum give up no more; the others share what
    // is left in proportion to their widths.
    std::vector<bool> fixa(larguras.size(), false);
    for (;;) {
        int livre = total;
        int somaLivres = 0;
        for (std::size_t i = 0; i < larguras.size(); ++i) {
            if (fixa[i]) {
                livre -= minimas[i];
            } else {
                somaLivres += larguras[i];
            }
        }
        bool mudou = false;
        for (std::size_t i = 0; i < larguras.size(); ++i) {
            if (!fixa[i] && (somaLivres <= 0 || static_cast<double>(larguras[i]) * livre / somaLivres < minimas[i])) {
                fixa[i] = true;
                mudou = true;
            }
        }
        if (mudou) {
            continue;
        }
        // Whole pixels; what rounding leaves over goes, a pixel each, to the
        // shares that lost the most.
        std::vector<std::pair<double, std::size_t>> restos;
        int usado = 0;
        for (std::size_t i = 0; i < larguras.size(); ++i) {
            if (fixa[i]) {
                out[i] = minimas[i];
            } else {
                const double parte = static_cast<double>(larguras[i]) * livre / somaLivres;
                out[i] = static_cast<int>(parte);
                restos.emplace_back(parte - out[i], i);
            }
            usado += out[i];
        }
        std::stable_sort(restos.begin(), restos.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (std::size_t k = 0; usado < total && k < restos.size(); ++k, ++usado) {
            ++out[restos[k].second];
        }
        return out;
    }
}

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
    case Qt::AccessibleTextRole:
        if (booleano(index.column())) {
            return tabela_.asBoolean(linha, coluna.campo) ? QString("Sim") : QString("Não");
        }
        return {};
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
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    // A check box is read as checkable; the delegate lets no one toggle it.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable |
           (booleano(index.column()) ? Qt::ItemIsUserCheckable : Qt::NoItemFlags);
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
    // Measures a cell's wrapped text at its column's width.
    setWordWrap(true);
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
    verticalHeader()->setMinimumSectionSize(AlturaLinha);
    verticalHeader()->setDefaultSectionSize(AlturaLinha);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* titulos = horizontalHeader();
    titulos->setFixedHeight(17);
    titulos->setSectionResizeMode(QHeaderView::Interactive);
    titulos->setHighlightSections(false);
    titulos->setStyleSheet("QHeaderView::section { background: #6C8F01; color: white; font-family: Tahoma;"
                           " font-size: 11px; font-weight: bold; border: 0; border-right: 1px solid #4E6801;"
                           " padding: 0 1px; }");
    auto* texto = new DelegadoTexto(this);
    for (int i = 0; i < modelo_->columnCount(); ++i) {
        if (tabela.fields()[tabela.fieldIndex(modelo_->colunas()[i].campo)].type == dataset::FieldType::Boolean) {
            setItemDelegateForColumn(i, new DelegadoCaixa(this));
        } else {
            setItemDelegateForColumn(i, texto);
        }
    }
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ajustarColunas();
    // The width left for the columns changes when the vertical scroll bar comes or goes.
    viewport()->installEventFilter(this);
    // A column the user widens or narrows rewraps its text.
    connect(titulos, &QHeaderView::sectionResized, this, [this] {
        if (!ajustando_) {
            ajustarLinhas();
        }
    });

    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& atual) {
        if (atual.isValid()) {
            tabela_.setCurrent(static_cast<std::size_t>(atual.row()));
        }
    });
}

bool GradeTabela::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport() && event->type() == QEvent::Resize) {
        ajustarColunas();
    }
    return QTableView::eventFilter(watched, event);
}

void GradeTabela::ajustarColunas()
{
    // Every column keeps room for its whole title.
    const QFontMetrics titulo(fontePx("Tahoma", 11, true));
    std::vector<int> larguras;
    std::vector<int> minimas;
    for (int i = 0; i < modelo_->columnCount(); ++i) {
        larguras.push_back(modelo_->colunas()[i].largura);
        minimas.push_back(titulo.horizontalAdvance(modelo_->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString()) +
                          2 * MargemTexto);
    }
    const std::vector<int> ajustadas = larguraColunasAjustada(larguras, minimas, viewport()->width());
    ajustando_ = true;
    for (int i = 0; i < modelo_->columnCount(); ++i) {
        setColumnWidth(i, ajustadas[i]);
    }
    ajustando_ = false;
    ajustarLinhas();
}

void GradeTabela::ajustarLinhas()
{
    for (int linha = 0; linha < modelo_->rowCount(); ++linha) {
        setRowHeight(linha, std::max(AlturaLinha, sizeHintForRow(linha)));
    }
}

void GradeTabela::recarregar()
{
    modelo_->recarregar();
    ajustarLinhas();
    if (modelo_->rowCount() > 0) {
        selectRow(0);
        setCurrentIndex(modelo_->index(0, 0));
    }
    scrollToTop();
}

}  // namespace vek::ui
