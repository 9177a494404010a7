#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/QtTranslations.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

using namespace vek;
using vek::test::child;

namespace {

QString qtTranslations()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QString lookIn()
{
    return QCoreApplication::translate("QFileDialog", "Look in:");
}

}  // namespace

// Qt's own dialogs speak Portuguese, as the program does; without Qt's
// translations the program still runs, in Qt's English.
class TranslationsTest : public QObject
{
    Q_OBJECT

private slots:
    // The program's start-up (the same for this test program) loaded them.
    void qtDialogsSpeakPortuguese()
    {
        QFileDialog dialog(nullptr, "Salvar como");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.show();
        QCOMPARE(child<QLabel>(&dialog, "lookInLabel")->text(), QString("Procurar em:"));
        QCOMPARE(child<QLabel>(&dialog, "fileNameLabel")->text(), QString("&Nome do arquivo:"));
        QCOMPARE(child<QLabel>(&dialog, "fileTypeLabel")->text(), QString("Arquivos do tipo:"));
        auto* buttons = child<QDialogButtonBox>(&dialog, "buttonBox");
        QCOMPARE(buttons->button(QDialogButtonBox::Save)->text(), QString("&Salvar"));
        QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QString("Cancelar"));

        QPrintPreviewDialog preview;
        QCOMPARE(child<QAction>(&preview, "fitWidthAction")->text(), QString("Ajustar à largura"));
        QCOMPARE(child<QAction>(&preview, "fitPageAction")->text(), QString("Ajustar à página"));
    }

    // Which catalogues a system locale brings, most preferred first. Copies
    // of Qt's catalogues under other names stand in for locales Debian has
    // none for, so that the texts show which catalogue answers.
    void cataloguesForTheSystemLocale_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QStringList>("present");   // catalogue files in the folder
        QTest::addColumn<QStringList>("expected");  // installed, most preferred first
        QTest::addColumn<QString>("lookIn");        // the file dialog's "Look in:"
        QTest::newRow("C: Portuguese") << "C" << QStringList{"qtbase_pt_BR", "qtbase_de"} << QStringList{"qtbase_pt_BR"}
                                       << "Procurar em:";
        QTest::newRow("Brazil: Portuguese once")
            << "pt_BR" << QStringList{"qtbase_pt_BR"} << QStringList{"qtbase_pt_BR"} << "Procurar em:";
        QTest::newRow("another language only fills in under Portuguese")
            << "de_DE" << QStringList{"qtbase_pt_BR", "qtbase_de"} << QStringList{"qtbase_pt_BR", "qtbase_de"}
            << "Procurar em:";
        QTest::newRow("another language, Portuguese missing")
            << "de_DE" << QStringList{"qtbase_de"} << QStringList{"qtbase_de"} << "Suchen in:";
        // German texts under Portugal's name, to see which one answers.
        QTest::newRow("Portugal's catalogue comes before Brazil's")
            << "pt_PT" << QStringList{"qtbase_pt_BR", "qtbase_de=qtbase_pt_PT"}
            << QStringList{"qtbase_pt_PT", "qtbase_pt_BR"} << "Suchen in:";
        QTest::newRow("Portugal without its own: Brazil's")
            << "pt_PT" << QStringList{"qtbase_pt_BR"} << QStringList{"qtbase_pt_BR"} << "Procurar em:";
        QTest::newRow("none installed: Qt's English") << "pt_BR" << QStringList{} << QStringList{} << "";
    }

    void cataloguesForTheSystemLocale()
    {
        QFETCH(QString, system);
        QFETCH(QStringList, present);
        QFETCH(QStringList, expected);
        QFETCH(QString, lookIn);
        QTemporaryDir folder;
        for (const QString& entry : present) {
            const QString from = entry.section('=', 0, 0);
            const QString to = entry.section('=', -1);
            QVERIFY2(QFile::copy(qtTranslations() + "/" + from + ".qm", folder.filePath(to + ".qm")),
                     qPrintable(qtTranslations() + "/" + from + ".qm"));
        }
        // The program's own translators (Portuguese) stay below these.
        QObject owner;
        QStringList installed = ui::instalarTraducoesQt(&owner, folder.path(), QLocale(system));
        for (QString& path : installed) {
            QVERIFY(path.startsWith(folder.path() + "/"));
            path = QFileInfo(path).completeBaseName();
        }
        QCOMPARE(installed, expected);
        QCOMPARE(owner.findChildren<QTranslator*>().size(), expected.size());
        if (!lookIn.isEmpty()) {
            QCOMPARE(::lookIn(), lookIn);
        }
    }

    // Without Qt's translations nothing is installed and nothing fails: the
    // texts are Qt's own.
    void missingTranslationsLeaveQtsEnglish()
    {
        // Take the program's translators away for a moment.
        const QList<QTranslator*> program = qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly);
        for (QTranslator* t : program) {
            QCoreApplication::removeTranslator(t);
        }
        QObject owner;
        const QStringList installed = ui::instalarTraducoesQt(&owner, "/nao/existe", QLocale("pt_BR"));
        const QString text = lookIn();
        for (QTranslator* t : program) {
            QCoreApplication::installTranslator(t);
        }
        QCOMPARE(installed, QStringList{});
        QVERIFY(owner.findChildren<QTranslator*>().isEmpty());
        QCOMPARE(text, QString("Look in:"));
        QCOMPARE(lookIn(), QString("Procurar em:"));
    }
};

VEK_UI_TEST(TranslationsTest);

#include "TranslationsTest.moc"
