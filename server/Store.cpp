#include "server/Store.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"

#include <gcrypt.h>
#include <sqlite3.h>

#include <array>
#include <ctime>
#include <mutex>
#include <span>
#include <sstream>
#include <string_view>

namespace vek::server {
namespace {

constexpr int BusyTimeoutMs = 10000;
constexpr std::size_t SaltSize = 16;
constexpr std::size_t HashSize = 32;

// The type lists a demo store starts with.
constexpr const char* DemoTiposEnvio = "XML#Arquivo de dados XML|TXT#Arquivo texto|ZIP#Arquivo compactado|"
                                       "CSV#Planilha em texto (CSV)|PDF#Documento de informações";
constexpr const char* DemoTiposDownload = "RET#Arquivo de retorno|CNF#Conferência de cadastro|"
                                          "REL#Relatório de processamento";
constexpr const char* DemoOperator = "123456";
constexpr const char* DemoPassword = "demo";

// Schema steps; step i brings the store from version i to i + 1.
constexpr std::array<const char*, Store::SchemaVersion> Migrations = {
    // 1: type lists and operators
    "CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE operators(registro TEXT PRIMARY KEY, salt BLOB NOT NULL, hash BLOB NOT NULL,"
    " iterations INTEGER NOT NULL, updated_at TEXT NOT NULL);",
    // 2: protocol numbers and received uploads
    "CREATE TABLE protocol_sequence(id INTEGER PRIMARY KEY CHECK(id = 1), last INTEGER NOT NULL);"
    "INSERT INTO protocol_sequence(id, last) VALUES(1, 0);"
    "CREATE TABLE uploads(protocol INTEGER PRIMARY KEY, operator TEXT NOT NULL, file_type TEXT NOT NULL,"
    " file_name TEXT NOT NULL, size INTEGER NOT NULL, stored_path TEXT NOT NULL, received_at TEXT NOT NULL,"
    " client_address TEXT NOT NULL, authentication TEXT NOT NULL, hash_text TEXT NOT NULL,"
    " validation_text TEXT NOT NULL, application TEXT NOT NULL, version TEXT NOT NULL,"
    " system_name TEXT NOT NULL);"
    "CREATE INDEX uploads_by_operator ON uploads(operator, received_at);",
    // 3: files available for download
    "CREATE TABLE available_files(id INTEGER PRIMARY KEY AUTOINCREMENT, operator TEXT NOT NULL,"
    " file_type TEXT NOT NULL, file_name TEXT NOT NULL, description TEXT NOT NULL, competence TEXT NOT NULL,"
    " size INTEGER NOT NULL, stored_path TEXT NOT NULL, cipher_key TEXT NOT NULL, registered_at TEXT NOT NULL,"
    " last_download TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX available_by_operator ON available_files(operator, file_type);",
    // 4: login of the FTP face, one per list query
    "CREATE TABLE download_credentials(user TEXT PRIMARY KEY, password_hash BLOB NOT NULL,"
    " identifier TEXT NOT NULL, operator TEXT NOT NULL, expires_at INTEGER NOT NULL);",
};

struct DbCloser
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

[[noreturn]] void fail(sqlite3* db, const std::string& what)
{
    throw Error("Banco de dados: " + what + ": " + (db ? sqlite3_errmsg(db) : "sem conexão"));
}

class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
        : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            fail(db, sql);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, const std::string& text)
    {
        check(sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int i, std::int64_t value)
    {
        check(sqlite3_bind_int64(stmt_, i, value));
        return *this;
    }
    Statement& bindBlob(int i, const void* data, std::size_t size)
    {
        check(sqlite3_bind_blob(stmt_, i, data, static_cast<int>(size), SQLITE_TRANSIENT));
        return *this;
    }

    // True while a row is ready.
    bool step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        fail(db_, "step");
    }
    void run()
    {
        while (step()) {
        }
    }

    std::string text(int col) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::vector<std::uint8_t> blob(int col) const
    {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, col));
        const auto n = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col));
        return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK) {
            fail(db_, "bind");
        }
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "erro";
        sqlite3_free(message);
        throw Error("Banco de dados: " + text);
    }
}

