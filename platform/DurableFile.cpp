#include "platform/DurableFile.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vek::platform {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int code)
{
    throw Error(what + " " + path.string() + ": " + vek::platform::systemText(code), code);
}

File openOrFail(const fs::path& path, int flags, unsigned mode = 0)
{
    File f;
    if (!f.open(path, flags, mode)) {
        fail("Não foi possível abrir", path, errno);
    }
    return f;
}

void writeAll(File& f, const char* data, std::size_t size, const fs::path& path)
{
    if (!f.writeAll(data, size)) {
        fail("Não foi possível gravar", path, errno);
    }
}

// Flushes the data to the disk and closes: a written file counts as kept only
// when both succeed.
void syncAndClose(File& f, const fs::path& path)
{
    if (!f.sync()) {
        fail("Não foi possível gravar em disco", path, errno);
    }
    if (!f.close()) {
        fail("Não foi possível gravar", path, errno);
    }
}

fs::path hiddenTemporary(const fs::path& path)
{
    return path.parent_path() / ("." + path.filename().string() + ".tmp");
}

void copyDurably(const fs::path& from, const fs::path& to)
{
    File in = openOrFail(from, O_RDONLY);
    File out = openOrFail(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(65536);
    for (;;) {
        const std::ptrdiff_t n = in.readFull(buffer.data(), buffer.size());
        if (n < 0) {
            fail("Não foi possível ler", from, errno);
        }
        if (n == 0) {
            break;
        }
        writeAll(out, buffer.data(), static_cast<std::size_t>(n), to);
    }
    syncAndClose(out, to);
}

}  // namespace

void syncPath(const fs::path& path)
{
    File f = openOrFail(path, O_RDONLY);
    if (!f.sync()) {
        fail("Não foi possível gravar em disco", path, errno);
    }
}

void writeFileDurably(const fs::path& path, const std::string& content)
{
    const fs::path temporary = hiddenTemporary(path);
    {
        File out = openOrFail(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        writeAll(out, content.data(), content.size(), temporary);
        syncAndClose(out, temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        std::remove(temporary.c_str());
        fail("Não foi possível gravar", path, code);
    }
    syncPath(path.parent_path());
}

void moveDurably(const fs::path& from, const fs::path& to)
{
    // One atomic step that never replaces an existing target.
    int result = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // A file system without that flag.
        std::error_code ec;
        if (fs::exists(to, ec)) {
            fail("Não foi possível mover para", to, EEXIST);
        }
        result = std::rename(from.c_str(), to.c_str());
    }
    if (result == 0) {
        syncPath(to.parent_path());
        syncPath(from.parent_path());
        return;
    }
    if (errno != EXDEV) {
        fail("Não foi possível mover para", to, errno);
    }
    const fs::path temporary = hiddenTemporary(to);
    copyDurably(from, temporary);
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int code = errno;
        std::remove(temporary.c_str());
        fail("Não foi possível mover para", to, code);
    }
    syncPath(to.parent_path());
    if (unlink(from.c_str()) != 0) {
        fail("Não foi possível remover", from, errno);
    }
    syncPath(from.parent_path());
}

}  // namespace vek::platform
