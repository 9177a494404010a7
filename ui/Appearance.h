#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

#include <string>

class QApplication;
class QLabel;
class QWidget;

namespace vek::ui {

// Colours of the window.
namespace cor {
inline const QColor Coluna{0xC0, 0xDC, 0xC0};       // watermark column
inline const QColor Titulo{0x00, 0x64, 0x6E};       // title panel
inline const QColor Faixa{0x73, 0x9F, 0x35};        // strip under the title, version label
inline const QColor Entrada{0xD3, 0xE0, 0xBC};      // input panels
inline const QColor Informacao{0xDD, 0xDD, 0xDD};   // information panels
inline const QColor TextoAcesso{0x00, 0x5E, 0x5E};  // access page texts
inline const QColor TextoOpcao{0x66, 0x66, 0x66};   // choices, step labels
inline const QColor Erro{0xFF, 0x00, 0x00};         // failures
inline const QColor Medidor{0xCC, 0xCC, 0xCC};      // gauge fill
}  // namespace cor

// The short date format of every date the window reads or writes.
inline constexpr const char* FormatoDataCurta = "dd/MM/yyyy";

// Application-wide set-up: resources, font mapping (the receipt's, which the
// window shares), Qt's own texts in Portuguese, style, default font (Verdana
// 12 px), title. Safe to call more than once.
void configurarAplicacao(QApplication& app);

// A text from the core for a label, its line breaks as app::screenText has them.
QString textoDaTela(const std::string& texto);

// A font by the window's family name (as above) with a pixel size.
QFont fontePx(const QString& familia, int pixels, bool negrito = false);

// The artwork.
enum class Icone
{
    Vazio,
    Processando,
    Feito,
    Erro,
};
QPixmap pixmapIcone(Icone icone);
QPixmap pixmapTitulo();
QPixmap pixmapLinha();
QPixmap pixmapMarcaDagua();
QPixmap pixmapIconePrograma();

// Widgets the pages share.
QWidget* criarPainel(QWidget* parent, const QRect& geometria, const QColor& fundo);
QLabel* criarRotulo(QWidget* parent, const QString& texto, const QPoint& posicao, const QFont& fonte = {});
// A grey multi-line information panel, hidden until used.
QLabel* criarPainelInformacao(QWidget* parent, const char* nome, const QRect& geometria);
void definirCorTexto(QWidget* widget, const QColor& cor);

}  // namespace vek::ui
