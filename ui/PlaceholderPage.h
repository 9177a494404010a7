#pragma once

#include "ui/TfrmPrincipal.h"
#include "ui/WizardPage.h"

#include <QString>

#include <optional>
#include <vector>

namespace vek::ui {

// A page whose function is not offered yet: the frame, its title, and the
// buttons and moves of its place in the wizard.
class PlaceholderPage : public WizardPage
{
    Q_OBJECT

public:
    struct Navegacao
    {
        std::vector<Botao> botoes;
        QString legendaConcluir;                // empty: the finish button keeps its caption
        std::optional<int> larguraConcluir;     // empty: it keeps its width
        std::optional<Pagina> anteriorVaiPara;  // empty: the previous page in order
    };

    PlaceholderPage(TfrmPrincipal& janela, const char* nome, int numero, const QString& titulo, Navegacao navegacao);

    void aoEntrar() override;
    void aoAnterior(bool& parar) override;

private:
    Navegacao navegacao_;
};

}  // namespace vek::ui
