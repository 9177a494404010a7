#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QTranslator>

namespace vek::ui {

namespace {

// Widgets, dialogs and printing all take their texts from this catalogue.
constexpr const char* Catalogo = "qtbase";

}  // namespace

QStringList instalarTraducoesQt(QObject* dono, const QString& pasta, const QLocale& sistema)
{
    const QLocale portugues(QLocale::Portuguese, QLocale::Brazil);
    // The translator installed last is asked first.
    QList<QLocale> ordem{portugues};
    if (sistema.language() == QLocale::Portuguese) {
        ordem.append(sistema);
    } else if (sistema.language() != QLocale::C) {
        ordem.prepend(sistema);
    }
    QStringList instalados;
    for (const QLocale& locale : ordem) {
        auto* tradutor = new QTranslator(dono);
        if (!tradutor->load(locale, Catalogo, "_", pasta) || instalados.contains(tradutor->filePath())) {
            delete tradutor;
            continue;
        }
        QCoreApplication::installTranslator(tradutor);
        instalados.prepend(tradutor->filePath());
    }
    return instalados;
}

}  // namespace vek::ui
