#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>

#include <string_view>
#include <vector>

class QEvent;

namespace vek::dataset {
class Table;
}

namespace vek::ui {

// One column of a grid over a dataset table.
struct ColunaGrade
{
    std::string_view campo;
    QString titulo;  // empty: the field's display label
    int largura = 64;
    Qt::Alignment alinhamento = Qt::AlignLeft | Qt::AlignVCenter;
};

// The table's records as rows, read-only. A boolean field shows as a check
// box; timestamps as "dd/mm/yyyy hh:nn:ss"; decimals without thousands
// separators, with the locale's decimal point.
class ModeloTabela : public QAbstractTableModel
{
    Q_OBJECT

public:
    ModeloTabela(const dataset::Table& tabela, std::vector<ColunaGrade> colunas, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    [[nodiscard]] const std::vector<ColunaGrade>& colunas() const { return colunas_; }
    // The table was loaded again.
    void recarregar();
    // A record's computed fields may have changed.
    void atualizarLinha(int linha);

private:
    [[nodiscard]] bool booleano(int coluna) const;

    const dataset::Table& tabela_;
    std::vector<ColunaGrade> colunas_;
};

// The columns' widths for a grid `total` pixels wide: the given widths when
// they fit, the last column taking the rest; otherwise each shrinks in
// proportion to its width, but none below its minimum. The widths add up to
// `total` unless the minimums alone are wider.
std::vector<int> larguraColunasAjustada(const std::vector<int>& larguras, const std::vector<int>& minimas, int total);

// The height of `texto` laid out `largura` pixels wide, wrapped at word
// boundaries and, for a word longer than the width, anywhere.
int alturaTextoQuebrado(const QFont& fonte, const QString& texto, int largura);

// The grid of the list and history pages: whole-row selection that stays
// visible, column titles on a green row, column lines, alternate row colour,
// resizable columns that start out filling the grid's width (none narrower
// than its title), text that wraps, and rows at least 16 pixels high that
// grow to show their text whole. The current row is the table's current record.
class GradeTabela : public QTableView
{
    Q_OBJECT

public:
    GradeTabela(QWidget* parent, dataset::Table& tabela, std::vector<ColunaGrade> colunas);

    ModeloTabela* modelo() const { return modelo_; }
    // Shows the table's records again, from the first.
    void recarregar();
    // Fits the columns to the grid's width again, then the rows to their text.
    void ajustarColunas();
    // Each row as high as its tallest cell's text, and at least AlturaLinha.
    void ajustarLinhas();

    // Pixels between a cell's border and its text, on each side.
    static constexpr int MargemTexto = 3;
    static constexpr int AlturaLinha = 16;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    dataset::Table& tabela_;
    ModeloTabela* modelo_ = nullptr;
    bool ajustando_ = false;
};

}  // namespace vek::ui
