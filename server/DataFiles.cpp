#include "server/DataFiles.h"

#include "platform/Error.h"
#include "platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vek::server {

bool writeNewPrivateFile(const std::filesystem::path& file, const std::string& content)
{
    const std::filesystem::path temp = file.string() + ".tmp" + std::to_string(::getpid());
    platform::File out;
    if (!out.create(temp, 0600)) {
        throw Error("Não foi possível criar " + temp.string(), errno);
    }
    int err = 0;
    if (!out.writeAll(content.data(), content.size()) || !out.sync()) {
        err = errno;
    }
    out.close();
    // link() fails when the name exists, so a file another process wrote first stays.
    if (err == 0 && ::link(temp.c_str(), file.c_str()) != 0) {
        err = errno;
    }
    ::unlink(temp.c_str());
    if (err == EEXIST) {
        return false;
    }
    if (err != 0) {
        throw Error("Não foi possível gravar " + file.string(), err);
    }
    syncDirectory(file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path());
    return true;
}

std::string readWholeFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw Error("Não foi possível ler " + file.string(), errno);
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void syncDirectory(const std::filesystem::path& dir)
{
    platform::File directory;
    if (!directory.open(dir, O_RDONLY | O_DIRECTORY)) {
        throw Error("Não foi possível abrir o diretório " + dir.string(), errno);
    }
    if (!directory.sync()) {
        throw Error("Não foi possível gravar o diretório " + dir.string(), errno);
    }
}

}  // namespace vek::server
