#include "crypto/TDecryptFile.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vek::crypto {
namespace {

namespace fs = std::filesystem;

// The key stream written out the slow way: 1, 2, ..., L, L-1, ..., 2, 1, 2, ...
std::string referenceXor(const std::string& data, const std::string& password)
{
    std::string out = data;
    if (password.empty()) {
        for (auto& c : out) {
            c = static_cast<char>(c ^ 0x7F);
        }
        return out;
    }
    std::size_t k = 0;
    int direction = 1;
    for (auto& c : out) {
        c = static_cast<char>(c ^ password[k]);
        if (password.size() > 1) {
            if (k + 1 == password.size()) {
                direction = -1;
            } else if (k == 0) {
                direction = 1;
            }
            k = static_cast<std::size_t>(static_cast<long>(k) + direction);
        }
    }
    return out;
}

class FileCipherTest : public ::testing::Test
{
protected:
    test::Sandbox sandbox_{false};
    test::RecordingUiServices ui_;
    platform::ScopedUi scopedUi_{ui_};

    std::string path(const std::string& name) const { return (sandbox_.path() / name).string(); }
};

TEST(FileCipherKeyStream, RunsBackAndForthWithoutRepeatingTheEnds)
{
    TDecryptFile d;
    d.SetSenha("abc");
    const std::string expected = "abcbabcbab";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.keyByte(i), static_cast<std::uint8_t>(expected[i]));
    }
    // Length L: bytes 0 and 2(L-1) use the first character, L-1 the last, L the one before it.
    d.SetSenha("senha12");
    const std::size_t L = 7;
    EXPECT_EQ(d.keyByte(0), 's');
    EXPECT_EQ(d.keyByte(2 * (L - 1)), 's');
    EXPECT_EQ(d.keyByte(L - 1), '2');
    EXPECT_EQ(d.keyByte(L), '1');
    d.SetSenha("");
    EXPECT_EQ(d.keyByte(0), 0x7F);
    EXPECT_EQ(d.keyByte(123456), 0x7F);
}

