#pragma once

#include <QObject>

#include <memory>

namespace vek::test {

using UiTestFactory = std::unique_ptr<QObject> (*)();

bool registerUiTest(const char* name, UiTestFactory factory);
std::unique_ptr<QObject> createUiTest(const char* name);

}  // namespace vek::test

// Makes a QtTest class runnable as `ui_tests Class`.
#define VEK_UI_TEST(Class)                                                                                             \
    static const bool registered##Class =                                                                              \
        vek::test::registerUiTest(#Class, []() -> std::unique_ptr<QObject> { return std::make_unique<Class>(); })