// Rolls back unless committed; the scope's exception then goes on untouched.
class Transaction
{
public:
    explicit Transaction(sqlite3* db)
        : db_(db)
    {
        exec(db_, "BEGIN IMMEDIATE");
    }
    ~Transaction()
    {
        if (!done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit()
    {
        exec(db_, "COMMIT");
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

std::string nowText()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::array<std::uint8_t, HashSize>
deriveHash(const std::string& password, std::span<const std::uint8_t> salt, unsigned long iterations)
{
    crypto::ensureGcrypt();
    std::array<std::uint8_t, HashSize> out{};
    const gcry_error_t err = gcry_kdf_derive(password.data(),
                                             password.size(),
                                             GCRY_KDF_PBKDF2,
                                             GCRY_MD_SHA256,
                                             salt.data(),
                                             salt.size(),
                                             iterations,
                                             out.size(),
                                             out.data());
    if (err != 0) {
        throw Error("Derivação da senha: " + crypto::gcryptMessage(err));
    }
    return out;
}

UploadRecord recordOf(const Statement& s)
{
    UploadRecord r;
    r.protocol = s.integer(0);
    r.operatorId = s.text(1);
    r.fileType = s.text(2);
    r.fileName = s.text(3);
    r.size = s.integer(4);
    r.storedPath = s.text(5);
    r.receivedAt = s.text(6);
    r.clientAddress = s.text(7);
    r.authentication = s.text(8);
    r.hashText = s.text(9);
    r.validationText = s.text(10);
    r.application = s.text(11);
    r.version = s.text(12);
    r.systemName = s.text(13);
    return r;
}

constexpr const char* AvailableColumns = "id, operator, file_type, file_name, description, competence, size,"
                                         " stored_path, cipher_key, registered_at, last_download";

AvailableFile availableOf(const Statement& s)
{
    AvailableFile f;
    f.id = s.integer(0);
    f.operatorId = s.text(1);
    f.fileType = s.text(2);
    f.fileName = s.text(3);
    f.description = s.text(4);
    f.competence = s.text(5);
    f.size = s.integer(6);
    f.storedPath = s.text(7);
    f.cipherKey = s.text(8);
    f.registeredAt = s.text(9);
    f.lastDownload = s.text(10);
    return f;
}

// Letters and digits only: credentials travel joined by "|" and enciphered.
std::string randomText(std::size_t length)
{
    static constexpr std::string_view Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    crypto::ensureGcrypt();
    std::string out;
    while (out.size() < length) {
        std::array<unsigned char, 32> bytes{};
        gcry_randomize(bytes.data(), bytes.size(), GCRY_STRONG_RANDOM);
        for (const unsigned char b : bytes) {
            // 248 = 4 * 62: every character equally likely.
            if (b < 248 && out.size() < length) {
                out += Alphabet[b % Alphabet.size()];
            }
        }
    }
    return out;
}

std::array<std::uint8_t, HashSize> sha256Of(const std::string& text)
{
    crypto::ensureGcrypt();
    std::array<std::uint8_t, HashSize> out{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, out.data(), text.data(), text.size());
    return out;
}

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    if (a.size() != b.size()) {
        return false;
    }
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
    return diff == 0;
}

constexpr const char* UploadColumns =
    "protocol, operator, file_type, file_name, size, stored_path, received_at, client_address,"
    " authentication, hash_text, validation_text, application, version, system_name";

// A damaged store is refused before anything is read from it or written to
// it, so that no upload is stored into it and no receipt promises a row that
// may be lost.
void checkIntegrity(sqlite3* db, const std::filesystem::path& file)
{
    std::string problems;
    try {
        Statement s(db, "PRAGMA quick_check");
        while (s.step()) {
            const std::string row = s.text(0);
            if (row != "ok" && problems.size() < 500) {
                problems += (problems.empty() ? "" : "; ") + row;
            }
        }
    } catch (const Error& e) {
        problems = e.what();
    }
    if (!problems.empty()) {
        throw Error("Banco de dados " + file.string() + " está danificado (" + problems +
                    "). Restaure uma cópia de segurança, ou mova-o para outro lugar para começar com um banco "
                    "vazio.");
    }
}

}  // namespace

struct Store::Impl
{
    mutable std::mutex mutex;
    Db db;

    std::string setting(const char* key) const
    {
        Statement s(db.get(), "SELECT value FROM settings WHERE key = ?1");
        s.bind(1, std::string(key));
        return s.step() ? s.text(0) : std::string();
    }
    void setSetting(const char* key, const std::string& value)
    {
        Statement s(db.get(),
                    "INSERT INTO settings(key, value) VALUES(?1, ?2)"
                    " ON CONFLICT(key) DO UPDATE SET value = excluded.value");
        s.bind(1, std::string(key)).bind(2, value).run();
    }
    int version() const
    {
        Statement s(db.get(), "SELECT version FROM schema_version");
        return s.step() ? static_cast<int>(s.integer(0)) : 0;
    }
};

Store::Store(const std::filesystem::path& file, Open open)
    : impl_(std::make_unique<Impl>())
{
    sqlite3* raw = nullptr;
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (open == Open::CreateWhenMissing ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    impl_->db.reset(raw);
    if (rc != SQLITE_OK) {
        fail(raw, "abrir " + file.string());
    }
    sqlite3* db = impl_->db.get();
    // SQLite falls back to reading only; every later write would then fail
    // with the client seeing nothing but an internal error.
    if (sqlite3_db_readonly(db, "main") == 1) {
        throw Error("Banco de dados " + file.string() +
                    ": este usuário não pode escrever nele (dono ou modo do "
                    "arquivo); corrija-os ou rode o zebd como o dono do banco.");
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    checkIntegrity(db, file);
    exec(db, "PRAGMA journal_mode=WAL");
    // A receipt is only sent once its row is on disk.
    exec(db, "PRAGMA synchronous=FULL");
    exec(db, "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");

    Transaction t(db);
    int version = impl_->version();
    if (version > SchemaVersion) {
        throw Error("Banco de dados " + file.string() + " está no esquema " + std::to_string(version) +
                    ", mais novo que o deste programa (" + std::to_string(SchemaVersion) + ")");
    }
    if (version == SchemaVersion) {
        return;  // the transaction rolls back: nothing was written
    }
    for (; version < SchemaVersion; ++version) {
        exec(db, Migrations[static_cast<std::size_t>(version)]);
    }
    exec(db, "DELETE FROM schema_version");
    Statement(db, "INSERT INTO schema_version(version) VALUES(?1)").bind(1, std::int64_t{SchemaVersion}).run();
    t.commit();
}

Store::~Store() = default;

int Store::schemaVersion() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->version();
}

bool Store::seedDemo()
{
    {
        std::lock_guard lock(impl_->mutex);
        Statement s(impl_->db.get(), "SELECT (SELECT count(*) FROM operators) + (SELECT count(*) FROM settings)");
        if (s.step() && s.integer(0) != 0) {
            return false;
        }
        Transaction t(impl_->db.get());
        impl_->setSetting("tipos_envio", DemoTiposEnvio);
        impl_->setSetting("tipos_download", DemoTiposDownload);
        t.commit();
    }
    setOperator(DemoOperator, DemoPassword);
    return true;
}

bool Store::hasOperators() const
{
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(), "SELECT EXISTS(SELECT 1 FROM operators)");
    return s.step() && s.integer(0) != 0;
}

std::string Store::tiposEnvio() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->setting("tipos_envio");
}

std::string Store::tiposDownload() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->setting("tipos_download");
}

