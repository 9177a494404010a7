#include "server/StoreAccess.h"

#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "server/Store.h"
#include "server/ZebServer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::server {
namespace {

std::string modeText(mode_t mode)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

// "F (dono U, modo 0644)" for the message of a refused store.
std::string describe(const std::filesystem::path& file)
{
    struct stat st
    {
    };
    if (::stat(file.c_str(), &st) != 0) {
        return file.string();
    }
    return file.string() + " (dono " + userName(st.st_uid) + ", modo " + modeText(st.st_mode) + ")";
}

}  // namespace

std::string userName(unsigned uid)
{
    struct passwd pw
    {
    };
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

std::filesystem::path defaultDataDirFor(const std::filesystem::path& executable)
{
    const std::filesystem::path dir = executable.parent_path();
    if (dir.filename() == "sbin" && dir.parent_path().filename() == "usr") {
        return dir.parent_path().parent_path() / "var/lib/zebd";
    }
    return "zeb-dados";
}

std::filesystem::path defaultDataDir()
{
    return defaultDataDirFor(platform::executablePath());
}

bool storeExists(const std::filesystem::path& dir)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(dir / StoreFileName, ec);
}

std::optional<std::string> adoptStoreOwner(const std::filesystem::path& dir)
{
    struct stat st
    {
    };
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return std::nullopt;
    }
    // Files get at most the directory's bits, and never others' write bit.
    ::umask(static_cast<mode_t>((~st.st_mode & 0777) | 0002));
    if (::geteuid() != 0 || st.st_uid == 0) {
        return std::nullopt;
    }
    const std::string name = userName(st.st_uid);
    struct passwd pw
    {
    };
    struct passwd* found = nullptr;
    char buf[4096];
    int rc = 0;
    if (getpwuid_r(st.st_uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
        rc = ::initgroups(found->pw_name, st.st_gid);
    } else {
        rc = ::setgroups(0, nullptr);
    }
    if (rc != 0 || ::setgid(st.st_gid) != 0 || ::setuid(st.st_uid) != 0) {
        const int code = errno;
        throw Error("Não foi possível passar ao usuário " + name + ", dono de " + dir.string() + ": " +
                        std::strerror(code),
                    code);
    }
    if (::setuid(0) == 0) {
        throw Error("Não foi possível deixar os privilégios de root ao passar ao usuário " + name);
    }
    return name;
}

void checkStoreWritable(const std::filesystem::path& dir)
{
    const std::string who = userName(::geteuid());
    auto refuse = [&](const std::filesystem::path& file, const std::string& what) {
        throw Error("O usuário " + who + " não pode " + what + " " + describe(file) +
                    ". Corrija o dono ou o modo, ou rode o zebd como o dono do banco.");
    };
    auto exists = [](const std::filesystem::path& p) {
        struct stat st
        {
        };
        return ::lstat(p.c_str(), &st) == 0;
    };
    if (!exists(dir)) {
        return;
    }
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        refuse(dir, "escrever em");
    }
    const std::string db = StoreFileName;
    for (const std::filesystem::path& name :
         {std::filesystem::path(db), std::filesystem::path(db + "-wal"), std::filesystem::path(db + "-shm")}) {
        const auto file = dir / name;
        if (exists(file) && ::faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
            refuse(file, "escrever em");
        }
    }
    for (const char* sub : {ReceivedDirName, AvailableDirName}) {
        const auto folder = dir / sub;
        if (exists(folder) && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            refuse(folder, "escrever em");
        }
    }
    for (const char* name : {KeyFileName, SecretFileName}) {
        const auto file = dir / name;
        if (exists(file) && ::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) != 0) {
            refuse(file, "ler");
        }
    }
}

std::vector<std::string> storeLacks(const Store& store, const std::string& dadosOption)
{
    std::vector<std::string> lines;
    if (!store.hasOperators()) {
        lines.push_back("o banco não tem nenhuma operadora; crie uma com \"zebd operadora" + dadosOption +
                        " --registro R\"");
    }
    if (store.tiposEnvio().empty()) {
        lines.push_back("a lista de tipos de envio está vazia e todo envio será recusado; defina-a com \"zebd tipos" +
                        dadosOption + " --envio LISTA\"");
    }
    if (store.tiposDownload().empty()) {
        lines.push_back("a lista de tipos de download está vazia e nenhum arquivo pode ser disponibilizado; defina-a "
                        "com \"zebd tipos" +
                        dadosOption + " --download LISTA\"");
    }
    return lines;
}

}  // namespace vek::server
