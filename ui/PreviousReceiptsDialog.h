#pragma once

#include <QDialog>

#include <filesystem>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vek::ui {

// "Recibos anteriores": the transmission records of the base directory's
// Protocolos folder, newest first, from which the user opens an earlier
// upload's receipt in the print preview (to print it or save it as PDF); a
// record from elsewhere can be opened too. A failed upload's record says it
// has no receipt.
class PreviousReceiptsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PreviousReceiptsDialog(QWidget* parent = nullptr);

    // Lists the records again.
    void recarregar();
    // The receipt of one record in the print preview; a record without a
    // receipt, or one that cannot be read, is told in a message instead.
    void visualizar(const std::filesystem::path& registro);

    [[nodiscard]] QTreeWidget* lista() const { return lista_; }

private:
    void visualizarSelecionado();
    void abrirOutro();
    void mostrarSituacao();

    std::filesystem::path pasta_;
    QTreeWidget* lista_ = nullptr;
    QLabel* situacao_ = nullptr;
    QPushButton* visualizar_ = nullptr;
};

}  // namespace vek::ui
