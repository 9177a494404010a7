#pragma once

#include <chrono>
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

// Login of the FTP face handed out at the end of a list query: a user and
// password of its own and an identifier that the download requests repeat.
struct DownloadCredentials
{
    std::string user;
    std::string password;
    std::string identifier;
    std::string operatorId;
};

// The server's SQLite store: type lists, operators, protocol numbers and the
// history of received uploads. Safe to use from several threads; other
// processes (the administration commands) may use the same file at once.
class Store
{
public:
    static constexpr int SchemaVersion = 4;
    // PBKDF2-SHA256 rounds for new password hashes.
    static constexpr unsigned long DefaultKdfIterations = 50000;

    enum class Open
    {
        CreateWhenMissing,
        MustExist,
    };

    // Opens (creating when missing, unless told otherwise) and brings the
    // schema up to date. Throws vek::Error when the file cannot be opened,
    // cannot be written by this process, or was written by a newer schema
    // than this program knows.
    explicit Store(const std::filesystem::path& file, Open open = Open::CreateWhenMissing);
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
    [[nodiscard]] bool hasOperators() const;

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
    // An operator's files of one type, optionally only those of a competence
    // month and those made available in a month (both "MM/AAAA"; empty: any).
    [[nodiscard]] std::vector<AvailableFile> availableFiles(const std::string& operatorId,
                                                            const std::string& fileType,
                                                            const std::string& competence,
                                                            const std::string& availabilityMonth) const;
    [[nodiscard]] std::optional<AvailableFile> availableFile(std::int64_t id) const;
    // Marks the file as downloaded now.
    void recordDownload(std::int64_t id);

    // An operator's uploads received on the days from..to ("yyyy-mm-dd",
    // both included), oldest first.
    [[nodiscard]] std::vector<UploadRecord>
    uploadsOf(const std::string& operatorId, const std::string& fromDay, const std::string& toDay) const;

    // Fresh random credentials for the operator, valid for `lifetime`. Only a
    // hash of the password is kept; expired ones are dropped on the way.
    [[nodiscard]] DownloadCredentials issueDownloadCredentials(const std::string& operatorId,
                                                               std::chrono::seconds lifetime);
    // The credentials with this user and password, when they have not expired.
    [[nodiscard]] std::optional<DownloadCredentials> findDownloadCredentials(const std::string& user,
                                                                             const std::string& password) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "COD#Descrição" items of a list text; the codes only.
std::vector<std::string> listCodes(const std::string& list);

}  // namespace vek::server
