#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"
#include "platform/AsciiText.h"
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
}

// The receipt's own values, kept beside the record. The protocol ties them to
// the record they were written with.
void fillRecibo(TXMLGenerator& xml, const RegistroTransmissao& r)
{
    xml.AddTextElement("protocoloTX", r.protocoloTX);
    xml.AddTextElement("enderecoIP", r.enderecoIP);
    xml.AddTextElement("autenticacao", r.autenticacao);
    xml.AddTextElement("modo", r.modoParametros ? ModoParametros : ModoInterativo);
}

// A record is a few hundred bytes; anything much larger is not one, and is
// not worth holding in memory to find that out.
constexpr std::uintmax_t MaxRecordBytes = 1024 * 1024;

// Reads at most MaxRecordBytes + 1 bytes of a file; throws vek::Error naming it
// when it cannot be opened or read.
std::string lerLimitado(const std::filesystem::path& path)
{
    const std::string nome = path.string();
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
    return bytes;
}

// Fills the receipt's own values from the companion file when there is a
// sound one written with this record; otherwise they stay empty.
void lerCompanheiro(const std::filesystem::path& caminho, RegistroTransmissao& r)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(caminho, ec)) {
        return;
    }
    std::string bytes;
    try {
        bytes = lerLimitado(caminho);
    } catch (const Error&) {
        return;
    }
    if (bytes.size() > MaxRecordBytes) {
        return;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node raiz = doc.document_element();
    if (!parsed || std::strcmp(raiz.name(), "recibo") != 0 ||
        std::string(raiz.child("protocoloTX").text().get()) != r.protocoloTX) {
        return;
    }
    r.enderecoIP = raiz.child("enderecoIP").text().get();
    r.autenticacao = raiz.child("autenticacao").text().get();
    r.modoParametros = std::string(raiz.child("modo").text().get()) == ModoParametros;
}

}  // namespace

std::filesystem::path caminhoRecibo(const std::filesystem::path& registro)
{
    std::string nome = registro.filename().string();
    if (nome.size() > 4 && platform::lowerAZ(std::string_view(nome).substr(nome.size() - 4)) == ".xml") {
        nome.resize(nome.size() - 4);
    }
    return registro.parent_path() / (nome + ".recibo");
}

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
        const auto path = dir / fileName;
        const auto companheiro = caminhoRecibo(path);
        try {
            xml.Save(path.string());
        } catch (...) {
            // A companion left from an earlier record of this name must not
            // be read with whatever the record now holds.
            std::filesystem::remove(companheiro, ec);
            throw;
        }
        try {
            TXMLGenerator recibo("recibo");
            fillRecibo(recibo, registro);
            recibo.Save(companheiro.string());
        } catch (...) {
            std::filesystem::remove(companheiro, ec);
        }
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
    const std::string bytes = lerLimitado(path);
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
    lerCompanheiro(caminhoRecibo(path), r);
    return r;
}

}  // namespace vek::dataset
