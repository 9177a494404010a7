#include "ui/TfrmAjuda.h"

#include <QTextBrowser>

namespace vek::ui {

TfrmAjuda::TfrmAjuda(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint)
{
    setObjectName("TfrmAjuda");
    setWindowTitle("Ajuda");
    setFixedSize(691, 493);
    auto* navegador = new QTextBrowser(this);
    navegador->setObjectName("ajudaBrowser");
    navegador->setGeometry(rect());
    navegador->setOpenLinks(false);
    navegador->setHtml("<p align=right><a href=\"sair\">sair</a></p>");
    connect(navegador, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.toString() == "sair") {
            accept();
        }
    });
}

}  // namespace vek::ui
