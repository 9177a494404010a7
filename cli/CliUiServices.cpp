#include "cli/CliUiServices.h"

#include <ostream>

namespace vek::cli {

bool CliUiServices::showMessage(const std::string& text, platform::MessageKind)
{
    err_ << "VEK: " << text << '\n';
    err_.flush();
    return true;
}

}  // namespace vek::cli
