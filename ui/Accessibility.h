#pragma once

#include <QColor>
#include <QFocusFrame>
#include <QString>

#include <functional>

class QAccessibleEvent;
class QApplication;
class QLabel;
class QWidget;

namespace vek::ui::acessibilidade {

// What assistive technology reads and where the keyboard goes, for the whole
// application: every window gets its names and keyboard reach when it first
// shows (tornarAcessivel), the main window is a frame named by its caption,
// and the control with the keyboard focus is ringed. Safe to call more than once.
void instalar(QApplication& app);

// Names and descriptions of the controls under `raiz` that show no caption
// of their own (gauges, grids, lists, the browse button, status icons),
// status icons and information texts that say when they change, and tool
// bars whose buttons the Tab key reaches. Safe to call more than once.
void tornarAcessivel(QWidget* raiz);

// Every announcement that the window makes (a changed step, text or link
// under the keyboard) also goes to `observador` when one is set; the
// platform's accessibility bridge gets it only while a screen reader listens.
using ObservadorDeAnuncios = std::function<void(QAccessibleEvent*)>;
void observarAnuncios(ObservadorDeAnuncios observador);

// The text a screen reader says for a status icon of a step: "waiting",
// "running", "done" or "failed", read from the icon shown.
QString estadoDoIcone(const QLabel* icone);

// The keyboard focus on the control of `pagina` that its state calls for:
// its first input while it can be changed, then the button that goes on.
void focarPagina(QWidget* pagina);
// After a button of the wizard: the focus as on entry when the page's state
// changed, else only where it was lost.
void focarAposBotao(QWidget* pagina, bool mudouEstado);
// The same as on entry, only when no visible and enabled control of the window holds it.
void garantirFoco(QWidget* pagina);

// The colour of the focus ring around `controle`: the title panel's dark
// teal on the window's light surfaces, white on its dark ones.
QColor corDoAnel(const QWidget* controle);

// Contrast ratio of two colours (1 to 21), as accessibility guidelines
// define it from their relative luminance.
double contraste(const QColor& a, const QColor& b);

// The ring drawn just outside the control that has the keyboard focus: two
// pixels in the ring's colour and, around them, one in the other of the
// window's two ring colours, so that it stands out on whatever lies around.
// Where the control reaches the edge of what holds it, the ring is drawn
// inside the control's edge as well.
class AnelDeFoco : public QFocusFrame
{
public:
    explicit AnelDeFoco(QWidget* parent);

    static constexpr int Espessura = 3;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vek::ui::acessibilidade
