#pragma once

#include "platform/Configuration.h"

#include <optional>
#include <string>

namespace vek::channel {

// Where the configuration has a layer below (the per-user mode of an
// installed program) and neither file names a server (ServidorInternet absent
// or empty): the text that says VEK is not configured and where the key goes.
// Nothing otherwise: a base directory with a configuration of its own gets
// the default server written in, as it always did.
[[nodiscard]] std::optional<std::string> unconfiguredMessage(const platform::Configuration& config);

// The same for this run's configuration.
[[nodiscard]] std::optional<std::string> unconfiguredMessage();

}  // namespace vek::channel
