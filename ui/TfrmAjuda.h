#pragma once

#include <QDialog>

namespace vek::ui {

// The help window: modal, the main window's size, caption "Ajuda". Its
// pages come with the help content; a "sair" link closes it.
class TfrmAjuda : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAjuda(QWidget* parent = nullptr);
};

}  // namespace vek::ui
