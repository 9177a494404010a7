#include "app/DownloadRow.h"

#include "channel/TCanalZEBCliente.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

namespace vek::app {
namespace {

TEST(RowDownload, AListWithoutTheRowIsRefused)
{
    test::Sandbox box;
    dataset::ListTable tabela;
    try {
        RowDownload download(tabela, 0);
        ADD_FAILURE() << "an empty list has no row to download";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), MsgNenhumArquivoSelecionado);
    }
}

}  // namespace
}  // namespace vek::app
