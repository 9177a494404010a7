#pragma once

#include "platform/Error.h"

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

// The services the core reaches: those the front end installed (a
// NullUiServices until it does; not owned), through the cancellation rule
// below.
UiServices& ui();
void setUi(UiServices* services);

// A long operation the user chose to abandon. The front end asks for it from
// inside the operation's event pump (the window's close box answered while
// an upload runs); the operation notices it at its next event pump, which
// throws OperationCancelled, so that it unwinds the way it does on any error:
// the socket closed, the keys released, the work files removed. While the
// request stands no further message is shown (a question is answered no),
// also after the operation has ended, until the front end clears it.
// Requests belong to the thread that makes them: the operation runs on the
// window's thread.
class OperationCancelled : public Error
{
public:
    OperationCancelled();
};

inline constexpr const char* MsgOperacaoCancelada = "Operação cancelada pela operadora.";

void requestCancel();
[[nodiscard]] bool cancelRequested();
void clearCancel();

// The scope of an operation that a request may end: only inside one does the
// event pump throw.
class CancellableOperation
{
public:
    CancellableOperation();
    ~CancellableOperation();
    CancellableOperation(const CancellableOperation&) = delete;
    CancellableOperation& operator=(const CancellableOperation&) = delete;
};

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
