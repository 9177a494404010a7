#pragma once

namespace vek::platform {

// Called first thing by every program: a write to a peer that went away, or
// beyond the file-size limit (a quota, a full file system under a limit),
// then fails with an error code that the operation reports, instead of the
// signal ending the process with the file half-written and no message.
void ignoreWriteSignals();

}  // namespace vek::platform
