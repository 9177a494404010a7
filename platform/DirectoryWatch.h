#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vek::platform {

// The kernel's notifications (inotify) about the files directly inside one
// directory. The descriptor is non-blocking; wait for it with poll().
class DirectoryWatch
{
public:
    enum class Kind
    {
        Written,   // closed after being opened for writing
        MovedIn,   // renamed into the directory
        Modified,  // written to (the writer may still hold it open)
        Gone,      // deleted or renamed away
        Overflow,  // events were lost: look at the whole directory again
        DirectoryGone,
    };
    struct Event
    {
        Kind kind;
        std::string name;  // empty for Overflow and DirectoryGone
    };

    // Throws vek::Error when the directory cannot be watched.
    explicit DirectoryWatch(const std::filesystem::path& dir);
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    // Everything pending, without waiting.
    std::vector<Event> read();

private:
    int fd_ = -1;
};

}  // namespace vek::platform
