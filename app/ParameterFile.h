#pragma once

#include "app/AppState.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vek::channel {
class TCanalZEBCliente;
}

namespace vek::app {

// Unattended upload: another program names an enciphered parameter file as
// the first argument; one file is sent, the transmission record is written
// under the name the caller chose, and the exit code tells the outcome.
// Shared by the window and `vek-cli parametros`.

inline constexpr int CodigoSaidaErroParametros = 1;     // missing, unreadable, too few fields
inline constexpr int CodigoSaidaErroResposta = 2;       // response file cannot be created
inline constexpr int CodigoSaidaArquivoAusente = 3;     // file to send does not exist
inline constexpr int CodigoSaidaChecksumDiferente = 5;  // CRC or Tiger hash differs

inline constexpr const char* MsgErroLerParametro = "Erro ao ler o arquivo de parâmetro. ";
inline constexpr const char* MsgErroArquivoResposta = "Erro ao criar o arquivo de resposta.";
inline constexpr const char* MsgArquivoEnviarNaoEncontrado = "O arquivo a ser enviado não foi encontrado.";
inline constexpr const char* MsgErroCrc = "Erro na verificação do CRC do arquivo: ";
inline constexpr const char* MsgErroTiger = "Erro na verificação do hash tiger do arquivo: ";

struct ParametrosEnvio
{
    std::string formato;  // "1" (CRC) or "2" (Tiger hash)
    std::string registro;
    std::string senha;
    std::string arquivo;          // full path of the file to send
    std::string tipoArquivo;      // from the path, see tipoArquivoParametros
    std::string arquivoResposta;  // the record's file name in "Protocolos"
    std::string aplicacao;
    std::string versao;
    std::string informacoes;   // leading and trailing blanks and control characters removed
    std::string crcEsperado;   // format 1
    std::string hashEsperado;  // format 2: the expected Tiger hash, at most 50 characters
    std::string validacaoLivre;
};

// The plain text's fields: split at every "|"; an empty field between two
// separators counts, a separator at the very end adds none.
std::vector<std::string> camposParametros(const std::string& texto);

// The file's lines joined again with CR LF after each, deciphered with the
// fixed-key text cipher. Throws vek::Error when the file cannot be read.
std::string textoPlanoParametros(const std::filesystem::path& arquivo);

// The values of a plain parameter text. Throws vek::Error (its text follows
// MsgErroLerParametro) with fewer than nine fields or a format other than
// "1" or "2".
ParametrosEnvio interpretarParametros(const std::string& textoPlano);

// textoPlanoParametros + interpretarParametros.
ParametrosEnvio lerArquivoParametros(const std::filesystem::path& arquivo);

// The enciphered file text for the values (what gerar-parametros writes);
// interpretarParametros(DecryptVEKText(...)) gives the values back.
std::string cifrarParametros(const ParametrosEnvio& p);

// The file type of this mode: the last three characters of the extension,
// the dot counted, upper-cased for A to Z (".AB" for an extension "ab").
std::string tipoArquivoParametros(const std::string& caminho);

// Whether the response file can be created in "Protocolos" under the base
// directory (created when missing): the file is created or truncated, closed
// and deleted, so no earlier run's response is left to be read as this run's.
// A name that is not a plain file name (directories, "..") is refused, and so
// is an existing entry of that name that is not a plain file (a link, a
// directory), which is left as it is.
bool arquivoRespostaPodeSerCriado(const std::string& nome);

// The values into the window's state (modoParametros set, codigoSaida 0).
void aplicarParametros(const ParametrosEnvio& p, AppState& estado);

// The checks made once the file is known, before anything is shown: the
// exit code and the message box text when the run must end at once.
struct FalhaInicio
{
    int codigo = 0;
    std::string mensagem;
};
// Reads the parameter file, probes the response file, checks that the file
// to send exists as a plain file (a directory is a missing file). On success
// fills `p`.
std::optional<FalhaInicio> verificarInicioParametros(const std::filesystem::path& arquivo, ParametrosEnvio& p);

// The checksum check before the upload: with an expected CRC, the file's
// CRC-32 text is compared (exact, case-sensitive); else with an expected
// Tiger hash, the file's Tiger hash; with neither, nothing. On a match the
// channel's HashArquivo takes the expected text. Returns the message box text
// on a difference. Errors while reading the file are raised (vek::Error).
// `progresso` runs while the CRC is worked out (the window lets events run).
std::optional<std::string> verificarChecksum(const AppState& estado,
                                             channel::TCanalZEBCliente& canal,
                                             const std::function<void()>& progresso = {});

// The item the send page's type list shows in this mode.
std::string itemTipoParametros(const channel::TCanalZEBCliente& canal);

}  // namespace vek::app
