#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"
#include "platform/AsciiText.h"
#include "platform/DurableFile.h"
#include "platform/Error.h"
#include "platform/SystemText.h"

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
        throw Error("Não foi possível abrir o registro \"" + nome + "\": " + vek::platform::systemText(code), code);
    }
    std::string bytes;
    bytes.resize(MaxRecordBytes + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        const int code = errno;
        throw Error("Não foi possível ler o registro \"" + nome + "\": " + vek::platform::systemText(code), code);
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// Fills the receipt's own values from the companion file when it is a sound
// one written with this record (same protocol); otherwise they stay as they
// are. Returns whether it was.
bool lerCompanheiro(const std::filesystem::path& caminho, RegistroTransmissao& r)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(caminho, ec)) {
        return false;
    }
    std::string bytes;
    try {
        bytes = lerLimitado(caminho);
    } catch (const Error&) {
        return false;
    }
    if (bytes.size() > MaxRecordBytes) {
        return false;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node raiz = doc.document_element();
    if (!parsed || std::strcmp(raiz.name(), "recibo") != 0 ||
        std::string(raiz.child("protocoloTX").text().get()) != r.protocoloTX) {
        return false;
    }
    r.enderecoIP = raiz.child("enderecoIP").text().get();
    r.autenticacao = raiz.child("autenticacao").text().get();
    r.modoParametros = std::string(raiz.child("modo").text().get()) == ModoParametros;
    return true;
}

// The companion read with the record `path`, which `r` holds; fills its values.
std::optional<std::filesystem::path> encontrarCompanheiro(const std::filesystem::path& path, RegistroTransmissao& r)
{
    if (auto guardado = caminhoReciboGuardado(path); guardado && lerCompanheiro(*guardado, r)) {
        return guardado;
    }
    if (auto aoLado = caminhoReciboAoLado(path); lerCompanheiro(aoLado, r)) {
        return aoLado;
    }
    return std::nullopt;
}

RegistroTransmissao lerDocumento(const std::filesystem::path& path)
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
    return r;
}

// A name that stays inside the directory it is joined to.
bool nomeSimples(const std::string& nome)
{
    const std::filesystem::path p(nome);
    return !nome.empty() && !p.has_parent_path() && p.filename() == p && nome != "." && nome != "..";
}

}  // namespace

std::optional<std::filesystem::path> caminhoReciboGuardado(const std::filesystem::path& registro)
{
    std::error_code ec;
    std::filesystem::path absoluto = std::filesystem::absolute(registro, ec);
    if (ec) {
        return std::nullopt;
    }
    absoluto = absoluto.lexically_normal();
    const std::filesystem::path pasta = absoluto.parent_path();
    if (!absoluto.has_filename() || pasta.filename() != "Protocolos") {
        return std::nullopt;
    }
    return pasta.parent_path() / PastaRecibos / absoluto.filename();
}

std::filesystem::path caminhoReciboAoLado(const std::filesystem::path& registro)
{
    std::string nome = registro.filename().string();
    if (nome.size() > 4 && platform::lowerAZ(std::string_view(nome).substr(nome.size() - 4)) == ".xml") {
        nome.resize(nome.size() - 4);
    }
    return registro.parent_path() / (nome + ".recibo");
}

std::optional<std::filesystem::path> companheiroDoRegistro(const std::filesystem::path& registro)
{
    try {
        RegistroTransmissao r = lerDocumento(registro);
        return encontrarCompanheiro(registro, r);
    } catch (const Error&) {
        return std::nullopt;
    }
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
    std::error_code ec;
    const std::optional<std::filesystem::path> companheiro =
        nomeSimples(fileName) ? std::optional(baseDir / PastaRecibos / fileName) : std::nullopt;
    // A companion left from an earlier record of this name must not be read
    // with whatever the record now holds.
    const auto semCompanheiro = [&] {
        if (companheiro) {
            std::filesystem::remove(*companheiro, ec);
        }
    };
    try {
        const auto dir = baseDir / "Protocolos";
        std::filesystem::create_directory(dir, ec);
        TXMLGenerator xml("VEK");
        fill(xml, registro);
        try {
            xml.Save((dir / fileName).string());
        } catch (...) {
            semCompanheiro();
            throw;
        }
        if (companheiro) {
            try {
                std::filesystem::create_directory(companheiro->parent_path(), ec);
                TXMLGenerator recibo("recibo");
                fillRecibo(recibo, registro);
                // Through a temporary file renamed into place: a companion is
                // whole or absent, and the write never follows a link.
                platform::writeFileDurably(*companheiro, recibo.toString());
            } catch (...) {
                semCompanheiro();
            }
        }
        return true;
    } catch (...) {
        // The record is a courtesy copy; its failure never touches the upload.
        return false;
    }
}

RegistroTransmissao lerRegistroTransmissao(const std::filesystem::path& path)
{
    RegistroTransmissao r = lerDocumento(path);
    encontrarCompanheiro(path, r);
    return r;
}

}  // namespace vek::dataset
