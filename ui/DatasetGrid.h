#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>

#include <string_view>
#include <vector>

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

// The grid of the list and history pages: whole-row selection that stays
// visible, column titles on a green row, column lines, alternate row colour,
// resizable columns. The current row is the table's current record.
class GradeTabela : public QTableView
{
    Q_OBJECT

public:
    GradeTabela(QWidget* parent, dataset::Table& tabela, std::vector<ColunaGrade> colunas);

    ModeloTabela* modelo() const { return modelo_; }
    // Shows the table's records again, from the first.
    void recarregar();

private:
    dataset::Table& tabela_;
    ModeloTabela* modelo_ = nullptr;
};

}  // namespace vek::ui
