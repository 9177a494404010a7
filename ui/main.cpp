#include "platform/ProductVersion.h"
#include "platform/Signals.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/QtUiServices.h"
#include "ui/TfrmPrincipal.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
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

// The program's own status when no display can be opened: apart from the
// unattended mode's 0 to 5 and 9.
constexpr int ExitSemTela = 6;

constexpr const char* OrientacaoSemTela =
    "O VEK precisa de uma sessão gráfica; sem ela, use o vek-cli (vek-cli --help), que faz o mesmo sem "
    "janela.\n";

bool definida(const char* variavel)
{
    const char* valor = std::getenv(variavel);
    return valor != nullptr && *valor != '\0';
}

// Without a display Qt would end the program with an abort; a display that
// cannot be opened is caught by the fatal message Qt gives before it.
bool semTela(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "-platform") {
            return false;
        }
    }
    return !definida("QT_QPA_PLATFORM") && !definida("DISPLAY") && !definida("WAYLAND_DISPLAY");
}

bool aplicacaoCriada = false;

void mensagensDoQt(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto)
{
    if (tipo == QtFatalMsg && !aplicacaoCriada) {
        std::fprintf(stderr,
                     "vek: não foi possível abrir a tela (%s).\n%s",
                     qEnvironmentVariable("DISPLAY", qEnvironmentVariable("WAYLAND_DISPLAY")).toLocal8Bit().constData(),
                     OrientacaoSemTela);
        std::fflush(stderr);
        std::_Exit(ExitSemTela);
    }
    std::fputs(qFormatLogMessage(tipo, contexto, texto).toLocal8Bit().append('\n').constData(), stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    vek::platform::ignoreWriteSignals();
    // Answered before any window (or display) is needed.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::fputs(vek::platform::versionLine("vek").c_str(), stdout);
        return 0;
    }
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs("Uso: vek [ARQUIVO.par | LOG...]\n\n"
                   "Sem argumento: o assistente do VEK (enviar, receber, histórico, senha).\n"
                   "ARQUIVO.par: envio sem intervenção a partir de um arquivo de parâmetros cifrado; o código de\n"
                   "saída diz o resultado (9 enviado; veja vek-cli parametros --help).\n"
                   "LOG...: o nome do arquivo de rastreamento das consultas.\n"
                   "Configuração, rastreamento, temp/ e Protocolos/ ficam em VEK_DIR, no diretório do programa\n"
                   "(se ele puder ser gravado) ou em ~/.local/share/vek (programa instalado); veja vek-cli --help.\n"
                   "--version: a versão do programa.\n"
                   "Sem tela (DISPLAY ou WAYLAND_DISPLAY) o programa termina com o código 6.\n",
                   stdout);
        return 0;
    }
    if (semTela(argc, argv)) {
        std::fprintf(stderr,
                     "vek: nenhuma tela disponível (DISPLAY e WAYLAND_DISPLAY não estão definidas).\n%s",
                     OrientacaoSemTela);
        return ExitSemTela;
    }
    qInstallMessageHandler(mensagensDoQt);
    VekApplication app(argc, argv);
    aplicacaoCriada = true;
    qInstallMessageHandler(nullptr);
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
