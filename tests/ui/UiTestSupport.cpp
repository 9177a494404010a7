#include "tests/ui/UiTestSupport.h"

#include "crypto/TBlowfishQv.h"
#include "crypto/TGzip.h"
#include "platform/Socket.h"
#include "server/ServerKey.h"
#include "ui/Appearance.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace vek::test {

UiSandbox::UiSandbox()
{
    std::filesystem::create_directories(tmp());
    std::filesystem::create_directories(settingsDir());
    if (const char* old = std::getenv("TMPDIR")) {
        previousTmp_ = old;
    }
    setenv("TMPDIR", tmp().c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, QString::fromStdString(settingsDir()));
    // The operator's own settings (the dialogs' folders) start empty in every test.
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((settingsDir() / "usuario").string()));
    ui::FileDialog::instance().setTestAnswers({});
}

UiSandbox::~UiSandbox()
{
    ui::FileDialog::instance().clearTestAnswers();
    if (previousTmp_) {
        setenv("TMPDIR", previousTmp_->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

WindowTestCase::WindowTestCase() = default;
WindowTestCase::~WindowTestCase() = default;

void WindowTestCase::setUp(WithZebd zebd)
{
    sandbox_ = std::make_unique<UiSandbox>();
    if (zebd == WithZebd::Yes) {
        zebd_ = std::make_unique<Zebd>();
    }
}

void WindowTestCase::tearDown()
{
    window_.reset();
    zebd_.reset();
    sandbox_.reset();
}

void WindowTestCase::openWindow()
{
    window_ = std::make_unique<ui::TfrmPrincipal>(std::vector<std::string>{});
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void WindowTestCase::logIn(const QString& senha, const char* option, const QString& registro)
{
    QTest::keyClicks(child<QLineEdit>(window_.get(), "txtRegZEB"), registro);
    QTest::keyClicks(child<QLineEdit>(window_.get(), "txtSenha"), senha);
    if (option != nullptr) {
        QTest::mouseClick(child<QAbstractButton>(window_.get(), option), Qt::LeftButton);
    }
    QTest::mouseClick(window_->botao(ui::Botao::Proximo), Qt::LeftButton);
}

QStringList UiSandbox::messageTexts() const
{
    QStringList out;
    for (const auto& m : ui_.messages()) {
        out << QString::fromStdString(m.text);
    }
    return out;
}

namespace {

// Taken before any test points TMPDIR into its sandbox.
const std::filesystem::path processTemp = std::filesystem::temp_directory_path();

const std::filesystem::path& sharedKeyFile()
{
    struct KeyDir
    {
        std::filesystem::path path;
        KeyDir()
        {
            std::string pattern = (processTemp / "vek-ui-key-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                throw std::runtime_error("mkdtemp failed");
            }
            path = pattern;
            (void)server::ServerKey::loadOrCreate(path / server::KeyFileName);
        }
        ~KeyDir()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const KeyDir keyDir;
    static const std::filesystem::path file = keyDir.path / server::KeyFileName;
    return file;
}

}  // namespace

Zebd::Zebd()
{
    std::filesystem::copy_file(sharedKeyFile(), data_.path() / server::KeyFileName);
    server::ServerConfig config;
    config.dataDir = data_.path();
    config.messagePort = 0;
    config.ftpPort = 0;
    config.demo = true;
    server_.start(config);
}

Zebd::~Zebd()
{
    server_.stop();
}

std::uint16_t Zebd::port() const
{
    return server_.ports().mensagens;
}

std::uint16_t Zebd::ftpPort() const
{
    return server_.ports().ftp;
}

void pointClientAt(const std::filesystem::path& base, std::uint16_t port, std::uint16_t ftpPort)
{
    std::ofstream out(base / "vek.INI", std::ios::binary | std::ios::trunc);
    out << "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" << port << "\r\n";
    if (ftpPort != 0) {
        platform::TcpListener free;
        free.listen("127.0.0.1", 0);
        out << "PortaFTP=" << ftpPort << "\r\nPortaDados=" << free.localPort() << "\r\n";
    }
}

void onNextModal(const std::function<bool(QWidget*)>& isIt, const std::function<void(QWidget*)>& action)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, isIt, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible() && isIt(modal)) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

QString visibleButtons(const ui::TfrmPrincipal& window)
{
    QStringList names;
    for (const auto b :
         {ui::Botao::Inicio, ui::Botao::Anterior, ui::Botao::Proximo, ui::Botao::Concluir, ui::Botao::Sair}) {
        if (!window.botao(b)->isHidden()) {
            names << window.botao(b)->objectName().remove("Button");
        }
    }
    return names.join(',');
}

QStringList textsThatDoNotFit(QWidget* root)
{
    QStringList out;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty()) {
            continue;
        }
        const QRect box = label->contentsRect();
        const QFontMetrics fm(label->font());
        if (label->wordWrap()) {
            if (label->heightForWidth(box.width()) > box.height() + 1) {
                out << QString("%1: %2 px high for %3").arg(label->objectName(), label->text()).arg(box.height());
            }
            continue;
        }
        QString shown = label->text();
        // A label with a buddy shows its "&" as the underline of the next letter.
        if (label->buddy() != nullptr) {
            shown.replace(QRegularExpression("&(.)"), "\\1");
        }
        const QStringList lines = shown.split('\n');
        int widest = 0;
        for (const QString& line : lines) {
            widest = std::max(widest, fm.horizontalAdvance(line));
        }
        if (widest > box.width() || lines.size() * fm.height() > box.height() + 2) {
            out << QString("%1: \"%2\" needs %3x%4, has %5x%6")
                       .arg(label->objectName(), label->text())
                       .arg(widest)
                       .arg(lines.size() * fm.height())
                       .arg(box.width())
                       .arg(box.height());
        }
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        // Tool buttons show icons; their text is a tooltip.
        if (!button->isVisibleTo(root) || button->text().isEmpty() || qobject_cast<QToolButton*>(button)) {
            continue;
        }
        QString text = button->text();
        text.remove('&');
        const int needed = QFontMetrics(button->font()).horizontalAdvance(text);
        // Room for the frame; radio buttons also draw their indicator.
        const int room = button->width() - (qobject_cast<QPushButton*>(button) ? 6 : 20);
        if (needed > room) {
            out << QString("%1: \"%2\" needs %3, has %4").arg(button->objectName(), text).arg(needed).arg(room);
        }
    }
    return out;
}

QStringList gridProblems(QTableView* grid)
{
    QStringList out;
    QAbstractItemModel* model = grid->model();
    QHeaderView* header = grid->horizontalHeader();
    if (grid->horizontalScrollBar()->maximum() > 0) {
        out << QString("scrolls sideways (%1 steps)").arg(grid->horizontalScrollBar()->maximum());
    }
    if (header->length() != grid->viewport()->width()) {
        out << QString("columns are %1 px wide in all, the grid %2")
                   .arg(header->length())
                   .arg(grid->viewport()->width());
    }
    const QFontMetrics titleFont(ui::fontePx("Tahoma", 11, true));
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        if (titleFont.horizontalAdvance(title) + 2 > grid->columnWidth(c)) {
            out << QString("title \"%1\" does not fit %2 px").arg(title).arg(grid->columnWidth(c));
        }
        if (grid->columnViewportPosition(c) + grid->columnWidth(c) > grid->viewport()->width()) {
            out << QString("column \"%1\" is out of sight").arg(title);
        }
        for (int r = 0; r < model->rowCount(); ++r) {
            const QString text = model->index(r, c).data().toString();
            // The cell's text margins and the grid line.
            const int width = grid->columnWidth(c) - 2 * ui::GradeTabela::MargemTexto - 1;
            const int needed = ui::alturaTextoQuebrado(grid->font(), text, width) + 2 + 1;
            if (needed > grid->rowHeight(r)) {
                out << QString("row %1, \"%2\": \"%3\" needs %4 px, has %5")
                           .arg(r)
                           .arg(title, text)
                           .arg(needed)
                           .arg(grid->rowHeight(r));
            }
        }
    }
    return out;
}

FakeScript listFileScript(std::uint8_t request, const std::filesystem::path& file)
{
    using namespace wire;
    Sandbox box(false);
    crypto::TGzip gz;
    gz.FileSource = file.string();
    gz.FileDestination = (box.path() / "lista.gz").string();
    if (gz.Compress() != 0) {
        throw std::runtime_error("gzip of " + file.string() + " failed");
    }
    const std::string bytes = box.read("lista.gz");
    FakeScript script{FakeStep::expect(request),
                      FakeStep::reply(CMD_ACEITO),
                      FakeStep::reply(CMD_ACEITO, "1"),
                      FakeStep::reply(CMD_TAMANHO, std::to_string(bytes.size()) + "|X" + file.filename().string()),
                      FakeStep::reply(CMD_BLOCO, bytes),
                      FakeStep::expect(CMD_ACK),
                      FakeStep::reply(CMD_FIM_DADOS)};
    if (request == CMD_PEDIDO_LISTA) {
        script.push_back(FakeStep::expect(CMD_LISTA_RECEBIDA));
        script.push_back(FakeStep::reply(CMD_ACEITO, crypto::EncryptProtocolText("usuario|senha|ident")));
    }
    script.push_back(FakeStep::expect(CMD_ACK));
    return script;
}

std::filesystem::path testData(const std::string& name)
{
    return std::filesystem::path(VEK_TEST_DATA_DIR) / name;
}

QString screenshotPath(const QString& name)
{
    QDir().mkpath(VEK_SCREENSHOT_DIR);
    return QString(VEK_SCREENSHOT_DIR) + "/" + name;
}

}  // namespace vek::test
