#pragma once

#include "platform/Error.h"

#include <exception>
#include <functional>

namespace vek::channel {

class TCanalZEBCliente;

// One exchange of a public operation with the agency's server. It owns what
// every exchange shares, so that an exchange's own code reads as its message
// sequence:
// - connect() opens the connection to the message server (Conectar, with its
//   retries);
// - however the exchange ends, the socket is closed and the keys of an upload
//   go (the server's key released, the symmetric key wiped) with its
//   enciphered work file, before an error
//   leaves run(); close() does it earlier where the exchange says so;
// - an error leaves by the user-message rule: a text that begins with the
//   prefix reaches the caller as the text after it, any other error as the
//   operation's own generic error. Both keep the system error code.
class Exchange
{
public:
    // The operation's own error for a failure without the prefix, from its
    // system error code (0 when it has none). It may report before it returns.
    using GenericError = std::function<Error(int code)>;

    // Without a generic error, failures leave unchanged, prefix and all.
    explicit Exchange(TCanalZEBCliente& canal, GenericError generic = {});
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Runs the exchange's steps, then closes.
    template <class Steps> void run(Steps&& steps)
    {
        try {
            steps();
        } catch (const std::exception& e) {
            close();
            if (!generic_) {
                throw;
            }
            throw forCaller(e);
        }
        close();
    }

    void connect();
    void close() noexcept;

    // The system error code an error carries (0 for one that is not a vek::Error).
    [[nodiscard]] static int codeOf(const std::exception& e);

private:
    [[nodiscard]] Error forCaller(const std::exception& e) const;

    TCanalZEBCliente& canal_;
    GenericError generic_;
};

}  // namespace vek::channel
