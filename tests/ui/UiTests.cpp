#include "tests/ui/UiTests.h"

#include <map>
#include <string>

namespace vek::test {

namespace {

std::map<std::string, UiTestFactory>& registry()
{
    static std::map<std::string, UiTestFactory> tests;
    return tests;
}

}  // namespace

bool registerUiTest(const char* name, UiTestFactory factory)
{
    registry()[name] = factory;
    return true;
}

std::unique_ptr<QObject> createUiTest(const char* name)
{
    const auto it = registry().find(name);
    return it == registry().end() ? nullptr : it->second();
}

}  // namespace vek::test
