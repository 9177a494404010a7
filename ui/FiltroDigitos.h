#pragma once

#include <QObject>

class QLineEdit;

namespace vek::ui {

// Keeps a line edit to the characters that `aceito` lets through, however
// the text arrives: typed, pasted (shortcut or context menu), dropped or
// composed by an input method. Only printable characters are filtered, so
// every editing key (Delete, Backspace, arrows, Home, End, the clipboard and
// undo shortcuts) works as in any line edit; on X11 several of them carry a
// control character as their text, Delete for one U+007F. Pasted text keeps
// its accepted characters in order, up to the field's length limit.
class FiltroDigitos : public QObject
{
    Q_OBJECT

public:
    using Aceito = bool (*)(char32_t);

    // Installs the filter on `campo`, which owns it.
    static FiltroDigitos* instalar(QLineEdit* campo, Aceito aceito);

    // `texto` without the characters that the field does not take.
    [[nodiscard]] QString filtrar(const QString& texto) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FiltroDigitos(QLineEdit* campo, Aceito aceito);
    void colar();

    QLineEdit* campo_;
    Aceito aceito_;
};

}  // namespace vek::ui
