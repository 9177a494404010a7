#pragma once

#include "channel/TCanalZEBCliente.h"
#include "platform/Socket.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace vek::fuzz {

// A client whose one connection is a socket pair: the far end plays the
// input as everything the server says, from its first message on. Progress
// events must report percentages from 0 to 100, whatever the server sent.
class ScriptedClient : public channel::TCanalZEBCliente
{
public:
    explicit ScriptedClient(std::string_view serverBytes)
    {
        const auto [near, far] = socketPair();
        near_ = near;
        peer_ = std::make_unique<ScriptedPeer>(far, std::vector<std::uint8_t>(serverBytes.begin(), serverBytes.end()));
        timeouts = quickTimeouts();
        CD_Operadora = "123456";
        Senha = "demo";
        maxListFileBytes = 1024 * 1024;
        const auto checkPercent =
            [](channel::TCanalZEBCliente&, channel::TTipoStatusEtapa, std::int32_t percent, const std::string&) {
                checkedPercent(percent);
            };
        AoConsultarListaDownload = checkPercent;
        AoConsultaHistoricoTx = checkPercent;
        AoReceberArquivo = [](channel::TCanalZEBCliente&, const channel::TStatusDownload& s) {
            checkedPercent(s.PercentFeito);
        };
    }
    ~ScriptedClient() override
    {
        socCliente().close();
        if (near_ >= 0) {
            ::close(near_);  // never connected: the peer still sees its end close
        }
        peer_.reset();
    }
    ScriptedClient(const ScriptedClient&) = delete;
    ScriptedClient& operator=(const ScriptedClient&) = delete;

    static void checkedPercent(std::int32_t percent)
    {
        if (percent < 0 || percent > 100) {
            std::fprintf(stderr, "progress reported %d%%\n", percent);
            std::abort();
        }
    }

protected:
    // The first attempt connects to the scripted peer; a second finds nobody.
    void tentarConexao() override
    {
        if (near_ >= 0) {
            socCliente() = platform::TcpSocket(near_);
            near_ = -1;
        }
    }

private:
    int near_ = -1;
    std::unique_ptr<ScriptedPeer> peer_;
};

}  // namespace vek::fuzz
