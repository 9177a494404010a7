#pragma once

#include <string>

namespace vek::platform {

enum class MessageKind
{
    Information,
    Warning,
    Error,
    Question,
};

// What the core asks of the front end: let the window breathe, show a modal
// message, switch the hourglass pointer. The core never includes a toolkit.
class UiServices
{
public:
    virtual ~UiServices() = default;

    // Called at the points the protocol names, and between slices of every
    // long wait; implementations throttle themselves so hot loops may call it.
    virtual void processEvents() = 0;

    // Modal message with caption "VEK". For MessageKind::Question the result
    // is true when the user answered yes; otherwise it is true.
    virtual bool showMessage(const std::string& text, MessageKind kind) = 0;

    virtual void setBusy(bool busy) = 0;
};

class NullUiServices final : public UiServices
{
public:
    void processEvents() override {}
    bool showMessage(const std::string&, MessageKind) override { return true; }
    void setBusy(bool) override {}
};

// The services the core reaches; a NullUiServices until a front end installs
// its own. Not owned.
UiServices& ui();
void setUi(UiServices* services);

// Installs services for a scope and restores the previous ones.
class ScopedUi
{
public:
    explicit ScopedUi(UiServices& services);
    ~ScopedUi();
    ScopedUi(const ScopedUi&) = delete;
    ScopedUi& operator=(const ScopedUi&) = delete;

private:
    UiServices* previous_;
};

}  // namespace vek::platform
