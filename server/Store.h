#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vek::server {

// A file made available to an operator for download. Texts are UTF-8.
struct AvailableFile
{
    std::int64_t id = 0;
    std::string operatorId;
    std::string fileType;
    std::string fileName;  // as the operator will receive it
    std::string description;
    std::string competence;    // "MM/AAAA" or empty
    std::int64_t size = 0;     // bytes of the plain file
    std::string storedPath;    // the enciphered file
    std::string cipherKey;     // password of the file cipher
    std::string registeredAt;  // "yyyy-mm-dd hh:nn:ss", server local time
    std::string lastDownload;  // same form; empty before the first one
};

// One received upload, as the history keeps it. Texts are UTF-8.
struct UploadRecord
{
    std::int64_t protocol = 0;
    std::string operatorId;
    std::string fileType;
    std::string fileName;    // as the operator sent it
    std::int64_t size = 0;   // bytes of the expanded file
    std::string storedPath;  // where the expanded file lives
    std::string receivedAt;  // "yyyy-mm-dd hh:nn:ss", server local time
    std::string clientAddress;
    std::string authentication;
    std::string hashText;        // what message 43 carried
    std::string validationText;  // what message 18 carried
    std::string application;
    std::string version;
    std::string systemName;
};

// The server's SQLite store: type lists, operators, protocol numbers and the
// history of received uploads. Safe to use from several threads; other
// processes (the administration commands) may use the same file at once.
class Store
{
public:
    static constexpr int SchemaVersion = 3;
    // PBKDF2-SHA256 rounds for new password hashes.
    static constexpr unsigned long DefaultKdfIterations = 50000;

    // Opens (creating when missing) and brings the schema up to date. Throws
    // vek::Error when the file cannot be opened or was written by a newer
    // schema than this program knows.
    explicit Store(const std::filesystem::path& file);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    [[nodiscard]] int schemaVersion() const;

    // Seeds the demo operator and type lists when the store holds neither
    // operators nor lists; returns whether it did.
    bool seedDemo();

    // The lists as "COD#Descrição|..." in UTF-8; empty when never set.
    [[nodiscard]] std::string tiposEnvio() const;
    [[nodiscard]] std::string tiposDownload() const;
    void setTiposEnvio(const std::string& list);
    void setTiposDownload(const std::string& list);

    // Passwords are the bytes the client enciphers (Windows-1252). Only a
    // salted PBKDF2 hash is kept.
    void setOperator(const std::string& registro,
                     const std::string& password,
                     unsigned long iterations = DefaultKdfIterations);
    [[nodiscard]] bool checkOperator(const std::string& registro, const std::string& password) const;
    [[nodiscard]] bool hasOperator(const std::string& registro) const;

    // A fresh protocol number, larger than every one handed out before (also
    // by other processes on the same file). A number whose upload then fails
    // is never handed out again.
    [[nodiscard]] std::int64_t nextProtocol();

    void addUpload(const UploadRecord& record);
    [[nodiscard]] std::vector<UploadRecord> uploads() const;
    [[nodiscard]] std::optional<UploadRecord> upload(std::int64_t protocol) const;

    // Records a file made available; returns its identifier.
    std::int64_t addAvailableFile(const AvailableFile& file);
    [[nodiscard]] std::vector<AvailableFile> availableFiles() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "COD#Descrição" items of a list text; the codes only.
std::vector<std::string> listCodes(const std::string& list);

}  // namespace vek::server
