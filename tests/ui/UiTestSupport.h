#pragma once

#include "platform/UiServices.h"
#include "server/ZebServer.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <QObject>
#include <QString>
#include <QTableView>
#include <QTest>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vek::ui {
class TfrmPrincipal;
}

namespace vek::test {

// A fresh world for one GUI test: VEK_DIR and TMPDIR in a sandbox, the
// machine-wide settings redirected into it, recording user-interface
// services installed and every file dialog answered by the test.
class UiSandbox
{
public:
    UiSandbox();
    ~UiSandbox();
    UiSandbox(const UiSandbox&) = delete;
    UiSandbox& operator=(const UiSandbox&) = delete;

    [[nodiscard]] std::filesystem::path base() const { return sandbox_.path(); }
    [[nodiscard]] std::filesystem::path tmp() const { return sandbox_.path() / "tmp"; }
    [[nodiscard]] std::filesystem::path settingsDir() const { return sandbox_.path() / "etc"; }
    RecordingUiServices& ui() { return ui_; }
    // Texts of the messages shown so far.
    [[nodiscard]] QStringList messageTexts() const;

private:
    Sandbox sandbox_;
    std::optional<std::string> previousTmp_;
    RecordingUiServices ui_;
    platform::ScopedUi scoped_{ui_};
};

// zebd in-process on free loopback ports, with the demo data. The key is
// made once per test program.
class Zebd
{
public:
    Zebd();
    ~Zebd();

    [[nodiscard]] std::uint16_t port() const;
    [[nodiscard]] std::uint16_t ftpPort() const;
    server::ZebServer& server() { return server_; }

private:
    Sandbox data_{false};
    server::ZebServer server_;
};

// What the window's test classes share: a sandbox, zebd when a test needs
// it, and the main window, torn down window first. A class calls setUp()
// from its init() slot and tearDown() from its cleanup() slot.
class WindowTestCase : public QObject
{
public:
    WindowTestCase();
    ~WindowTestCase() override;
    WindowTestCase(const WindowTestCase&) = delete;
    WindowTestCase& operator=(const WindowTestCase&) = delete;

protected:
    enum class WithZebd
    {
        No,
        Yes
    };

    void setUp(WithZebd zebd);
    void tearDown();

    // Opens the main window without parameters and waits until it shows.
    void openWindow();
    // Types the registration and `senha` on the access page, ticks the radio
    // button `option` when one is named, and clicks Próximo.
    void logIn(const QString& senha, const char* option = nullptr, const QString& registro = "123456");

    std::unique_ptr<UiSandbox> sandbox_;
    std::unique_ptr<Zebd> zebd_;
    std::unique_ptr<ui::TfrmPrincipal> window_;
};

// Points the base directory's vek.INI at a message server port; with an FTP
// port, also at that FTP server and a free local port for its data connection.
void pointClientAt(const std::filesystem::path& base, std::uint16_t port, std::uint16_t ftpPort = 0);

template <typename T> T* child(const QObject* root, const char* name)
{
    T* found = root->findChild<T*>(name);
    if (found == nullptr) {
        qFatal("widget %s not found", name);
    }
    return found;
}

// Runs `action` on the next modal dialog of type T as soon as it shows.
void onNextModal(const std::function<bool(QWidget*)>& isIt, const std::function<void(QWidget*)>& action);

// Visible labels and buttons under `root` whose text does not fit their box
// (one line per offender; empty when all fit).
QStringList textsThatDoNotFit(QWidget* root);

// What a grid hides from the user: scrolling sideways, columns that do not
// fill its width, titles wider than their column, cells whose text does not
// fit its row at its column's width (one line per fault; empty when none).
QStringList gridProblems(QTableView* grid);

// The button bar's visible buttons, left to right: "inicio,anterior,...".
QString visibleButtons(const ui::TfrmPrincipal& window);

// A server's accepted list-type query that sends `file` gzipped in one block:
// for the history (code 13) the client's last acknowledgement ends it; for
// the file list (code 30) the download credentials follow.
FakeScript listFileScript(std::uint8_t request, const std::filesystem::path& file);

// A data file of tests/fixtures/data.
std::filesystem::path testData(const std::string& name);

// The screenshots' folder (created on demand).
QString screenshotPath(const QString& name);

}  // namespace vek::test
