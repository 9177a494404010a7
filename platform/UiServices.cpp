#include "platform/UiServices.h"

#include <atomic>
#include <cerrno>

namespace vek::platform {
namespace {

NullUiServices nullServices;
std::atomic<UiServices*> current{&nullServices};

thread_local bool cancelPending = false;
thread_local int cancellableDepth = 0;

UiServices& installed()
{
    return *current.load(std::memory_order_acquire);
}

// What the core reaches: the installed services, with the cancellation rule.
class CancellingUi final : public UiServices
{
public:
    void processEvents() override
    {
        installed().processEvents();
        if (cancelPending && cancellableDepth > 0) {
            throw OperationCancelled();
        }
    }
    bool showMessage(const std::string& text, MessageKind kind) override
    {
        if (cancelPending) {
            return kind != MessageKind::Question;
        }
        return installed().showMessage(text, kind);
    }
    void setBusy(bool busy) override { installed().setBusy(busy); }
};

CancellingUi cancellingUi;

}  // namespace

UiServices& ui()
{
    return cancellingUi;
}

void setUi(UiServices* services)
{
    if (services == &cancellingUi) {
        return;  // already what the core reaches
    }
    current.store(services != nullptr ? services : &nullServices, std::memory_order_release);
}

ScopedUi::ScopedUi(UiServices& services)
    : previous_(&installed())
{
    setUi(&services);
}

ScopedUi::~ScopedUi()
{
    setUi(previous_);
}

OperationCancelled::OperationCancelled()
    : Error(MsgOperacaoCancelada, ECANCELED)
{}

void requestCancel()
{
    cancelPending = true;
}

bool cancelRequested()
{
    return cancelPending;
}

void clearCancel()
{
    cancelPending = false;
}

CancellableOperation::CancellableOperation()
{
    ++cancellableDepth;
}

CancellableOperation::~CancellableOperation()
{
    --cancellableDepth;
}

}  // namespace vek::platform