void Store::setTiposEnvio(const std::string& list)
{
    std::lock_guard lock(impl_->mutex);
    impl_->setSetting("tipos_envio", list);
}

void Store::setTiposDownload(const std::string& list)
{
    std::lock_guard lock(impl_->mutex);
    impl_->setSetting("tipos_download", list);
}

void Store::setOperator(const std::string& registro, const std::string& password, unsigned long iterations)
{
    crypto::ensureGcrypt();
    std::array<std::uint8_t, SaltSize> salt{};
    gcry_randomize(salt.data(), salt.size(), GCRY_STRONG_RANDOM);
    const auto hash = deriveHash(password, salt, iterations);

    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(),
                "INSERT INTO operators(registro, salt, hash, iterations, updated_at) VALUES(?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT(registro) DO UPDATE SET salt = excluded.salt, hash = excluded.hash,"
                " iterations = excluded.iterations, updated_at = excluded.updated_at");
    s.bind(1, registro)
        .bindBlob(2, salt.data(), salt.size())
        .bindBlob(3, hash.data(), hash.size())
        .bind(4, static_cast<std::int64_t>(iterations))
        .bind(5, nowText())
        .run();
}

bool Store::hasOperator(const std::string& registro) const
{
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(), "SELECT 1 FROM operators WHERE registro = ?1");
    s.bind(1, registro);
    return s.step();
}

