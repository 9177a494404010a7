#pragma once

#include <chrono>

namespace vek::wire {

using std::chrono::milliseconds;

// Every wait of the protocol, with the values the agency's server is used to.
// Tests shorten them; nothing else should.
struct Timeouts
{
    milliseconds streamTimeout{30000};     // each read and each write on the message server
    milliseconds waitForData{30000};       // waiting for a reply before reading it
    milliseconds connectPause{200};        // between two failed connection attempts
    milliseconds connectBudget{30000};     // sum of pauses before giving up
    milliseconds connectAttempt{20000};    // one attempt, before the system's own limit
    milliseconds downloadTypesPause{500};  // after asking for the download types
    milliseconds listPause{500};           // list and history queries, before reading the result
    milliseconds downloadPause{400};       // download steps
    milliseconds ftpReply{6000};           // one FTP reply line
    milliseconds dataConnection{15000};    // the FTP server connecting back
    milliseconds dataInactivity{60000};    // a data connection that goes silent
    milliseconds afterDownload{2000};      // after a file arrived
    milliseconds afterDownloadExtra{500};
    // Attempts that complete without an error yet leave no connection.
    int maxUnconnectedAttempts = 50;
};

}  // namespace vek::wire
