#pragma once

#include "app/Receipt.h"

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QPainter;
class QPrinter;
class QWidget;

namespace vek::ui {

// The transmission receipt in the window: its values, the print preview and
// PDF files, all drawn by the receipt's one drawing that vek-cli uses too.
class TqrpRecibo : public QObject
{
    Q_OBJECT

public:
    struct Valores
    {
        QString protocolo;  // the protocol line
        QString operadora;
        QString arquivo;  // without directories
        QString dataRecebimento;
        QString informacoes;
        QString enderecoIP;
        QString autenticacao;
    };

    explicit TqrpRecibo(QWidget* dono);

    // Sets the seven values (the file name loses its directories) and opens
    // the print preview beside the owner's window; returns when the user has
    // closed it.
    void preencher(const QString& protocolo,
                   const QString& operadora,
                   const QString& arquivo,
                   const QString& dataRecebimento,
                   const QString& informacoes,
                   const QString& enderecoIP,
                   const QString& autenticacao);

    // The values of a receipt as the core gives them.
    static Valores valoresDe(const app::ValoresRecibo& valores);

    void definirValores(const Valores& valores);
    [[nodiscard]] const Valores& valores() const { return valores_; }

    // Draws the page on a painter whose origin is the printable area's top
    // left corner, on a device of `dpi` dots per inch.
    void desenhar(QPainter& painter, qreal dpi) const;

    // Writes the page to a PDF file; false when it could not be written.
    bool salvarPdf(const QString& caminho) const;

    // The print preview beside the owner's window, with "Salvar como PDF"
    // beside the printer; a saved file is confirmed with where it went, and
    // so is a print that went to a file.
    void visualizar();

    // Where the preview must fit; the free area of the owner's screen unless set.
    void definirAreaDaTela(const QRect& area) { areaDaTela_ = area; }

    // After the print dialog was accepted: a printer that wrote to a file
    // says where the file went (or that it could not be written).
    static void informarSeImpressoEmArquivo(const QPrinter& impressora);

private:
    [[nodiscard]] app::ValoresRecibo valoresDoRecibo() const;

    QWidget* dono_;
    Valores valores_;
    std::optional<QRect> areaDaTela_;
};

// The narrowest preview: narrower than its toolbar wishes (which then folds
// behind its extension button, printing and saving first), so that it fits
// beside the main window on a 1366 x 768 screen.
inline constexpr int LarguraMinimaPrevia = 300;

// Where a window of about `tamanho` goes beside `janela` (frames, in screen
// coordinates) on a screen whose free area is `area`: on the side with room
// for it (the right when both have), at the window's height, as wide as that
// side allows but not narrower than `larguraMinima`, and always on the screen.
// Without room on either side it stands at the screen's edge on the roomier
// side, covering as little of the window as it can.
QRect geometriaAoLado(const QRect& janela, const QRect& area, const QSize& tamanho, int larguraMinima);

}  // namespace vek::ui
