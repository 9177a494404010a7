#include "cli/ProgressBar.h"

#include "cli/ErrorStream.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vek::cli {
namespace {

using namespace std::chrono_literals;

channel::TStatusUpload transmitting(int percent, const std::string& reported)
{
    channel::TStatusUpload s;
    s.StatusPreparacao = channel::tseFinalizada;
    s.PercentPreparacao = 100;
    s.StatusConexao = channel::tseFinalizada;
    s.PercentConexao = 100;
    s.StatusTransmissao = channel::tseExecutando;
    s.PercentTransmissao = percent;
    s.Mensagem = "Enviando dados do arquivo: " + reported + "% concluído.";
    return s;
}

// The line shows the shared estimate: sent of total, speed and time left, in
// Portuguese numbers whatever the step's text uses, paced by the clock it is
// given; on an 80-column line they come before the step's own text, which
// gives way.
TEST(ProgressBar, AnUploadShowsSentOfTotalSpeedAndTimeLeft)
{
    std::ostringstream out;
    ErrorStream err(out, true);
    auto now = app::TransferEstimate::Clock::time_point{};
    ProgressBar bar(err, [&now] { return now; });
    constexpr std::int64_t Total = 100 * 1024 * 1024;

    bar.upload(transmitting(30, "10.00"), Total);
    EXPECT_NE(out.str().find(">Transmissão [###.......] Enviados 10,0 MB de 100,0 MB · calculando... · "),
              std::string::npos)
        << out.str();
    now += 2s;
    bar.upload(transmitting(40, "20.00"), Total);
    EXPECT_NE(out.str().find(">Transmissão [####......] Enviados 20,0 MB de 100,0 MB · 5,0 MB/s · faltam 16 s"),
              std::string::npos)
        << out.str();
    bar.finish();
}

// A download's line carries what came of the listed size and the speed, from
// the bytes the channel reports between its percentages.
TEST(ProgressBar, ADownloadShowsReceivedOfTotalAndSpeed)
{
    std::ostringstream out;
    ErrorStream err(out, true);
    auto now = app::TransferEstimate::Clock::time_point{};
    ProgressBar bar(err, [&now] { return now; });
    constexpr std::int64_t Total = 10 * 1024 * 1024;

    bar.simple(0, "Recebendo o arquivo");
    bar.received(1024 * 1024, Total);
    EXPECT_NE(out.str().find("Recebidos 1,0 MB de 10,0 MB"), std::string::npos) << out.str();
    now += 2s;
    bar.received(5 * 1024 * 1024, Total);
    EXPECT_NE(out.str().find("0% Recebidos 5,0 MB de 10,0 MB · 2,0 MB/s · faltam 3 s"), std::string::npos) << out.str();
    bar.finish();
}

}  // namespace
}  // namespace vek::cli
