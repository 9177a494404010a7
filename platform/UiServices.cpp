#include "platform/UiServices.h"

#include <atomic>

namespace vek::platform {
namespace {

NullUiServices nullServices;
std::atomic<UiServices*> current{&nullServices};

}  // namespace

UiServices& ui()
{
    return *current.load(std::memory_order_acquire);
}

void setUi(UiServices* services)
{
    current.store(services != nullptr ? services : &nullServices, std::memory_order_release);
}

ScopedUi::ScopedUi(UiServices& services)
    : previous_(&ui())
{
    setUi(&services);
}

ScopedUi::~ScopedUi()
{
    setUi(previous_);
}

}  // namespace vek::platform
