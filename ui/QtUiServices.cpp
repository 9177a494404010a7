#include "ui/QtUiServices.h"

#include "app/Text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace vek::ui {

QtUiServices::QtUiServices(std::chrono::milliseconds interval)
    : intervalMs_(interval.count())
{
    sinceLast_.start();
}

QtUiServices::~QtUiServices()
{
    while (busyDepth_ > 0) {
        setBusy(false);
    }
}

void QtUiServices::processEvents()
{
    if (sinceLast_.elapsed() < intervalMs_) {
        return;
    }
    QCoreApplication::processEvents();
    sinceLast_.restart();
}

bool QtUiServices::showMessage(const std::string& text, platform::MessageKind kind)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle("VEK");
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(app::screenText(text)));
    switch (kind) {
    case platform::MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case platform::MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case platform::MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case platform::MessageKind::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (kind == platform::MessageKind::Question) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText("&Sim");
        box.button(QMessageBox::No)->setText("&Não");
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText("OK");
    }
    // A message box is shown with the normal pointer even while busy.
    const bool wasBusy = busyDepth_ > 0;
    if (wasBusy) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    const int answer = box.exec();
    if (wasBusy) {
        QApplication::restoreOverrideCursor();
    }
    return kind != platform::MessageKind::Question || answer == QMessageBox::Yes;
}

void QtUiServices::setBusy(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

}  // namespace vek::ui