bool Store::checkOperator(const std::string& registro, const std::string& password) const
{
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> stored;
    unsigned long iterations = 0;
    {
        std::lock_guard lock(impl_->mutex);
        Statement s(impl_->db.get(), "SELECT salt, hash, iterations FROM operators WHERE registro = ?1");
        s.bind(1, registro);
        if (!s.step()) {
            return false;
        }
        salt = s.blob(0);
        stored = s.blob(1);
        iterations = static_cast<unsigned long>(s.integer(2));
    }
    // The hash runs outside the lock: it is the slow part and needs no store.
    const auto hash = deriveHash(password, salt, iterations);
    if (stored.size() != hash.size()) {
        return false;
    }
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < hash.size(); ++i) {
        diff |= static_cast<std::uint8_t>(hash[i] ^ stored[i]);
    }
    return diff == 0;
}

std::int64_t Store::nextProtocol()
{
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(), "UPDATE protocol_sequence SET last = last + 1 WHERE id = 1 RETURNING last");
    if (!s.step()) {
        fail(impl_->db.get(), "sequência de protocolos ausente");
    }
    const std::int64_t protocol = s.integer(0);
    s.run();
    return protocol;
}

void Store::addUpload(const UploadRecord& r)
{
    std::lock_guard lock(impl_->mutex);
    Transaction t(impl_->db.get());
    Statement s(impl_->db.get(),
                "INSERT INTO uploads(protocol, operator, file_type, file_name, size, stored_path, received_at,"
                " client_address, authentication, hash_text, validation_text, application, version, system_name)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    s.bind(1, r.protocol)
        .bind(2, r.operatorId)
        .bind(3, r.fileType)
        .bind(4, r.fileName)
        .bind(5, r.size)
        .bind(6, r.storedPath)
        .bind(7, r.receivedAt)
        .bind(8, r.clientAddress)
        .bind(9, r.authentication)
        .bind(10, r.hashText)
        .bind(11, r.validationText)
        .bind(12, r.application)
        .bind(13, r.version)
        .bind(14, r.systemName)
        .run();
    t.commit();
}

std::vector<UploadRecord> Store::uploads() const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql = std::string("SELECT ") + UploadColumns + " FROM uploads ORDER BY protocol";
    Statement s(impl_->db.get(), sql.c_str());
    std::vector<UploadRecord> out;
    while (s.step()) {
        out.push_back(recordOf(s));
    }
    return out;
}

std::optional<UploadRecord> Store::upload(std::int64_t protocol) const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql = std::string("SELECT ") + UploadColumns + " FROM uploads WHERE protocol = ?1";
    Statement s(impl_->db.get(), sql.c_str());
    s.bind(1, protocol);
    if (!s.step()) {
        return std::nullopt;
    }
    return recordOf(s);
}

std::int64_t Store::addAvailableFile(const AvailableFile& f)
{
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(),
                "INSERT INTO available_files(operator, file_type, file_name, description, competence, size,"
                " stored_path, cipher_key, registered_at) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) RETURNING id");
    s.bind(1, f.operatorId)
        .bind(2, f.fileType)
        .bind(3, f.fileName)
        .bind(4, f.description)
        .bind(5, f.competence)
        .bind(6, f.size)
        .bind(7, f.storedPath)
        .bind(8, f.cipherKey)
        .bind(9, f.registeredAt.empty() ? nowText() : f.registeredAt);
    if (!s.step()) {
        fail(impl_->db.get(), "arquivo disponível sem identificador");
    }
    const std::int64_t id = s.integer(0);
    s.run();
    return id;
}

std::vector<AvailableFile> Store::availableFiles() const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql = std::string("SELECT ") + AvailableColumns + " FROM available_files ORDER BY id";
    Statement s(impl_->db.get(), sql.c_str());
    std::vector<AvailableFile> out;
    while (s.step()) {
        out.push_back(availableOf(s));
    }
    return out;
}

