#pragma once

#include "ui/WizardPage.h"

class QLabel;
class QLineEdit;

namespace vek::ui {

// pgAlteraSenha: the new password, handed with the registry number and the
// current password of the access page to the channel's password change,
// which shows the outcome itself. An accepted change makes the new password
// the run's password.
class PasswordPage : public WizardPage
{
    Q_OBJECT

public:
    explicit PasswordPage(TfrmPrincipal& janela);

    void aoEntrar() override;
    void aoAnterior(bool& parar) override;
    void aoConcluir(bool& parar) override;

private:
    QLineEdit* txtNovaSenha_ = nullptr;
    QLabel* pnlInfNovaSenha_ = nullptr;
};

}  // namespace vek::ui
