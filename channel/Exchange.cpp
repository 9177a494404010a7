#include "channel/Exchange.h"

#include "channel/TCanalZEBCliente.h"
#include "wire/UserMessage.h"

#include <string.h>

namespace vek::channel {

Exchange::Exchange(TCanalZEBCliente& canal, GenericError generic)
    : canal_(canal)
    , generic_(std::move(generic))
{}

Exchange::~Exchange()
{
    close();
}

void Exchange::connect()
{
    canal_.Conectar();
}

void Exchange::close() noexcept
{
    canal_.ChaveServidor.reset();
    if (!canal_.ChaveSimetrica.empty()) {
        explicit_bzero(canal_.ChaveSimetrica.data(), canal_.ChaveSimetrica.size());
        canal_.ChaveSimetrica.clear();
    }
    canal_.BlocosDados.release();
    canal_.fecharSocket();
}

int Exchange::codeOf(const std::exception& e)
{
    const auto* err = dynamic_cast<const Error*>(&e);
    return err != nullptr ? err->code() : 0;
}

Error Exchange::forCaller(const std::exception& e) const
{
    const int code = codeOf(e);
    if (wire::hasUserMessagePrefix(e.what())) {
        return Error(wire::withoutUserMessagePrefix(e.what()), code);
    }
    return generic_(code);
}

}  // namespace vek::channel
