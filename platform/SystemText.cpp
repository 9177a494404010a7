#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace vek::platform {
namespace {

enum class Source
{
    Errno,     // errno values
    Resolver,  // getaddrinfo result codes (EAI_*)
};

struct Entry
{
    Source source;
    int code;
    const char* text;
};

// The one table of the system's failure texts in Portuguese.
constexpr Entry Texts[] = {
    // Connections
    {Source::Errno, ECONNREFUSED, "conexão recusada (nenhum serviço atende nesse endereço e porta)"},
    {Source::Errno, ECONNRESET, "a conexão foi reiniciada pelo outro lado"},
    {Source::Errno, ECONNABORTED, "a conexão foi interrompida"},
    {Source::Errno, ETIMEDOUT, "tempo de conexão esgotado"},
    {Source::Errno, EHOSTUNREACH, "o servidor está inacessível (não há rota até ele)"},
    {Source::Errno, EHOSTDOWN, "o servidor está fora do ar"},
    {Source::Errno, ENETUNREACH, "a rede está inacessível"},
    {Source::Errno, ENETDOWN, "a rede está fora do ar"},
    {Source::Errno, ENETRESET, "a conexão caiu com a rede"},
    {Source::Errno, EPIPE, "a conexão foi encerrada pelo outro lado"},
    {Source::Errno, ENOTCONN, "o socket não está conectado"},
    {Source::Errno, EADDRINUSE, "endereço já em uso"},
    {Source::Errno, EADDRNOTAVAIL, "o endereço pedido não está disponível neste computador"},
    {Source::Errno, EPROTO, "erro de protocolo"},
    {Source::Errno, EAGAIN, "recurso temporariamente indisponível"},
    {Source::Errno, EINTR, "chamada ao sistema interrompida"},
    // Files and disks
    {Source::Errno, ENOENT, "arquivo ou diretório não encontrado"},
    {Source::Errno, EACCES, "permissão negada"},
    {Source::Errno, EPERM, "operação não permitida"},
    {Source::Errno, ENOSPC, "não há espaço livre no disco"},
    {Source::Errno, EDQUOT, "a cota de disco foi excedida"},
    {Source::Errno, EROFS, "o sistema de arquivos é somente leitura"},
    {Source::Errno, EEXIST, "o arquivo já existe"},
    {Source::Errno, EISDIR, "é um diretório"},
    {Source::Errno, ENOTDIR, "não é um diretório"},
    {Source::Errno, ENOTEMPTY, "o diretório não está vazio"},
    {Source::Errno, ENAMETOOLONG, "nome de arquivo longo demais"},
    {Source::Errno, EXDEV, "origem e destino estão em sistemas de arquivos diferentes"},
    {Source::Errno, EBUSY, "o recurso está ocupado"},
    {Source::Errno, ETXTBSY, "o arquivo está em uso"},
    {Source::Errno, EIO, "erro de entrada/saída"},
    {Source::Errno, EFBIG, "arquivo grande demais"},
    {Source::Errno, EMFILE, "arquivos abertos demais neste programa"},
    {Source::Errno, ENFILE, "arquivos abertos demais no sistema"},
    {Source::Errno, ELOOP, "links simbólicos demais no caminho"},
    {Source::Errno, EBADF, "descritor de arquivo inválido"},
    {Source::Errno, ENOMEM, "memória insuficiente"},
    {Source::Errno, EINVAL, "argumento inválido"},
    {Source::Errno, ENOEXEC, "o arquivo não é um programa executável"},
    {Source::Errno, ECANCELED, "operação cancelada"},
    // Name resolution
    {Source::Resolver, EAI_NONAME, "nome de servidor desconhecido"},
    {Source::Resolver, EAI_AGAIN, "falha temporária na resolução do nome do servidor"},
    {Source::Resolver, EAI_FAIL, "falha definitiva na resolução do nome do servidor"},
    {Source::Resolver, EAI_NODATA, "o nome do servidor não tem endereço associado"},
    {Source::Resolver, EAI_ADDRFAMILY, "o nome do servidor não tem endereço IPv4"},
    {Source::Resolver, EAI_SERVICE, "porta inválida para esse servidor"},
    {Source::Resolver, EAI_MEMORY, "memória insuficiente"},
    {Source::Resolver, EAI_FAMILY, "família de endereços não suportada"},
    {Source::Resolver, EAI_SOCKTYPE, "tipo de socket não suportado"},
    {Source::Resolver, EAI_BADFLAGS, "parâmetros de resolução de nome inválidos"},
    {Source::Resolver, EAI_OVERFLOW, "nome de servidor longo demais"},
};

const char* find(Source source, int code)
{
    for (const Entry& e : Texts) {
        if (e.source == source && e.code == code) {
            return e.text;
        }
    }
    return nullptr;
}

}  // namespace

std::string systemText(int code)
{
    if (const char* text = find(Source::Errno, code)) {
        return text;
    }
    char buf[256];
    // The GNU strerror_r: the system's own text, thread-safe.
    return ::strerror_r(code, buf, sizeof buf);
}

std::string resolverText(int resolverCode, int err)
{
    if (resolverCode == EAI_SYSTEM) {
        return systemText(err);
    }
    if (const char* text = find(Source::Resolver, resolverCode)) {
        return text;
    }
    return ::gai_strerror(resolverCode);
}

std::string portText(int code, int port)
{
    switch (code) {
    case EADDRINUSE:
        return "porta " + std::to_string(port) + " já está em uso";
    case EACCES:
        return "sem permissão para usar a porta " + std::to_string(port);
    default:
        return systemText(code);
    }
}

}  // namespace vek::platform
