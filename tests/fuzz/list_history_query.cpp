// The list query (ConsultarListaDownload) or the history query
// (ConsultarHistoricoTx) against a server that says the input, from its first
// message on; a list file that arrives is then loaded into its table, as the
// front ends do. The first input byte chooses the query and its filters.

#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fuzz/ChannelPeer.h"

#include <sstream>

using namespace vek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const auto temp = fuzz::scratchDir() / "temp";
    fuzz::emptyDir(temp);
    const bool history = (data[0] & 1) != 0;
    const bool filtered = (data[0] & 2) != 0;

    std::string path;
    {
        fuzz::ScriptedClient client(fuzz::asText(data + 1, size - 1));
        try {
            if (history) {
                client.ConsultarHistoricoTx("01/01/2026", "30/06/2026", path);
            } else {
                client.ConsultarListaDownload("XML", filtered ? "12/2025" : "", filtered ? "01/2026" : "", path);
            }
        } catch (const vek::Error&) {
            path.clear();
        }
    }
    if (!path.empty()) {
        std::ostringstream out;
        try {
            if (history) {
                dataset::HistoryTable table;
                table.load(path);
                table.writeTsv(out);
            } else {
                dataset::ListTable table;
                table.load(path);
                table.writeTsv(out);
                for (std::size_t row = 0; row < table.recordCount(); ++row) {
                    (void)table.expectedSizeKb(row);
                }
            }
        } catch (const vek::Error&) {
        }
    }
    return 0;
}
