#pragma once

#include "ui/WizardPage.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace vek::ui {

// pgAcesso: registry number, password and the choice of function.
class AccessPage : public WizardPage
{
    Q_OBJECT

public:
    explicit AccessPage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoProximo(bool& parar) override;

    void focarRegistro();
    void definirSenha(const QString& senha);

private:
    QLineEdit* txtRegZEB_ = nullptr;
    QLineEdit* txtSenha_ = nullptr;
    QRadioButton* rdbEnviar_ = nullptr;
    QRadioButton* rdbReceber_ = nullptr;
    QRadioButton* rdbHistorico_ = nullptr;
    QRadioButton* rdbAlterarSenha_ = nullptr;
    QLabel* pnlAcesso_ = nullptr;
};

}  // namespace vek::ui
