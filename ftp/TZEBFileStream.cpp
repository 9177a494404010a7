#include "ftp/TZEBFileStream.h"

#include "platform/Error.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>

namespace vek::ftp {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int err)
{
    throw Error(what + " " + path.string() + ": " + vek::platform::systemText(err), err);
}

}  // namespace

TZEBFileStream::TZEBFileStream(const std::filesystem::path& path)
    : path_(path)
{
    if (!file_.create(path_)) {
        fail("Não foi possível criar o arquivo", path_, errno);
    }
}

void TZEBFileStream::write(std::span<const std::uint8_t> data)
{
    if (!file_.isOpen()) {
        throw Error("O arquivo " + path_.string() + " já foi fechado", EBADF);
    }
    if (!file_.writeAll(data.data(), data.size())) {
        fail("Erro ao gravar o arquivo", path_, errno);
    }
    position_ += static_cast<std::int64_t>(data.size());
    if (OnWrite) {
        OnWrite(*this, static_cast<std::int64_t>(data.size()));
    }
}

void TZEBFileStream::close()
{
    if (!file_.close()) {
        fail("Erro ao gravar o arquivo", path_, errno);
    }
}

}  // namespace vek::ftp
