#include "cli/CliUiServices.h"

#include "cli/ErrorStream.h"

namespace vek::cli {

bool CliUiServices::showMessage(const std::string& text, platform::MessageKind)
{
    err_.writeLine("VEK: ", text);
    return true;
}

}  // namespace vek::cli
