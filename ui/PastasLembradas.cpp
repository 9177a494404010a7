#include "ui/PastasLembradas.h"

#include <QFileInfo>
#include <QSettings>

namespace vek::ui {

namespace {

QString chave(const char* dialogo)
{
    return QString("Pastas/") + dialogo;
}

// Runs `uso` on the operator's own settings, beside the program's machine-wide ones.
template <class Uso> auto comConfiguracao(Uso&& uso)
{
    QSettings configuracao(QSettings::NativeFormat, QSettings::UserScope, "ZEB", "VEK");
    return uso(configuracao);
}

}  // namespace

QString pastaLembrada(const char* dialogo, const QString& padrao)
{
    const QString pasta = comConfiguracao([&](QSettings& c) { return c.value(chave(dialogo)).toString(); });
    if (pasta.isEmpty() || !QFileInfo(pasta).isDir()) {
        return padrao;
    }
    return pasta;
}

void lembrarPasta(const char* dialogo, const QString& arquivoEscolhido)
{
    if (arquivoEscolhido.isEmpty()) {
        return;
    }
    comConfiguracao([&](QSettings& c) {
        c.setValue(chave(dialogo), QFileInfo(arquivoEscolhido).absolutePath());
        // A settings file that cannot be written costs only the convenience.
        c.sync();
    });
}

}  // namespace vek::ui
