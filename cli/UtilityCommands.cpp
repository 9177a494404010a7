#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TCrc32.h"
#include "crypto/THashFunctions.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/SystemText.h"
#include "platform/Win1252.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

namespace vek::cli {
namespace {

std::string singleFile(Context& ctx)
{
    const auto parsed = parseOptions(ctx.args, {});
    if (parsed.positional.size() != 1) {
        throw UsageError("informe um arquivo");
    }
    return parsed.positional.front();
}

bool isCipherLine(const std::string& line)
{
    return !line.empty() && line.size() % 16 == 0 && line.find_first_not_of("ABCDEFGHIJKLMNOP") == std::string::npos;
}

}  // namespace

int cmdDecifrarTrace(Context& ctx)
{
    const auto parsed = parseOptions(ctx.args, {});
    if (parsed.positional.size() > 1) {
        throw UsageError("informe no máximo um arquivo");
    }
    const std::filesystem::path path = parsed.positional.empty()
                                           ? platform::baseDir() / channel::TCanalZEBCliente::NomeArquivoTrace
                                           : std::filesystem::path(parsed.positional.front());
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw Error("Não foi possível abrir " + path.string() + ": " + vek::platform::systemText(err), err);
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    // Lines end in CR LF; a trace text may itself hold bare carriage returns.
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        const bool last = end == std::string::npos;
        std::string line = text.substr(start, last ? std::string::npos : end - start);
        if (last && !line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        const std::string plain = isCipherLine(line) ? crypto::DecryptVEKText(line) : line;
        ctx.out << platform::fromWin1252(plain) << '\n';
        if (last) {
            break;
        }
        start = end + 2;
    }
    return ExitOk;
}

int cmdCrc32(Context& ctx)
{
    crypto::TCrc32 crc;
    crc.Crc32FileName = singleFile(ctx);
    crc.WindowOnError = true;
    if (!std::filesystem::exists(crc.Crc32FileName)) {
        crc.Crc32Hex();  // shows the missing-file message
        return ExitFailed;
    }
    ctx.out << crc.Crc32Hex() << '\n';
    return ExitOk;
}

int cmdTiger(Context& ctx)
{
    ctx.out << crypto::THashFunctions::TigerFileHash(singleFile(ctx)) << '\n';
    return ExitOk;
}

}  // namespace vek::cli
