#include "app/SendRules.h"

#include "app/Text.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::app {
namespace {

using Items = std::vector<std::string>;

TEST(SendRules, TypeListItemsFromTheServerText)
{
    struct Case
    {
        const char* lista;
        Items items;
    };
    const std::array cases{
        Case{"XYZ#Arquivo de Teste|WVU#Outro", {"XYZ - Arquivo de Teste", "WVU - Outro"}},
        Case{"A#b||C#d|", {"A - b", "", "C - d"}},
        Case{"", {}},
        Case{"-- Lista de arquivos indisponível.", {"-- Lista de arquivos indisponível."}},
        Case{"|", {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lista);
        EXPECT_EQ(itensListaTipos(c.lista), c.items);
    }
}

TEST(SendRules, DialogFilterAndExtensionCheck)
{
    EXPECT_EQ(filtroDoItem("XYZ - Arquivo de Teste"), "arquivo de teste (*.xyz)|*.xyz");
    EXPECT_EQ(filtroDoItem("XML - Declaração ÚNICA"), "declaração Única (*.xml)|*.xml");  // only A to Z folded
    EXPECT_EQ(filtroDoItem(""), "All files (*.*)|*.*");
    struct Case
    {
        const char* path;
        bool ok;
    };
    const std::array cases{
        Case{"/a/dados.XYZ", true},
        Case{"/a/dados.xyz", true},
        Case{"/a/dados.xyzw", false},
        Case{"/a/dados", false},
        Case{"/a.xyz/dados", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(extensaoConfere(c.path, "XYZ - Arquivo de Teste"), c.ok);
    }
}

TEST(SendRules, FileTypeComesFromTheExtensionInItsOwnCase)
{
    struct Case
    {
        const char* path;
        const char* tipo;
    };
    const std::array cases{
        Case{"/dados/arquivo.abc", "abc"},
        Case{"/dados/arquivo.Txt1", "Txt"},
        Case{"/dados/arquivo.x", "x"},
        Case{"/dados/arquivo", ""},
        Case{"/dados/A.B.XML", "XML"},
        Case{"/dados.v2/arquivo", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(tipoDaExtensao(c.path), c.tipo);
    }
    EXPECT_EQ(upperAZ("abç"), "ABç");
}

TEST(SendRules, RecordNameAndReceiptTexts)
{
    EXPECT_EQ(nomeArquivoRegistro("/home/op/dados.xml", 1234), "VEK-dados.xml-1234.xml");
    EXPECT_EQ(nomeArquivoRegistro("dados.xml", 0xFFFFFFFFU), "VEK-dados.xml--1.xml");
    EXPECT_EQ(textoArquivoRecebido("/x/dados.xml", "09/12/2026 10:00:00"),
              "Arquivo dados.xml recebido pela ZEB em 09/12/2026 10:00:00");
    EXPECT_EQ(textoProtocolo("42"), "Protocolo de transmissão: 42");
}

}  // namespace
}  // namespace vek::app
