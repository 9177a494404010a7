#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"
#include "platform/Error.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
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
    xml.AddTextElement("enderecoIP", r.enderecoIP);
    xml.AddTextElement("autenticacao", r.autenticacao);
    xml.AddTextElement("modo", r.modoParametros ? ModoParametros : ModoInterativo);
}

// A record is a few hundred bytes; anything much larger is not one, and is
// not worth holding in memory to find that out.
constexpr std::uintmax_t MaxRecordBytes = 1024 * 1024;

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

RegistroTransmissao lerRegistroTransmissao(const std::filesystem::path& path)
{
    const std::string nome = path.string();
    const auto danificado = [&nome] {
        return Error("O arquivo \"" + nome + "\" não é um registro de transmissão do VEK ou está danificado.");
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int code = errno;
        throw Error("Não foi possível abrir o registro \"" + nome + "\": " + std::strerror(code), code);
    }
    std::string bytes;
    bytes.resize(MaxRecordBytes + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        const int code = errno;
        throw Error("Não foi possível ler o registro \"" + nome + "\": " + std::strerror(code), code);
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > MaxRecordBytes) {
        throw danificado();
    }

    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node raiz = doc.document_element();
    if (!parsed || std::strcmp(raiz.name(), "VEK") != 0) {
        throw danificado();
    }
    const auto texto = [&](const char* elemento, bool obrigatorio) {
        const pugi::xml_node no = raiz.child(elemento);
        if (!no && obrigatorio) {
            throw danificado();
        }
        return std::string(no.text().get());
    };
    RegistroTransmissao r;
    r.operadora = texto("operadora", true);
    r.tipo_Arquivo = texto("tipo_Arquivo", true);
    r.arquivo = texto("arquivo", true);
    r.dataTransmissao = texto("dataTransmissao", true);
    r.protocoloTX = texto("protocoloTX", true);
    r.aplicativo = texto("aplicativo", true);
    r.informacoesArquivo = texto("informacoesArquivo", true);
    r.clienteTransmissao = texto("clienteTransmissao", true);
    r.enderecoIP = texto("enderecoIP", false);
    r.autenticacao = texto("autenticacao", false);
    r.modoParametros = texto("modo", false) == ModoParametros;
    return r;
}

}  // namespace vek::dataset