std::vector<AvailableFile> Store::availableFiles(const std::string& operatorId,
                                                 const std::string& fileType,
                                                 const std::string& competence,
                                                 const std::string& availabilityMonth) const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql =
        std::string("SELECT ") + AvailableColumns +
        " FROM available_files WHERE operator = ?1 AND file_type = ?2 AND (?3 = '' OR competence = ?3)"
        " AND (?4 = '' OR substr(registered_at, 6, 2) || '/' || substr(registered_at, 1, 4) = ?4)"
        " ORDER BY registered_at DESC, id DESC";
    Statement s(impl_->db.get(), sql.c_str());
    s.bind(1, operatorId).bind(2, fileType).bind(3, competence).bind(4, availabilityMonth);
    std::vector<AvailableFile> out;
    while (s.step()) {
        out.push_back(availableOf(s));
    }
    return out;
}

std::optional<AvailableFile> Store::availableFile(std::int64_t id) const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql = std::string("SELECT ") + AvailableColumns + " FROM available_files WHERE id = ?1";
    Statement s(impl_->db.get(), sql.c_str());
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    return availableOf(s);
}

void Store::recordDownload(std::int64_t id)
{
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db.get(), "UPDATE available_files SET last_download = ?1 WHERE id = ?2");
    s.bind(1, nowText()).bind(2, id).run();
}

std::vector<UploadRecord>
Store::uploadsOf(const std::string& operatorId, const std::string& fromDay, const std::string& toDay) const
{
    std::lock_guard lock(impl_->mutex);
    const std::string sql = std::string("SELECT ") + UploadColumns +
                            " FROM uploads WHERE operator = ?1 AND substr(received_at, 1, 10) BETWEEN ?2 AND ?3"
                            " ORDER BY received_at, protocol";
    Statement s(impl_->db.get(), sql.c_str());
    s.bind(1, operatorId).bind(2, fromDay).bind(3, toDay);
    std::vector<UploadRecord> out;
    while (s.step()) {
        out.push_back(recordOf(s));
    }
    return out;
}

DownloadCredentials Store::issueDownloadCredentials(const std::string& operatorId, std::chrono::seconds lifetime)
{
    DownloadCredentials c;
    c.user = "zeb" + randomText(13);
    c.password = randomText(20);
    c.identifier = randomText(24);
    c.operatorId = operatorId;
    const auto hash = sha256Of(c.password);
    const std::int64_t now = std::time(nullptr);

    std::lock_guard lock(impl_->mutex);
    Transaction t(impl_->db.get());
    Statement(impl_->db.get(), "DELETE FROM download_credentials WHERE expires_at <= ?1").bind(1, now).run();
    Statement(impl_->db.get(),
              "INSERT INTO download_credentials(user, password_hash, identifier, operator, expires_at)"
              " VALUES(?1, ?2, ?3, ?4, ?5)")
        .bind(1, c.user)
        .bindBlob(2, hash.data(), hash.size())
        .bind(3, c.identifier)
        .bind(4, c.operatorId)
        .bind(5, now + static_cast<std::int64_t>(lifetime.count()))
        .run();
    t.commit();
    return c;
}

std::optional<DownloadCredentials> Store::findDownloadCredentials(const std::string& user,
                                                                  const std::string& password) const
{
    std::vector<std::uint8_t> stored;
    DownloadCredentials c;
    {
        std::lock_guard lock(impl_->mutex);
        Statement s(impl_->db.get(),
                    "SELECT password_hash, identifier, operator FROM download_credentials"
                    " WHERE user = ?1 AND expires_at > ?2");
        s.bind(1, user).bind(2, static_cast<std::int64_t>(std::time(nullptr)));
        if (!s.step()) {
            return std::nullopt;
        }
        stored = s.blob(0);
        c.identifier = s.text(1);
        c.operatorId = s.text(2);
    }
    if (!sameBytes(sha256Of(password), stored)) {
        return std::nullopt;
    }
    c.user = user;
    c.password = password;
    return c;
}

std::vector<std::string> listCodes(const std::string& list)
{
    std::vector<std::string> codes;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, '|')) {
        const auto hash = item.find('#');
        std::string code = item.substr(0, hash);
        if (!code.empty()) {
            codes.push_back(code);
        }
    }
    return codes;
}

}  // namespace vek::server
