#pragma once

#include "dataset/FieldValue.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vek::test {

// A list or history file as the server sends it: a gzipped data packet
// (`name` names the work files in `box`).
std::string gzippedPacket(const Sandbox& box, const std::string& name, const std::string& xml);

// A list (or history) query answered with the gzipped file `gz` named
// `name`; with `credentials`, the download credentials follow.
FakeScript listScript(std::uint8_t request, const std::string& gz, const std::string& name, bool credentials);

// One listed file (id 42, 2.5 KBytes, type RET) and one history row
// (protocol 77, one warning), with the name, description and time given.
std::vector<dataset::Row> sampleListRows(const std::string& fileName, const std::string& description);
std::vector<dataset::Row> sampleHistoryRows(const std::string& transmittedAt);

}  // namespace vek::test
