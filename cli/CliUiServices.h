#pragma once

#include "platform/UiServices.h"

namespace vek::cli {

class ErrorStream;

// Message boxes become "VEK: " lines on standard error; questions are
// answered yes (nobody is there to answer them).
class CliUiServices final : public platform::UiServices
{
public:
    explicit CliUiServices(ErrorStream& err)
        : err_(err)
    {}
    void processEvents() override {}
    bool showMessage(const std::string& text, platform::MessageKind kind) override;
    void setBusy(bool) override {}

private:
    ErrorStream& err_;
};

}  // namespace vek::cli
