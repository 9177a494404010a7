#include "server/Store.h"

#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <thread>

namespace vek::test {
namespace {

// Few rounds: these tests are about the store, not the cost of the hash.
constexpr unsigned long FastKdf = 1000;

void runSql(const std::filesystem::path& file, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

std::int64_t queryInt(const std::filesystem::path& file, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const std::int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
}

TEST(Store, CreatesTheSchemaAndKeepsDataAcrossReopening)
{
    Sandbox dir(false);
    const auto file = dir.path() / "zeb.sqlite3";
    {
        server::Store store(file);
        EXPECT_EQ(store.schemaVersion(), server::Store::SchemaVersion);
        EXPECT_TRUE(store.seedDemo());
        EXPECT_FALSE(store.seedDemo());  // only an empty store is seeded
        store.setTiposEnvio("ABC#Descrição");
    }
    server::Store again(file);
    EXPECT_EQ(again.schemaVersion(), server::Store::SchemaVersion);
    EXPECT_EQ(again.tiposEnvio(), "ABC#Descrição");
    EXPECT_TRUE(again.checkOperator("123456", "demo"));
}

TEST(Store, MigratesAFirstVersionStoreKeepingItsOperators)
{
    Sandbox dir(false);
    const auto file = dir.path() / "zeb.sqlite3";
    {
        server::Store current(dir.path() / "donor.sqlite3");
        current.setOperator("111111", "senha", FastKdf);
    }
    // A store as the first version left it: lists and operators, no uploads.
    runSql(file,
           "CREATE TABLE schema_version(version INTEGER NOT NULL); INSERT INTO schema_version VALUES(1);"
           "CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
           "INSERT INTO settings VALUES('tipos_envio', 'XML#Dados');"
           "CREATE TABLE operators(registro TEXT PRIMARY KEY, salt BLOB NOT NULL, hash BLOB NOT NULL,"
           " iterations INTEGER NOT NULL, updated_at TEXT NOT NULL);"
           "ATTACH '" +
               (dir.path() / "donor.sqlite3").string() +
               "' AS donor;"
               "INSERT INTO operators SELECT * FROM donor.operators;");

    server::Store store(file);
    EXPECT_EQ(store.schemaVersion(), server::Store::SchemaVersion);
    EXPECT_EQ(store.tiposEnvio(), "XML#Dados");
    EXPECT_TRUE(store.checkOperator("111111", "senha"));
    EXPECT_EQ(store.nextProtocol(), 1);
    EXPECT_TRUE(store.uploads().empty());
}

TEST(Store, RefusesAStoreFromANewerProgram)
{
    Sandbox dir(false);
    const auto file = dir.path() / "zeb.sqlite3";
    runSql(file, "CREATE TABLE schema_version(version INTEGER NOT NULL); INSERT INTO schema_version VALUES(99);");
    EXPECT_THROW(server::Store{file}, Error);
}

// A store whose pages were damaged, or a file that is no store at all, is
// refused with a text that says so, and left as it was for its owner.
TEST(Store, RefusesADamagedStoreAtOnce)
{
    struct Case
    {
        const char* name;
        std::function<void(const std::filesystem::path&)> damage;
    };
    const auto overwrite = [](const std::filesystem::path& file, std::streamoff at, std::size_t n) {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        const std::string noise(n, '\x5A');
        f.write(noise.data(), static_cast<std::streamsize>(noise.size()));
    };
    const std::array cases{
        Case{"damaged page headers",
             [&](const auto& file) {
                 overwrite(file, 4096, 64);
                 overwrite(file, 2 * 4096, 64);
             }},
        Case{"no store at all",
             [&](const auto& file) {
                 std::filesystem::resize_file(file, 0);
                 std::ofstream(file, std::ios::binary) << std::string(8192, 'x');
             }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox dir(false);
        const auto file = dir.path() / "zeb.sqlite3";
        {
            server::Store store(file);
            ASSERT_TRUE(store.seedDemo());
        }
        ASSERT_GT(std::filesystem::file_size(file), 3 * 4096U);
        c.damage(file);
        const auto size = std::filesystem::file_size(file);
        try {
            server::Store store(file);
            ADD_FAILURE() << "a damaged store was opened";
        } catch (const Error& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.starts_with("Banco de dados " + file.string() + " está danificado (")) << what;
        }
        EXPECT_EQ(std::filesystem::file_size(file), size);
    }
}

TEST(Store, ChecksOperatorPasswords)
{
    Sandbox dir(false);
    server::Store store(dir.path() / "zeb.sqlite3");
    store.setOperator("123456", "S\xEAnha", FastKdf);  // Windows-1252, as the client sends it
    store.setOperator("654321", "outra", FastKdf);
    struct Case
    {
        const char* name;
        std::string registro;
        std::string senha;
        bool accepted;
    };
    const std::array cases{
        Case{"right password", "123456", "S\xEAnha", true},
        Case{"other letter case", "123456", "s\xEAnha", false},
        Case{"the same text in UTF-8", "123456", "Sênha", false},
        Case{"another operator's password", "123456", "outra", false},
        Case{"empty password", "123456", "", false},
        Case{"unknown operator", "999999", "S\xEAnha", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(store.checkOperator(c.registro, c.senha), c.accepted);
    }

    // A new password replaces the old one.
    store.setOperator("123456", "nova", FastKdf);
    EXPECT_TRUE(store.checkOperator("123456", "nova"));
    EXPECT_FALSE(store.checkOperator("123456", "S\xEAnha"));
}

TEST(Store, OnlyASaltedHashIsKept)
{
    Sandbox dir(false);
    const auto file = dir.path() / "zeb.sqlite3";
    {
        server::Store store(file);
        store.setOperator("111111", "mesma", FastKdf);
        store.setOperator("222222", "mesma", FastKdf);
    }
    const std::string bytes =
        readFile(file) +
        (std::filesystem::exists(file.string() + "-wal") ? readFile(file.string() + "-wal") : std::string());
    EXPECT_EQ(bytes.find("mesma"), std::string::npos);
    // Same password, different salts: different hashes.
    EXPECT_EQ(queryInt(file, "SELECT count(DISTINCT hash) FROM operators"), 2);
    EXPECT_EQ(queryInt(file, "SELECT count(DISTINCT salt) FROM operators"), 2);
}

TEST(Store, ProtocolNumbersAreUniqueAndIncreasingUnderConcurrency)
{
    Sandbox dir(false);
    const auto file = dir.path() / "zeb.sqlite3";
    // Two stores on one file stand for the server and an administration process.
    server::Store a(file);
    server::Store b(file);
    constexpr int Threads = 8;
    constexpr int Each = 50;
    std::vector<std::vector<std::int64_t>> seen(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            server::Store& store = t % 2 == 0 ? a : b;
            for (int i = 0; i < Each; ++i) {
                seen[static_cast<std::size_t>(t)].push_back(store.nextProtocol());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::vector<std::int64_t> all;
    for (const auto& s : seen) {
        EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
        EXPECT_EQ(std::adjacent_find(s.begin(), s.end()), s.end());
        all.insert(all.end(), s.begin(), s.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(Threads * Each));
    EXPECT_GT(server::Store(file).nextProtocol(), all.back());
}

}  // namespace
}  // namespace vek::test
