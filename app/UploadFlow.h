#pragma once

#include "app/AppState.h"
#include "channel/TCanalZEBCliente.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vek::app {

// The upload as both front ends run it, blocking on the caller's thread: the
// channel set up from the state, EnviarArquivo with the exit code kept from
// its progress events, the receipt into the state, and the transmission
// record. Progress reaches the presenter through the channel's
// AoEnviarArquivo, which stays the presenter's: while the call runs the flow
// only listens in for the exit code, so the state's code is already up to
// date when the presenter's handler sees an event.

enum class UploadEnd
{
    Sent,             // the receipt came back; exit code 9
    Failed,           // the upload raised an error; exit code 0, 3 or 4
    ChecksumDiffers,  // unattended only: not the announced file; exit code 5, nothing sent
    Cancelled,        // the user abandoned it (platform::requestCancel): no record
};

struct UploadOutcome
{
    UploadEnd end = UploadEnd::Failed;
    // What the channel handed back; a receipt only when the upload was sent.
    channel::TResultadoEnvio resultado;
    // Failed: the error's text as raised. ChecksumDiffers: the message shown.
    std::string error;
    // The transmission record, when one was written.
    std::optional<std::filesystem::path> record;

    [[nodiscard]] bool sent() const { return end == UploadEnd::Sent; }
};

// The send page and `vek-cli enviar`. A sent file gets its record, named
// "VEK-<file name>-<ticks>.xml" (kept as the state's record file name); a
// failed upload writes none.
UploadOutcome runInteractiveUpload(AppState& estado, channel::TCanalZEBCliente& canal);

// One file of several sent in a row (`vek-cli enviar A B C`, the watched
// folder): the send page's upload, and a record whatever the outcome, so that
// every file tried leaves one in Protocolos (a failure's protocol and date
// empty). The record's name is the send page's, on a later tick when that
// name is already taken. `aoReceberRecibo`, when given, is called as soon as
// the receipt is in, before anything else is written (the state already
// holds the record's name); an error it raises goes to the caller.
UploadOutcome runRecordedUpload(AppState& estado,
                                channel::TCanalZEBCliente& canal,
                                const std::function<void(const UploadOutcome&)>& aoReceberRecibo = {});

// The parameter-file mode of the window and `vek-cli parametros`, once
// startUnattendedRun let it go ahead. First the checksum check: a difference
// shows its message box and ends the flow (ChecksumDiffers, exit code 5, no
// record, no connection). Then the upload, and the response record under the
// parameter file's name whatever the outcome, written once (a failure leaves
// its protocol and date empty). An error while the file is read for its
// checksum is raised (vek::Error): it is no outcome of the upload, so no
// record is written and the exit code stays as it was.
UploadOutcome runUnattendedUpload(AppState& estado, channel::TCanalZEBCliente& canal);

// The start of the parameter-file mode from the program's first argument:
// the parameter file exists and can be read, the response file can be
// created, the file to send exists. A failing check shows its message box
// (error icon) and gives the exit code the run ends with at once; otherwise
// the state holds the request (exit code 0).
std::optional<int> startUnattendedRun(const std::string& parameterFile, AppState& estado);

}  // namespace vek::app
