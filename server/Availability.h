#pragma once

#include "server/Store.h"

#include <filesystem>
#include <string>

namespace vek::server {

struct AvailabilityRequest
{
    std::string registro;
    std::string tipo;
    std::filesystem::path arquivo;
    std::string descricao;
    std::string competencia;  // "MM/AAAA" or empty
    // Where the bytes are read from when not from `arquivo` (a copy made
    // before the process gave up root); the name is still arquivo's.
    std::filesystem::path conteudo;
};

// Enciphers a copy of the file with the download file cipher under a fresh
// random key into the data directory and records it for the operator.
// Throws vek::Error when the operator is unknown, the type is not in the
// download list, the competence is not a month, or the file cannot be read.
AvailableFile makeFileAvailable(Store& store, const std::filesystem::path& dataDir, const AvailabilityRequest& request);

}  // namespace vek::server
