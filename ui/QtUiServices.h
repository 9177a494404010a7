#pragma once

#include "platform/UiServices.h"

#include <QElapsedTimer>

#include <chrono>

namespace vek::ui {

// The core's user-interface services on Qt: pending events run at most once
// per interval, so hot loops that call processEvents() cost next to nothing;
// messages are modal boxes captioned "VEK"; busy is the override cursor.
class QtUiServices final : public platform::UiServices
{
public:
    explicit QtUiServices(std::chrono::milliseconds interval = std::chrono::milliseconds(40));
    ~QtUiServices() override;

    void processEvents() override;
    bool showMessage(const std::string& text, platform::MessageKind kind) override;
    void setBusy(bool busy) override;

private:
    QElapsedTimer sinceLast_;
    qint64 intervalMs_;
    int busyDepth_ = 0;
};

}  // namespace vek::ui
