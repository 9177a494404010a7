#pragma once

#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QStringList>

class QObject;

namespace vek::ui {

// Qt's own texts (file dialogs, print preview, standard buttons) in
// Portuguese, as the program's own are: the Brazilian Portuguese catalogue,
// and the system locale's where Qt has one. A Portuguese system locale (say
// Portugal's) takes precedence over the Brazilian catalogue; any other only
// fills in what the Portuguese catalogue lacks. Returns the catalogues
// installed, most preferred first; none when `pasta` holds none of them,
// and the program then runs with Qt's untranslated texts. The translations
// stay installed while `dono` lives.
QStringList instalarTraducoesQt(QObject* dono,
                                const QString& pasta = QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                const QLocale& sistema = QLocale::system());

}  // namespace vek::ui
