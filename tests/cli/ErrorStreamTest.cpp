#include "cli/ErrorStream.h"

#include "cli/Cli.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <sstream>

namespace vek::cli {
namespace {

using test::FakeStep;

struct Result
{
    int code;
    std::string out;
    std::string err;
};

Result runCli(const std::vector<std::string>& args, bool terminal)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(args, out, err, terminal);
    return {code, out.str(), err.str()};
}

// The password change shows the server's refusal text as it came: a "VEK: "
// line with no progress around it.
TEST(ErrorStream, MessageLineBreaksAreNewLinesOnATerminalAndKeptElsewhere)
{
    struct Case
    {
        const char* name;
        const char* text;
        const char* onTerminal;
    };
    // clang-format off
    const std::array cases{
        Case{.name = "CR LF",          .text = "linha 1\r\nlinha 2",   .onTerminal = "linha 1\nlinha 2"},
        Case{.name = "LF CR",          .text = "linha 1\n\rlinha 2",   .onTerminal = "linha 1\nlinha 2"},
        Case{.name = "lone CR",        .text = "linha 1\rlinha 2",     .onTerminal = "linha 1\nlinha 2"},
        Case{.name = "lone LF",        .text = "linha 1\nlinha 2",     .onTerminal = "linha 1\nlinha 2"},
        Case{.name = "two CRs",        .text = "linha 1\r\rlinha 2",   .onTerminal = "linha 1\n\nlinha 2"},
        // CR LF is taken first, then the LF CR it leaves.
        Case{.name = "CR LF CR",       .text = "linha 1\r\n\rlinha 2", .onTerminal = "linha 1\nlinha 2"},
        Case{.name = "LF CR LF",       .text = "linha 1\n\r\nlinha 2", .onTerminal = "linha 1\n\nlinha 2"},
        Case{.name = "trailing CR LF", .text = "Senha recusada.\r\n",  .onTerminal = "Senha recusada.\n"},
    };
    // clang-format on
    std::vector<test::FakeScript> scripts;
    for (const auto& c : cases) {
        for (int i = 0; i < 2; ++i) {
            scripts.push_back({FakeStep::expect(wire::CMD_ALTERAR_SENHA), FakeStep::reply(wire::CMD_NEGADO, c.text)});
        }
    }
    test::Sandbox box;
    test::FakeZebServer server(scripts);
    test::writeClientConfig(box.path().string(), server.port());
    setenv("VEK_SENHA", "atual", 1);
    setenv("VEK_NOVA_SENHA", "nova", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result piped = runCli({"alterar-senha", "--registro", "123456"}, false);
        EXPECT_EQ(piped.code, ExitFailed);
        EXPECT_EQ(piped.err, std::string("VEK: ") + c.text + "\n");
        const Result shown = runCli({"alterar-senha", "--registro", "123456"}, true);
        EXPECT_EQ(shown.code, ExitFailed);
        EXPECT_EQ(shown.err, std::string("VEK: ") + c.onTerminal + "\n");
    }
    unsetenv("VEK_SENHA");
    unsetenv("VEK_NOVA_SENHA");
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

// An upload refused at its authorization: the message comes while the
// progress line is drawn, the raised error after it.
TEST(ErrorStream, OnATerminalAMessageTakesThePlaceOfTheProgressLineAndErrorsAreReadableToo)
{
    test::Sandbox box;
    const std::string reason = "Tipo recusado.\n\rConsulte a ZEB.";
    test::FakeZebServer server({{FakeStep::expect(wire::CMD_PEDIDO_ENVIO), FakeStep::reply(wire::CMD_NEGADO, reason)},
                                {FakeStep::expect(wire::CMD_PEDIDO_ENVIO), FakeStep::reply(wire::CMD_NEGADO, reason)}});
    test::writeClientConfig(box.path().string(), server.port());
    const auto file = box.write("dados.xml", "<a>1</a>");
    setenv("VEK_SENHA", "demo", 1);
    const std::string erro = "Erro:  O servidor reportou que esta transmissão foi rejeitada. Mensagem: ";

    const Result piped = runCli({"enviar", "--registro", "123456", file.string()}, false);
    EXPECT_EQ(piped.code, ExitFailed);
    EXPECT_EQ(piped.err, "VEK: " + reason + "\n" + erro + reason + "\n");

    const Result shown = runCli({"enviar", "--registro", "123456", file.string()}, true);
    unsetenv("VEK_SENHA");
    EXPECT_EQ(shown.code, ExitFailed);
    const std::string readable = "Tipo recusado.\nConsulte a ZEB.";
    // Progress was drawn, then the message cleared its line and took it.
    const auto message = shown.err.find("\r\033[KVEK: " + readable + "\n");
    ASSERT_NE(message, std::string::npos) << shown.err;
    EXPECT_NE(shown.err.rfind("Preparação", message), std::string::npos) << shown.err;
    // The error starts on a line of its own, after whatever progress followed.
    const std::string last = "\n" + erro + readable + "\n";
    ASSERT_GE(shown.err.size(), last.size());
    EXPECT_EQ(shown.err.substr(shown.err.size() - last.size()), last) << shown.err;
    // No carriage return is left but those that start a progress drawing.
    std::string rest = shown.err;
    for (auto at = rest.find("\r\033[K"); at != std::string::npos; at = rest.find("\r\033[K")) {
        rest.erase(at, 4);
    }
    EXPECT_EQ(rest.find('\r'), std::string::npos) << shown.err;
}

TEST(ErrorStream, FitColumnsKeepsWholeCharacters)
{
    EXPECT_EQ(fitColumns("Preparação", 100), "Preparação");
    EXPECT_EQ(fitColumns("Preparação", 10), "Preparação");
    EXPECT_EQ(fitColumns("Preparação", 8), "Preparaç");
    EXPECT_EQ(fitColumns("Preparação", 9), "Preparaçã");
    EXPECT_EQ(fitColumns("abc", 0), "");
}

}  // namespace
}  // namespace vek::cli
