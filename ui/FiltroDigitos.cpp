#include "ui/FiltroDigitos.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QValidator>

namespace vek::ui {

namespace {

// What the key filter and the paste do not see (a drop, the X11 selection
// pasted with the middle button, an input method) still passes here: the
// refused characters are taken out and the cursor kept after what was put in.
class Validador : public QValidator
{
public:
    Validador(QObject* parent, const FiltroDigitos& filtro)
        : QValidator(parent)
        , filtro_(filtro)
    {}

    State validate(QString& texto, int& pos) const override
    {
        const QString antes = filtro_.filtrar(texto.left(pos));
        texto = antes + filtro_.filtrar(texto.mid(pos));
        pos = static_cast<int>(antes.size());
        return Acceptable;
    }

private:
    const FiltroDigitos& filtro_;
};

// The paste entry of a line edit's standard menu: newer Qt versions name it
// "edit-paste"; older ones (Debian 12's 6.4) only give it its translated
// caption, which may end in the shortcut after a tab.
QAction* acaoColar(const QMenu& menu)
{
    if (auto* acao = menu.findChild<QAction*>("edit-paste")) {
        return acao;
    }
    const QString legenda = QCoreApplication::translate("QLineEdit", "&Paste");
    for (QAction* acao : menu.actions()) {
        if (acao->text() == legenda || acao->text().startsWith(legenda + '\t')) {
            acao->setObjectName("edit-paste");
            return acao;
        }
    }
    return nullptr;
}

}  // namespace

FiltroDigitos::FiltroDigitos(QLineEdit* campo, Aceito aceito)
    : QObject(campo)
    , campo_(campo)
    , aceito_(aceito)
{}

FiltroDigitos* FiltroDigitos::instalar(QLineEdit* campo, Aceito aceito)
{
    auto* filtro = new FiltroDigitos(campo, aceito);
    campo->installEventFilter(filtro);
    campo->setValidator(new Validador(filtro, *filtro));
    return filtro;
}

QString FiltroDigitos::filtrar(const QString& texto) const
{
    QString aceitos;
    for (const char32_t c : texto.toUcs4()) {
        if (aceito_(c)) {
            aceitos.append(QString::fromUcs4(&c, 1));
        }
    }
    return aceitos;
}

void FiltroDigitos::colar()
{
    if (campo_->isReadOnly()) {
        return;
    }
    // Nothing to put in leaves a selection as it is, as a refused key does.
    const QString texto = filtrar(QGuiApplication::clipboard()->text());
    if (!texto.isEmpty()) {
        campo_->insert(texto);
    }
}

bool FiltroDigitos::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != campo_) {
        return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        auto* tecla = static_cast<QKeyEvent*>(event);
        // Filtered here rather than by the field's length limit after the
        // whole clipboard went in: "123.456" pastes as 123456.
        if (tecla->matches(QKeySequence::Paste)) {
            colar();
            tecla->accept();
            return true;
        }
        // A shortcut is no character typed into the field, whatever text the
        // platform gives it (Ctrl+A carries "a" on some, U+0001 on others);
        // what one might still insert is taken out by the validator.
        if ((tecla->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0) {
            return QObject::eventFilter(watched, event);
        }
        for (const char32_t c : tecla->text().toUcs4()) {
            if (QChar::isPrint(c) && !aceito_(c)) {
                return true;
            }
        }
    } else if (event->type() == QEvent::ContextMenu) {
        auto* pedido = static_cast<QContextMenuEvent*>(event);
        QMenu* menu = campo_->createStandardContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        if (QAction* acao = acaoColar(*menu)) {
            disconnect(acao, &QAction::triggered, nullptr, nullptr);
            connect(acao, &QAction::triggered, this, &FiltroDigitos::colar);
        }
        menu->popup(pedido->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vek::ui
