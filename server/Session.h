#pragma once

#include "platform/Socket.h"
#include "wire/Frame.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace vek::platform {
struct LocalDateTime;
}

namespace vek::server {

class Authenticator;
class ServerKey;
class Store;
struct ServerConfig;
struct UploadRecord;

// What every connection shares.
struct ServerContext
{
    const ServerConfig& config;
    Store& store;
    const ServerKey& key;
    const Authenticator& authenticator;
    const std::atomic<bool>& stopping;
};

// One client connection: reads requests and runs the exchange each one opens,
// until the client closes, stays silent too long, or sends a frame that no
// exchange expects there (the connection is then closed). Each exchange's
// code lives in the file named after it.
class Session
{
public:
    Session(const ServerContext& context, platform::TcpSocket socket);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    void run();

private:
    // False when the client closed, the idle time ran out or the server stops.
    bool waitForRequest();
    // Sends what was queued before it could wait for the client.
    wire::Message read();
    // Queued replies first, then this frame, all written before returning.
    void send(std::uint8_t code, std::string_view payload = {});
    void send(std::uint8_t code, std::span<const std::uint8_t> payload);
    // A reply held back while the client's next frame is already here, so a
    // client that sends many frames before reading gets their replies in one
    // write; stop-and-wait clients get each one at once.
    void queue(std::uint8_t code, std::string_view payload = {});
    void queue(std::uint8_t code, std::span<const std::uint8_t> payload);
    void flush();
    // CMD_NEGADO with the reason, in Windows-1252.
    void deny(const std::string& reason);
    void log(const std::string& line) const;

    // TypeLists.cpp
    void answerTiposEnvio();
    void answerTiposDownload();
    // Upload.cpp: the exchange, then its steps; a step that returns false
    // found the client out of the sequence and the connection ends.
    struct Upload;
    void runUpload(const wire::Message& request);
    bool authorizeUpload(const wire::Message& request, Upload& u);
    bool receiveSymmetricKey(Upload& u);
    bool receiveHash(Upload& u);
    bool receiveSize(Upload& u);
    bool receiveBlocks(Upload& u);
    // Sent at once, or queued while the next frame is already here (see queue()).
    void acknowledgeOrRefuse(const Upload& u);
    void checkReceivedFile(Upload& u);
    void storeAndSendReceipt(Upload& u);
    std::optional<UploadRecord> storeUpload(Upload& u, const platform::LocalDateTime& now);
    // ListQuery.cpp
    struct ListRequest;
    void runListQuery(const wire::Message& request);
    std::optional<ListRequest> acceptListRequest(const wire::Message& request);
    // History.cpp
    void runHistory(const wire::Message& request);
    // PasswordChange.cpp
    void runPasswordChange(const wire::Message& request);
    // ListFile.cpp: a data packet gzipped and sent as the list file `name`:
    // header 7, blocks 9 each waiting for the client's acknowledgement, 10.
    // False (logged) when the client answered a block with anything else.
    bool sendListFile(const std::string& name, const std::string& document);

    const ServerContext& context_;
    platform::TcpSocket socket_;
    wire::FrameReader reader_{socket_};
    std::vector<std::uint8_t> queued_;  // replies not written yet, in order
    std::string peer_;
    std::string validationText_;  // message 18, for the upload that follows
};

}  // namespace vek::server
