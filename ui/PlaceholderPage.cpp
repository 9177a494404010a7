#include "ui/PlaceholderPage.h"

#include <utility>

namespace vek::ui {

PlaceholderPage::PlaceholderPage(
    TfrmPrincipal& janela, const char* nome, int numero, const QString& titulo, Navegacao navegacao)
    : WizardPage(janela, nome, numero, titulo)
    , navegacao_(std::move(navegacao))
{}

void PlaceholderPage::aoEntrar()
{
    janela_.mostrarBotoes(navegacao_.botoes);
    if (!navegacao_.legendaConcluir.isEmpty()) {
        janela_.definirConcluir(navegacao_.legendaConcluir, navegacao_.larguraConcluir);
    }
}

void PlaceholderPage::aoAnterior(bool& parar)
{
    if (navegacao_.anteriorVaiPara) {
        parar = true;
        janela_.irPara(*navegacao_.anteriorVaiPara);
    }
}

}  // namespace vek::ui