TEST(FileCipherProperties, PasswordRule)
{
    struct Case
    {
        const char* name;
        bool usarSenhaBefore;
        std::string value;
        bool throws;
        std::string senhaAfter;
        bool usarSenhaAfter;
    };
    const std::string p127(127, 'x');
    const std::string p128(128, 'x');
    const std::vector<Case> cases{
        {"three characters", false, "abc", false, "abc", true},
        {"127 characters", false, p127, false, p127, true},
        {"127 characters in use", true, p127, false, p127, true},
        {"empty", true, "", false, "", false},
        {"two characters, not in use", false, "ab", false, "", false},
        {"one character, not in use", false, "a", false, "", false},
        {"128 characters, not in use", false, p128, false, "", false},
        {"two characters in use", true, "ab", true, "prev", true},
        {"128 characters in use", true, p128, true, "prev", true},
        {"three accented characters count as three", false, "ção", false, "ção", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDecryptFile d;
        d.SetSenha("prev");
        d.UsarSenha = c.usarSenhaBefore;
        if (c.throws) {
            try {
                d.SetSenha(c.value);
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(std::string(e.what()), "A senha deve ter de 3 a 25 caracteres");
            }
        } else {
            d.SetSenha(c.value);
        }
        EXPECT_EQ(d.Senha(), c.senhaAfter);
        EXPECT_EQ(d.UsarSenha, c.usarSenhaAfter);
    }
}

TEST(FileCipherProperties, PathsLoseTheirQuotesAndDefaultsAreOff)
{
    TEncryptFile e;
    EXPECT_FALSE(e.UsarSenha);
    EXPECT_FALSE(e.ExcecaoErro);
    EXPECT_FALSE(e.SucessoExecucao());
    EXPECT_EQ(e.MsgErro(), "");
    e.SetArquivoOriginal("\"/tmp/com espaço/a.txt\"");
    e.SetArquivoDestino("\"/tmp/b\".txt");
    EXPECT_EQ(e.ArquivoOriginal(), "/tmp/com espaço/a.txt");
    EXPECT_EQ(e.ArquivoDestino(), "/tmp/b.txt");
}

TEST_F(FileCipherTest, DecryptsPiecesAndLetsTheWindowBreatheTwicePerPiece)
{
    struct Case
    {
        const char* name;
        std::string source;  // leading byte + data
        std::string password;
        std::string expected;
        long eventCalls;
    };
    const std::string big = test::randomBytes(200001, 1);  // crosses the 64 KiB buffer several times
    const std::vector<Case> cases{
        {"one byte", "Z", "", "", 2},
        {"513 bytes: a full piece and an empty one", "Z" + std::string(512, '\x7F'), "", std::string(512, '\0'), 4},
        {"00 becomes 7F", std::string("Z\0\x7F", 3), "", std::string("\x7F\0", 2), 2},
        {"big file with password", big, "chave7!", referenceXor(big.substr(1), "chave7!"), 2 * (200000 / 512 + 1)},
        {"exactly 64 KiB of data",
         "Z" + std::string(65536, 'q'),
         "abc",
         referenceXor(std::string(65536, 'q'), "abc"),
         2 * (65536 / 512 + 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(path("src"), c.source);
        ui_.clear();
        TDecryptFile d;
        d.SetArquivoOriginal(path("src"));
        d.SetArquivoDestino(path("dst"));
        d.SetSenha(c.password);
        d.Executar();
        EXPECT_TRUE(d.SucessoExecucao());
        EXPECT_TRUE(test::readFile(path("dst")) == c.expected);
        EXPECT_EQ(ui_.eventCalls(), c.eventCalls);
    }
}

TEST_F(FileCipherTest, EncryptThenDecryptRestoresTheFile)
{
    for (const std::string& password : {std::string(), std::string("abc"), std::string(127, 'k') + "x"}) {
        SCOPED_TRACE(password.size());
        for (const std::size_t size : {0u, 1u, 511u, 512u, 70000u}) {
            SCOPED_TRACE(size);
            const std::string data = test::randomBytes(size, static_cast<std::uint32_t>(size + 1));
            test::writeFile(path("plain"), data);
            TEncryptFile e;
            e.SetSenha(password);
            e.SetArquivoOriginal(path("plain"));
            e.SetArquivoDestino(path("enc"));
            e.ExcecaoErro = true;
            e.Executar();
            const std::string enc = test::readFile(path("enc"));
            ASSERT_EQ(enc.size(), size + 1);
            EXPECT_TRUE(enc.substr(1) == referenceXor(data, e.Senha()));

            TDecryptFile d;
            d.SetSenha(password);
            d.SetArquivoOriginal(path("enc"));
            d.SetArquivoDestino(path("back"));
            d.ExcecaoErro = true;
            d.Executar();
            EXPECT_TRUE(test::readFile(path("back")) == data);
        }
    }
}

TEST_F(FileCipherTest, FailuresAreRecordedOrRaisedByExcecaoErro)
{
    test::writeFile(path("empty"), "");
    struct Case
    {
        const char* name;
        std::string source;
        std::string destination;
        std::string message;
    };
    const std::vector<Case> cases{
        {"missing source", path("missing"), path("out"), "Erro (2) ao abrir arquivo: " + path("missing")},
        {"zero-byte source has no leading byte", path("empty"), path("out"), "Arquivo cifrado vazio: " + path("empty")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("out"));
        TDecryptFile quiet;
        quiet.SetArquivoOriginal(c.source);
        quiet.SetArquivoDestino(c.destination);
        EXPECT_NO_THROW(quiet.Executar());
        EXPECT_FALSE(quiet.SucessoExecucao());
        EXPECT_EQ(quiet.MsgErro(), c.message);
        EXPECT_FALSE(fs::exists(path("out")));

        TDecryptFile loud;
        loud.SetArquivoOriginal(c.source);
        loud.SetArquivoDestino(c.destination);
        loud.ExcecaoErro = true;
        EXPECT_THROW(loud.Executar(), Error);
        EXPECT_EQ(loud.MsgErro(), c.message);
    }

    // A success after a failure sets the flag and keeps the old message.
    test::writeFile(path("ok"), "Zabc");
    TDecryptFile d;
    d.SetArquivoOriginal(path("missing"));
    d.SetArquivoDestino(path("out"));
    d.Executar();
    d.SetArquivoOriginal(path("ok"));
    d.Executar();
    EXPECT_TRUE(d.SucessoExecucao());
    EXPECT_EQ(d.MsgErro(), "Erro (2) ao abrir arquivo: " + path("missing"));

    test::writeFile(path("x"), "Zabc");
    TDecryptFile noDir;
    noDir.SetArquivoOriginal(path("x"));
    noDir.SetArquivoDestino(path("no/dir/out"));
    noDir.Executar();
    EXPECT_EQ(noDir.MsgErro(), "Erro (2) ao criar arquivo: " + path("no/dir/out"));
}

}  // namespace
}  // namespace vek::crypto
