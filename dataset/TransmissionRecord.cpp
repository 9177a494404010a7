#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"

#include <system_error>

namespace vek::dataset {
namespace {

void fill(TXMLGenerator& xml, const RegistroTransmissao& r)
{
    xml.AddTextElement("operadora", r.operadora);
    xml.AddTextElement("tipo_Arquivo", r.tipo_Arquivo);
    xml.AddTextElement("arquivo", r.arquivo);
    xml.AddTextElement("dataTransmissao", r.dataTransmissao);
    xml.AddTextElement("protocoloTX", r.protocoloTX);
    xml.AddTextElement("aplicativo", r.aplicativo);
    xml.AddTextElement("informacoesArquivo", r.informacoesArquivo);
    xml.AddTextElement("clienteTransmissao", r.clienteTransmissao);
}

}  // namespace

std::string registroXml(const RegistroTransmissao& registro)
{
    TXMLGenerator xml("VEK");
    fill(xml, registro);
    return xml.toString();
}

bool gravarRegistroTransmissao(const RegistroTransmissao& registro,
                               const std::filesystem::path& baseDir,
                               const std::string& fileName)
{
    try {
        const auto dir = baseDir / "Protocolos";
        std::error_code ec;
        std::filesystem::create_directory(dir, ec);
        TXMLGenerator xml("VEK");
        fill(xml, registro);
        xml.Save((dir / fileName).string());
        return true;
    } catch (...) {
        // The record is a courtesy copy; its failure never touches the upload.
        return false;
    }
}

}  // namespace vek::dataset
