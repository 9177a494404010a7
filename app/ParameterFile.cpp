#include "app/ParameterFile.h"

#include "app/Text.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TCrc32.h"
#include "crypto/THashFunctions.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/SystemText.h"
#include "platform/Win1252.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::app {
namespace {

constexpr std::size_t CamposMinimos = 9;  // positions 0 to 8
constexpr std::size_t TamanhoMaximoHash = 50;
constexpr std::size_t PosicaoValidacao = 10;

}  // namespace

std::vector<std::string> camposParametros(const std::string& texto)
{
    std::vector<std::string> campos;
    std::size_t inicio = 0;
    while (inicio < texto.size()) {
        const auto sep = texto.find('|', inicio);
        if (sep == std::string::npos) {
            campos.push_back(texto.substr(inicio));
            break;
        }
        campos.push_back(texto.substr(inicio, sep - inicio));
        inicio = sep + 1;
    }
    return campos;
}

std::string textoPlanoParametros(const std::filesystem::path& arquivo)
{
    std::ifstream in(arquivo, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw Error("Não foi possível abrir o arquivo " + arquivo.string() + ": " + vek::platform::systemText(err),
                    err);
    }
    const std::string bruto((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw Error("Erro ao ler o arquivo " + arquivo.string(), EIO);
    }
    // Lines end in CR LF, LF or CR; every line gets CR LF again.
    std::string unido;
    std::size_t i = 0;
    while (i < bruto.size()) {
        const auto fim = bruto.find_first_of("\r\n", i);
        if (fim == std::string::npos) {
            unido += bruto.substr(i);
            unido += "\r\n";
            break;
        }
        unido += bruto.substr(i, fim - i);
        unido += "\r\n";
        i = fim + 1;
        if (bruto[fim] == '\r' && i < bruto.size() && bruto[i] == '\n') {
            ++i;
        }
    }
    return platform::fromWin1252(crypto::DecryptVEKText(unido));
}

ParametrosEnvio interpretarParametros(const std::string& textoPlano)
{
    const auto campos = camposParametros(textoPlano);
    if (campos.empty() || (campos[0] != "1" && campos[0] != "2")) {
        // Such a file could only open the window with nothing set, where no
        // operation can succeed; it is treated as a file that cannot be read.
        // A file that is not enciphered with the right key deciphers to noise,
        // which is not worth showing.
        const std::string formato = campos.empty() ? std::string() : campos[0];
        const bool legivel = formato.size() <= 8 &&
                             std::all_of(formato.begin(), formato.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
        throw Error(legivel ? "Formato de arquivo de parâmetro desconhecido: \"" + formato + "\" (esperado 1 ou 2)."
                            : std::string("O conteúdo não é um texto de parâmetros cifrado com a chave do VEK."));
    }
    if (campos.size() < CamposMinimos) {
        throw Error("O arquivo de parâmetro tem " + std::to_string(campos.size()) +
                    " campos; são necessários ao menos " + std::to_string(CamposMinimos) + ".");
    }
    ParametrosEnvio p;
    p.formato = campos[0];
    p.registro = campos[1];
    p.senha = campos[2];
    p.arquivo = campos[3];
    p.tipoArquivo = tipoArquivoParametros(campos[3]);
    p.arquivoResposta = campos[4];
    p.aplicacao = campos[5];
    p.versao = campos[6];
    p.informacoes = trimmed(campos[7]);
    if (p.formato == "1") {
        p.crcEsperado = campos[8];
    } else {
        p.hashEsperado = platform::utf8Left(campos[8], TamanhoMaximoHash);
    }
    if (campos.size() > PosicaoValidacao) {
        p.validacaoLivre = campos[PosicaoValidacao];
    }
    return p;
}

ParametrosEnvio lerArquivoParametros(const std::filesystem::path& arquivo)
{
    return interpretarParametros(textoPlanoParametros(arquivo));
}

std::string cifrarParametros(const ParametrosEnvio& p)
{
    const std::string hash = p.formato == "2" ? p.hashEsperado : p.crcEsperado;
    std::string texto = p.formato + "|" + p.registro + "|" + p.senha + "|" + p.arquivo + "|" + p.arquivoResposta + "|" +
                        p.aplicacao + "|" + p.versao + "|" + p.informacoes + "|" + hash;
    // A closing separator keeps an empty ninth field counted.
    texto += p.validacaoLivre.empty() ? "|" : "||" + p.validacaoLivre;
    return crypto::EncryptVEKText(platform::toWin1252(texto)) + "\r\n";
}

std::string tipoArquivoParametros(const std::string& caminho)
{
    const std::string nome = std::filesystem::path(caminho).filename().string();
    const auto ponto = nome.rfind('.');
    if (ponto == std::string::npos || ponto == 0) {
        return {};
    }
    const std::string extensao = nome.substr(ponto);  // the dot included
    const std::size_t n = platform::utf8Length(extensao);
    const std::size_t pular = n > 3 ? n - 3 : 0;
    // Characters, not bytes: skip `pular` code points.
    std::size_t byte = 0;
    for (std::size_t k = 0; k < pular && byte < extensao.size(); ++k) {
        ++byte;
        while (byte < extensao.size() && (static_cast<unsigned char>(extensao[byte]) & 0xC0) == 0x80) {
            ++byte;
        }
    }
    return upperAZ(extensao.substr(byte));
}

bool arquivoRespostaPodeSerCriado(const std::string& nome)
{
    // Only a plain file name: the response goes into "Protocolos" and
    // nowhere else.
    if (nome.empty() || nome == "." || nome == ".." || nome.find('/') != std::string::npos ||
        nome.find('\0') != std::string::npos) {
        return false;
    }
    const auto pasta = platform::baseDir() / "Protocolos";
    std::error_code ec;
    std::filesystem::create_directories(pasta, ec);
    if (ec) {
        return false;
    }
    const auto caminho = pasta / nome;
    // Created, or emptied when an earlier run left one: a response that
    // survived this run would be read by the caller as this run's answer.
    // No link is followed and nothing but a plain file is touched; a FIFO
    // must not block the start.
    platform::File arquivo;
    if (!arquivo.open(caminho, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK, 0644)) {
        return false;
    }
    struct stat st
    {
    };
    const bool regular = ::fstat(arquivo.fd(), &st) == 0 && S_ISREG(st.st_mode);
    const bool fechado = arquivo.close();
    if (!regular || !fechado) {
        return false;
    }
    return ::unlink(caminho.c_str()) == 0;
}

void aplicarParametros(const ParametrosEnvio& p, AppState& estado)
{
    estado.modoParametros = true;
    estado.registro = p.registro;
    estado.aplicacao = p.aplicacao;
    estado.versaoAplicacao = p.versao;
    estado.senha = p.senha;
    estado.arquivo = p.arquivo;
    estado.tipoArquivo = p.tipoArquivo;
    estado.nomeArquivoRegistro = p.arquivoResposta;
    estado.informacoesAdicionais = p.informacoes;
    estado.crcEsperado = p.crcEsperado;
    estado.hashEsperado = p.hashEsperado;
    estado.validacaoLivre = p.validacaoLivre;
    estado.codigoSaida = 0;
}

std::optional<FalhaInicio> verificarInicioParametros(const std::filesystem::path& arquivo, ParametrosEnvio& p)
{
    try {
        p = lerArquivoParametros(arquivo);
    } catch (const std::exception& e) {
        return FalhaInicio{CodigoSaidaErroParametros, std::string(MsgErroLerParametro) + e.what()};
    }
    if (!arquivoRespostaPodeSerCriado(p.arquivoResposta)) {
        return FalhaInicio{CodigoSaidaErroResposta, MsgErroArquivoResposta};
    }
    // Only a plain file can be sent: a directory is not one.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p.arquivo, ec)) {
        return FalhaInicio{CodigoSaidaArquivoAusente, MsgArquivoEnviarNaoEncontrado};
    }
    return std::nullopt;
}

std::optional<std::string>
verificarChecksum(const AppState& estado, channel::TCanalZEBCliente& canal, const std::function<void()>& progresso)
{
    if (!estado.crcEsperado.empty()) {
        crypto::TCrc32 crc;
        crc.Crc32FileName = estado.arquivo;
        if (progresso) {
            crc.ProgressStep = 1;
            crc.OnProgress = [&progresso](crypto::TCrc32&) { progresso(); };
        }
        if (crc.Crc32Hex() != estado.crcEsperado) {
            return std::string(MsgErroCrc);
        }
        canal.HashArquivo = estado.crcEsperado;
    } else if (!estado.hashEsperado.empty()) {
        if (crypto::THashFunctions::TigerFileHash(estado.arquivo) != estado.hashEsperado) {
            return std::string(MsgErroTiger);
        }
        canal.HashArquivo = estado.hashEsperado;
    }
    return std::nullopt;
}

std::string itemTipoParametros(const channel::TCanalZEBCliente& canal)
{
    return "Arquivo do " + canal.ID_Aplicacao_no_Servidor();
}

}  // namespace vek::app
