#pragma once

#include "channel/TCanalZEBCliente.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vek::app {

// What the main window keeps for the whole run. Strings start empty.
struct AppState
{
    std::string registro;               // registry number, as typed or given
    std::string senha;                  // password, as typed or given
    std::string tipoArquivo;            // file type, as taken from the file name or given
    std::string arquivo;                // path of the file to send
    std::string aplicacao;              // application name (empty: the channel keeps its own)
    std::string versaoAplicacao;        // application version (empty: likewise)
    std::string nomeArquivoRegistro;    // transmission record's file name
    std::string crcEsperado;            // parameter file only
    std::string hashEsperado;           // parameter file only
    std::string informacoesAdicionais;  // parameter file only
    std::string dataRecebimento;        // from the last successful upload
    std::string protocolo;
    std::string enderecoIP;
    std::string autenticacao;
    std::string validacaoLivre;      // parameter file only
    std::string hashInformado;       // a checksum text sent as given, unchecked (vek-cli enviar --hash)
    std::optional<int> janelaEnvio;  // vek-cli enviar --janela; unset: the configuration's JanelaEnvio
    bool modoParametros = false;
    int codigoSaida = 0;
};

// Exit codes that the send flow sets.
inline constexpr int CodigoSaidaErroPreparacao = 3;
inline constexpr int CodigoSaidaErroConexao = 4;
inline constexpr int CodigoSaidaSucesso = 9;
inline constexpr int CodigoSaidaSemArquivoParametros = 1;

// The mode is decided once from the command line: no argument, or a first
// argument that names a trace file ("LOG..." naming no existing file), runs
// interactively; any other first argument names a parameter file, and a
// first argument that names an existing file always does.
bool modoArquivoParametros(const std::vector<std::string>& args);

// Whether an argument renames the trace file: it begins with "LOG" in any
// case and names no existing file (the channel applies the same rule).
bool argumentoDeTrace(const std::string& arg);

// What every operation sends of the operator and the run's application:
// CD_Operadora, Aplicacao, VersaoAplicativo and Senha from the state (an
// empty application name or version leaves the channel's own).
void applyOperator(const AppState& estado, channel::TCanalZEBCliente& canal);

// The exit code after an upload progress event: a failed preparation gives 3,
// a failed connection or transmission 4; otherwise the current code stays.
int codigoSaidaAposProgresso(const channel::TStatusUpload& status, int atual);

// The receipt's protocol line: "protocol - transmitter version", and in
// parameter-file mode also " - Aplicativo: " and the application's id.
std::string linhaProtocoloRecibo(const std::string& protocolo,
                                 const std::string& versaoTransmissor,
                                 bool modoParametros,
                                 const std::string& idAplicacao);

// The clean-up at exit: every "*.zeb" file in `pastaTemp` (the base
// directory's temp/) and every "*.par" file in `pastaTemporaria` (the user's
// temporary directory). Extensions match regardless of the case of A to Z;
// errors are ignored. Returns how many files went.
int limparArquivosTemporarios(const std::filesystem::path& pastaTemp, const std::filesystem::path& pastaTemporaria);

inline constexpr const char* MsgDesejaSair = "Deseja sair do VEK?";
// Closing while a transfer runs: yes abandons it and then closes as above.
inline constexpr const char* MsgCancelarEnvio = "Deseja cancelar o envio e sair do VEK?";
inline constexpr const char* MsgCancelarDownload = "Deseja cancelar o download e sair do VEK?";
inline constexpr const char* MsgArquivoParametrosNaoEncontrado = "Arquivo de parâmetros não encontrado.";

}  // namespace vek::app
