#include "platform/Signals.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/QtUiServices.h"
#include "ui/TfrmPrincipal.h"

#include <QApplication>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Errors that escape a handler end in the standard error box instead of
// ending the program.
class VekApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            vek::ui::TfrmPrincipal::mostrarErro(e);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    vek::platform::ignoreWriteSignals();
    // Answered before any window (or display) is needed.
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs("Uso: vek [ARQUIVO.par | LOG...]\n\n"
                   "Sem argumento: o assistente do VEK (enviar, receber, histórico, senha).\n"
                   "ARQUIVO.par: envio sem intervenção a partir de um arquivo de parâmetros cifrado; o código de\n"
                   "saída diz o resultado (9 enviado; veja vek-cli parametros --help).\n"
                   "LOG...: o nome do arquivo de rastreamento das consultas.\n"
                   "Configuração, rastreamento, temp/ e Protocolos/ ficam em VEK_DIR, no diretório do programa\n"
                   "(se ele puder ser gravado) ou em ~/.local/share/vek (programa instalado); veja vek-cli --help.\n",
                   stdout);
        return 0;
    }
    VekApplication app(argc, argv);
    // The installed desktop entry (vek.desktop) names and decorates the window.
    QGuiApplication::setDesktopFileName("vek");
    vek::ui::configurarAplicacao(app);
    vek::ui::QtUiServices services;
    vek::platform::ScopedUi scopedUi(services);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(QString::fromLocal8Bit(argv[i]).toStdString());
    }
    vek::ui::TfrmPrincipal janela(args);
    if (const auto codigo = janela.codigoSaidaImediato()) {
        return *codigo;
    }
    janela.show();
    janela.centralizar();
    return app.exec();
}
