#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace vek::ui {

// The platform's file dialogs, with a hook through which tests answer them
// (an empty answer is a cancel; with the hook on and no answer queued, every
// dialog is cancelled).
class FileDialog
{
public:
    static FileDialog& instance();

    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    QString getSaveFileName(QWidget* parent,
                            const QString& caption,
                            const QString& dir,
                            const QString& filter,
                            QFileDialog::Options options = {});

    void setTestAnswers(const QStringList& answers);
    void clearTestAnswers();
    // The filters the dialogs were opened with while the hook was on.
    [[nodiscard]] const QStringList& filtersSeen() const { return filtersSeen_; }
    // The start paths (directory or proposed file) they were opened with.
    [[nodiscard]] const QStringList& pathsSeen() const { return pathsSeen_; }

private:
    std::optional<QString> nextTestAnswer(const QString& filter, const QString& dir);

    bool testing_ = false;
    QStringList answers_;
    QStringList filtersSeen_;
    QStringList pathsSeen_;
};

// The dialog filter for a "label (*.ext)|*.ext" text: Qt's "label (*.ext)";
// "*.*" becomes "*" (every file, with or without an extension).
QString filtroQt(const QString& filtroDoItem);

}  // namespace vek::ui
