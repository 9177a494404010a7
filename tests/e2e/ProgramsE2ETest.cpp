// What each program answers before it needs a server, a store or a display.

#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <regex>

namespace vek::test {
namespace {

const std::vector<std::string> NoDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

std::vector<std::string> programs()
{
    std::vector<std::string> all{"vek-cli", "zebd"};
#ifdef VEK_WINDOW_BUILT
    all.emplace_back("vek");
#endif
    return all;
}

TEST(Programs, VersionIsOneLineWithTheNameAndNeedsNoDisplay)
{
    for (const auto& program : programs()) {
        SCOPED_TRACE(program);
        const auto r = runProcess({binPath(program), "--version"}, {}, NoDisplay);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(program + R"( \d+\.\d+\.\d+\n)"))) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

#ifdef VEK_WINDOW_BUILT
// No display, or one that cannot be opened: a message naming it and pointing
// to vek-cli, and the program's own status instead of an abort.
TEST(Programs, TheWindowWithoutADisplayEndsWithAClearMessage)
{
    struct Case
    {
        const char* name;
        std::map<std::string, std::string> env;
        std::vector<std::string> args;
        const char* names;
    };
    const Sandbox box(false);
    const std::vector<Case> cases{
        {"no display at all", {}, {}, "DISPLAY"},
        {"parameter-file mode", {}, {(box.path() / "envio.par").string()}, "DISPLAY"},
        {"a display nobody serves", {{"DISPLAY", ":97"}}, {}, ":97"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto env = c.env;
        env["VEK_DIR"] = box.path().string();
        auto argv = c.args;
        argv.insert(argv.begin(), binPath("vek"));
        std::vector<std::string> unset;
        for (const auto& name : NoDisplay) {
            if (c.env.count(name) == 0) {
                unset.push_back(name);
            }
        }
        const auto r = runProcess(argv, env, unset);
        EXPECT_EQ(r.exitCode, 6) << r.err;
        EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("vek-cli"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
#endif

}  // namespace
}  // namespace vek::test
