#include "platform/DirectoryWatch.h"

#include "platform/Error.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace vek::platform {

DirectoryWatch::DirectoryWatch(const std::filesystem::path& dir)
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        const int code = errno;
        throw Error("Não foi possível observar a pasta " + dir.string() + ": " + vek::platform::systemText(code), code);
    }
    constexpr std::uint32_t Mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_DELETE | IN_MOVED_FROM |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (inotify_add_watch(fd_, dir.c_str(), Mask) < 0) {
        const int code = errno;
        close(fd_);
        throw Error("Não foi possível observar a pasta " + dir.string() + ": " + vek::platform::systemText(code), code);
    }
}

DirectoryWatch::~DirectoryWatch()
{
    close(fd_);
}

std::vector<DirectoryWatch::Event> DirectoryWatch::read()
{
    std::vector<Event> events;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return events;
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event e;
            std::memcpy(&e, buffer + at, sizeof e);
            const std::string name = e.len > 0 ? std::string(buffer + at + sizeof e) : std::string();
            at += static_cast<ssize_t>(sizeof e + e.len);
            if ((e.mask & IN_Q_OVERFLOW) != 0) {
                events.push_back({Kind::Overflow, {}});
            } else if ((e.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                events.push_back({Kind::DirectoryGone, {}});
            } else if ((e.mask & IN_ISDIR) != 0) {
                continue;
            } else if ((e.mask & IN_CLOSE_WRITE) != 0) {
                events.push_back({Kind::Written, name});
            } else if ((e.mask & IN_MOVED_TO) != 0) {
                events.push_back({Kind::MovedIn, name});
            } else if ((e.mask & IN_MODIFY) != 0) {
                events.push_back({Kind::Modified, name});
            } else if ((e.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                events.push_back({Kind::Gone, name});
            }
        }
    }
}

}  // namespace vek::platform
