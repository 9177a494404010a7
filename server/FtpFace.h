#pragma once

#include "platform/Socket.h"
#include "server/Store.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace vek::server {

struct ServerContext;

// One connection to the FTP face: the subset the download uses. The login is
// the per-query credentials of a list query and every file request carries
// the operator's password and the query's identifier, all enciphered with the
// protocol string cipher. Files go out over an active-mode data connection,
// only towards the control connection's own peer, as they are stored:
// enciphered with the file cipher under their listed key.
class FtpSession
{
public:
    FtpSession(const ServerContext& context, platform::TcpSocket socket);
    void run();

private:
    struct DataTarget
    {
        std::string address;
        std::uint16_t port = 0;
    };

    // One command line without its line end; nothing when the client closed,
    // stayed silent too long or the server stops.
    std::optional<std::string> readLine();
    void reply(int code, const std::string& text);
    void replyLines(const std::string& lines);
    // False when the connection must end.
    bool dispatch(const std::string& verb, const std::string& argument);

    void user(const std::string& argument);
    bool pass(const std::string& argument);
    void port(const std::string& argument);
    void type(const std::string& argument);
    void size(const std::string& argument);
    void retr(const std::string& argument);
    void endOfFileNotice(const std::string& text);
    void sendFile(const AvailableFile& file);
    // The file a request names when every field checks out against the
    // login and the store; otherwise nothing, and `why` says what failed.
    std::optional<AvailableFile> checkedRequest(const std::string& text, std::string& why) const;
    void log(const std::string& line) const;

    const ServerContext& context_;
    platform::TcpSocket socket_;
    std::string peer_;
    std::string buffer_;
    std::string user_;
    std::optional<DownloadCredentials> login_;
    std::optional<DataTarget> dataTarget_;
    int failedLogins_ = 0;
    // Files sent whole on this connection: only these may be reported received.
    std::set<std::int64_t> served_;
};

}  // namespace vek::server
