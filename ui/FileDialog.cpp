#include "ui/FileDialog.h"

#include <QFileDialog>

namespace vek::ui {

FileDialog& FileDialog::instance()
{
    static FileDialog dialog;
    return dialog;
}

std::optional<QString> FileDialog::nextTestAnswer(const QString& filter, const QString& dir)
{
    if (!testing_) {
        return std::nullopt;
    }
    filtersSeen_.append(filter);
    pathsSeen_.append(dir);
    return answers_.isEmpty() ? QString() : answers_.takeFirst();
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (auto answer = nextTestAnswer(filter, dir)) {
        return *answer;
    }
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileDialog::getSaveFileName(
    QWidget* parent, const QString& caption, const QString& dir, const QString& filter, QFileDialog::Options options)
{
    if (auto answer = nextTestAnswer(filter, dir)) {
        return *answer;
    }
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, nullptr, options);
}

void FileDialog::setTestAnswers(const QStringList& answers)
{
    testing_ = true;
    answers_ = answers;
    filtersSeen_.clear();
    pathsSeen_.clear();
}

void FileDialog::clearTestAnswers()
{
    testing_ = false;
    answers_.clear();
    filtersSeen_.clear();
    pathsSeen_.clear();
}

QString filtroQt(const QString& filtroDoItem)
{
    const qsizetype bar = filtroDoItem.lastIndexOf('|');
    QString rotulo = bar < 0 ? filtroDoItem : filtroDoItem.left(bar);
    QString padrao = bar < 0 ? QString() : filtroDoItem.mid(bar + 1);
    if (padrao == "*.*") {
        padrao = "*";
    }
    // The label already names its pattern in parentheses; Qt reads the
    // pattern from the last pair, so it is written once, at the end.
    const QString sufixo = " (" + filtroDoItem.mid(bar + 1) + ")";
    if (rotulo.endsWith(sufixo)) {
        rotulo.chop(sufixo.size());
    }
    return rotulo + " (" + padrao + ")";
}

}  // namespace vek::ui
