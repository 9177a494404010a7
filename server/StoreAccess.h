#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vek::server {

class Store;

// Where zebd keeps its store when no --dados is given. A program installed
// as <R>/usr/sbin/zebd (the package puts it in /usr/sbin) uses
// <R>/var/lib/zebd, the systemd unit's StateDirectory, so the service and the
// administration commands find the same store; a program anywhere else (a
// build tree) uses ./zeb-dados.
std::filesystem::path defaultDataDirFor(const std::filesystem::path& executable);
std::filesystem::path defaultDataDir();

// Whether `dir` holds a store (its database file).
bool storeExists(const std::filesystem::path& dir);

// Before touching the store in `dir`: run as root on a directory that belongs
// to another user, becomes that user (its groups, the directory's group) for
// good, so that whatever is created belongs to the store's owner; and sets a
// umask that gives new files and directories no more than the directory's
// own mode allows (never writable by others). Returns the user switched to.
// Throws vek::Error when the switch fails.
std::optional<std::string> adoptStoreOwner(const std::filesystem::path& dir);

// Throws vek::Error, naming the file, its owner and the running user, when
// this process could not write the store in `dir`: the directory, the
// database and its journal files, the folders of received and available
// files; and could not read the server's key and secret. What does not exist
// yet is not checked.
void checkStoreWritable(const std::filesystem::path& dir);

// What a store still lacks before an operator can upload and download (no
// operator, an empty type list), one line each with the command that sets it.
// `dadosOption` is " --dados DIR" when the store was named, else empty.
std::vector<std::string> storeLacks(const Store& store, const std::string& dadosOption);

// The login name of `uid`, or the number when it has none.
std::string userName(unsigned uid);

}  // namespace vek::server
