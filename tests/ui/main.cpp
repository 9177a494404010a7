// One program for the window's tests: `ui_tests NAME [QtTest options]` runs
// the test class NAME; each class is one CTest test.
#include "tests/fixtures/FakeZebServer.h"
#include "tests/ui/UiTests.h"
#include "ui/Appearance.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    // The offscreen platform's own screen is 800 x 800, smaller than a
    // desktop's: the window's tests run on a 1920 x 1080 one, where windows
    // can be placed beside the main window as on a real display.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" VEK_OFFSCREEN_CONFIG);
    }
    QApplication app(argc, argv);
    vek::ui::configurarAplicacao(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_tests TestClass [QtTest options]\n");
        return 2;
    }
    std::unique_ptr<QObject> test = vek::test::createUiTest(argv[1]);
    if (!test) {
        std::fprintf(stderr, "unknown test class %s\n", argv[1]);
        return 2;
    }
    // A scripted server's unread complaints fail the running test here too.
    vek::test::FakeZebServer::setComplaintHandler(
        [](const std::string& complaint) { QTest::qFail(complaint.c_str(), __FILE__, __LINE__); });
    // QtTest sees the program name and the options after the class name.
    argv[1] = argv[0];
    return QTest::qExec(test.get(), argc - 1, argv + 1);
}
