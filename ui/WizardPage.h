#pragma once

#include <QWidget>

class QLabel;

namespace vek::ui {

class TfrmPrincipal;

// One page of the wizard with the frame every page shares: the watermark
// column, the title picture, the version label, the title panel over its
// strip and the line above the button bar.
class WizardPage : public QWidget
{
    Q_OBJECT

public:
    WizardPage(TfrmPrincipal& janela, const char* nome, int numero, const QString& titulo);

    // Handlers; a button handler sets `parar` to skip the button's default move.
    virtual void aoEntrar();
    virtual void aoProximo(bool& parar);
    virtual void aoAnterior(bool& parar);
    virtual void aoConcluir(bool& parar);

    [[nodiscard]] QString titulo() const;

protected:
    TfrmPrincipal& janela_;

private:
    QLabel* titulo_ = nullptr;
};

}  // namespace vek::ui
