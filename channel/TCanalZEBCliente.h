#pragma once

#include "crypto/UploadPreparation.h"
#include "platform/OsInfo.h"
#include "platform/Socket.h"
#include "wire/Frame.h"
#include "wire/Timeouts.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek::crypto {
class TRsaQv;
}
namespace vek::ftp {
class TZebFTP;
}

namespace vek::channel {

class Exchange;

enum TTipoStatusEtapa : std::uint8_t
{
    tseNada = 0,
    tseExecutando = 1,
    tseFinalizada = 2,
    tseErro = 3,
};

// The most characters a text handed to the caller holds (status and result
// texts, the short strings of the callers' records); longer ones are cut.
constexpr std::size_t ShortStringLimit = 255;

// Progress of the three upload steps. Mensagem holds at most ShortStringLimit characters.
struct TStatusUpload
{
    TTipoStatusEtapa StatusPreparacao = tseNada;
    std::uint8_t PercentPreparacao = 0;
    TTipoStatusEtapa StatusConexao = tseNada;
    std::uint8_t PercentConexao = 0;
    TTipoStatusEtapa StatusTransmissao = tseNada;
    std::uint8_t PercentTransmissao = 0;
    std::string Mensagem;
};

struct TStatusDownload
{
    std::int32_t PercentFeito = 0;
    std::string TextoInfo;  // at most ShortStringLimit characters
};

// The outcome of one upload, handed to the caller. Texts hold at most ShortStringLimit characters.
struct TResultadoEnvio
{
    bool Sucesso = false;
    std::string Protocolo;
    std::string DataHora;
    std::string EnderecoIP;
    std::string Autenticacao;
    std::string MensagemErro;
};

enum class ResultadoAlteracaoSenha
{
    Aceita,    // the server accepted (code 3)
    Recusada,  // the server refused (code 94)
    Ignorada,  // another reply code: nothing was shown
    Falhou,    // no connection, or a read or write failed
};

class TCanalZEBCliente;

using TSendFileEvent = std::function<void(TCanalZEBCliente& Sender, const TStatusUpload& StatusEnvio)>;
using TRetrieveFileEvent = std::function<void(TCanalZEBCliente& Sender, const TStatusDownload& StatusDownload)>;
using TStatusQueryListEvent = std::function<void(
    TCanalZEBCliente& Sender, TTipoStatusEtapa Status, std::int32_t percentFeito, const std::string& TextoInfo)>;

// The operating-system text that requests carry, from the family, version
// and service-pack values.
std::string NomeSistemaOperacional(const platform::OsVersionInfo& info);

// A name that came from the server reduced to a plain file name: no
// directories, drive letters or "..". Throws a "<<CANAL_ZEB>>" error when
// nothing usable is left.
std::string nomeArquivoSeguro(const std::string& nome);

// Whether the program's first argument names the trace file of the
// list-type queries: it begins with "LOG" in any case and names no existing
// file (an existing file is a parameter file, whatever its name).
bool argumentoNomeiaTrace(const std::string& argumento);

// The characters before the first "|", removed from the text with that "|";
// the whole text (leaving it empty) when it has none.
std::string ExtrairCampo(std::string& texto);

// The client side of every exchange with the agency's server. Operations are
// blocking calls on the caller's thread; each reads the configuration file
// first, reports progress through its event, and lets the user interface
// process its pending events at fixed points. Texts are UTF-8 here and
// Windows-1252 on the wire and in the trace file.
class TCanalZEBCliente
{
public:
    static constexpr const char* AplicacaoPadrao = "VEK";
    static constexpr const char* VersaoPadrao = "4.0.8";
    static constexpr const char* ServidorPadrao = "127.0.0.1";
    static constexpr int PortaServicoPadrao = 80;
    static constexpr int PortaFTPPadrao = 21;
    static constexpr int PortaDadosPadrao = 20001;
    static constexpr const char* NomeArquivoConfiguracao = "vek.INI";
    static constexpr const char* NomeArquivoTrace = "TraceVEK.log";

    TCanalZEBCliente();
    virtual ~TCanalZEBCliente();
    TCanalZEBCliente(const TCanalZEBCliente&) = delete;
    TCanalZEBCliente& operator=(const TCanalZEBCliente&) = delete;

    // --- published properties ---
    std::string StrValidacaoLivre;
    std::string CD_Operadora;
    std::string Senha;
    std::string Arquivo;

    [[nodiscard]] const std::string& Aplicacao() const { return aplicacao_; }
    void SetAplicacao(const std::string& value);  // an empty text is ignored
    [[nodiscard]] const std::string& Tipo_Arquivo() const { return tipoArquivo_; }
    void SetTipo_Arquivo(const std::string& value);  // stored upper-cased
    [[nodiscard]] const std::string& VersaoAplicativo() const { return versaoAplicativo_; }
    void SetVersaoAplicativo(const std::string& value);  // an empty text is ignored
    [[nodiscard]] const std::string& Prot_Ultimo_Envio() const { return protUltimoEnvio_; }
    [[nodiscard]] const std::string& DT_Ultimo_Envio() const { return dtUltimoEnvio_; }
    [[nodiscard]] std::string VersaoTransmissor() const;
    [[nodiscard]] std::string ID_Aplicacao_no_Servidor() const;

    TSendFileEvent AoEnviarArquivo;
    TStatusQueryListEvent AoConsultarListaDownload;
    TRetrieveFileEvent AoReceberArquivo;
    TStatusQueryListEvent AoConsultaHistoricoTx;

    // --- operations ---
    void EnviarArquivo(TResultadoEnvio& resultado);
    void ConsultarListaDownload(const std::string& tipoArquivo,
                                const std::string& competencia,
                                const std::string& disponibilizacao,
                                std::string& arquivoLista);
    void ConsultarHistoricoTx(const std::string& dataInicio, const std::string& dataFim, std::string& arquivoLista);
    // Never fails towards the caller: the outcome is shown in message boxes.
    // The result only tells a command line what happened.
    ResultadoAlteracaoSenha AlterarSenha(const std::string& novaSenha);
    // Fetches one listed file over FTP and deciphers it into `destino` (temp/
    // under its listed name when empty). tamanhoEsperadoKB is the listed size
    // in kilobytes of 1024 bytes.
    void ReceberArquivo(const std::string& NM_ARQUIVO,
                        const std::string& DE_PATH_ARQUIVO,
                        const std::string& ID_ARQUIVO_DISPONIVEL,
                        const std::string& CD_TIPO_ARQUIVO,
                        const std::string& CD_CHAVE_CRIPTOGRAFIA,
                        const std::string& destino,
                        std::int32_t tamanhoEsperadoKB);
    // The files ReceberArquivo writes for the listed NM_ARQUIVO and `destino`:
    // the enciphered temporary file in temp/ (deleted once deciphered; a failed
    // download leaves it) and the deciphered file. Throws vek::Error for a
    // listed name that names no file (nomeArquivoSeguro).
    struct CaminhosDownload
    {
        std::filesystem::path temporario;
        std::filesystem::path destino;
    };
    [[nodiscard]] static CaminhosDownload caminhosDownload(const std::string& NM_ARQUIVO, const std::string& destino);
    void ListarTiposArquivoEnvio(std::string& lista);
    void ListarTiposArquivoDownload(std::string& lista);

    // --- members that are not published ---
    std::string HashArquivo;
    std::string UsuarioDownload;
    std::string SenhaDownload;
    std::string IdentificadorDownload;
    std::string IP_Ultimo_Envio;
    std::string Autenticacao_Ultimo_Envio;
    std::string ArquivoTrace;
    std::vector<std::uint8_t> ChaveSimetrica;
    std::shared_ptr<crypto::TRsaQv> ChaveServidor;  // released when the exchange ends, as the key is wiped
    // The enciphered file in blocks, read back one block at a time; its work
    // file goes when the upload's exchange ends, its layout stays.
    crypto::BlockFile BlocosDados;
    std::int32_t TamanhoCifrado = 0;
    TStatusUpload StatusEnvio;
    TStatusDownload StatusDownload;
    // Beside the progress events: the bytes of the running transfer so far
    // (the enciphered file going out block by block, the file coming in
    // write by write) and its size (0 when unknown), for displays of the
    // speed and the time left. An empty function is skipped.
    std::function<void(std::int64_t feitos, std::int64_t total)> onTransferProgress;

    // The program's first command-line argument, told by the front end; a
    // "LOG..." argument that names no existing file renames the trace file of
    // the list-type queries.
    std::string PrimeiroArgumento;
    // Every wait of the protocol.
    wire::Timeouts timeouts;
    // The largest list or history file accepted from the server, received and
    // expanded: a real one holds some hundreds of rows; anything near this
    // bound is a broken or hostile server filling the disk.
    static constexpr std::uint64_t DefaultMaxListFileBytes = 256ULL * 1024 * 1024;
    std::uint64_t maxListFileBytes = DefaultMaxListFileBytes;
    // Upload blocks written before their acknowledgements are read, for
    // servers that read frames in order. Unset, the configuration's
    // JanelaEnvio holds; 1 (also for an absent, empty or invalid key: not a
    // whole number from 1 to MaxJanelaEnvio) is stop-and-wait: every block
    // waits for its acknowledgement. An invalid key is traced at the upload.
    static constexpr int MaxJanelaEnvio = 4096;
    std::optional<int> janelaEnvio;
    // The window a text gives, when it is a whole number from 1 to
    // MaxJanelaEnvio (an optional leading "+"): the one rule of the key and
    // of vek-cli's --janela.
    [[nodiscard]] static std::optional<int> janelaValida(std::string_view text);
    // The window the next upload uses, once the configuration was read.
    [[nodiscard]] int janelaEfetiva() const;

    // --- shared by the exchanges ---
    void LerConfiguracao();
    void GravarTrace(const std::string& text);
    void ReportarEnvio(TTipoStatusEtapa statusPreparacao,
                       int percentPreparacao,
                       TTipoStatusEtapa statusConexao,
                       int percentConexao,
                       TTipoStatusEtapa statusTransmissao,
                       int percentTransmissao,
                       const std::string& texto);
    void ReportarDownload(std::int32_t percent, const std::string& texto);
    void Conectar();
    wire::Message LerMensagem();
    void EnviarAck();
    // Writes a whole frame within the stream's time-out.
    void enviarMensagem(const std::vector<std::uint8_t>& frame);
    [[nodiscard]] std::string NomeSistemaOperacional() const;

    // The three upload steps, in the order EnviarArquivo runs them, the last
    // two on the exchange's connection.
    void PrepararArquivo();
    void SolicitarAutorizacao(Exchange& exchange);
    void TransmitirArquivo(Exchange& exchange);
    // Fires a list-type query's event, then lets the user interface breathe.
    void notificarConsulta(const TStatusQueryListEvent& evento,
                           TTipoStatusEtapa status,
                           int percent,
                           const std::string& texto);
    // Sends a list-type request and reads the server's answer. A denial is
    // traced, shown, reported on `evento` and raised with the prefix; another
    // code than acceptance gives nothing (the query ends quietly); after an
    // acceptance, the result message that follows.
    std::optional<wire::Message> pedirLista(const std::vector<std::uint8_t>& pedido,
                                            const std::string& traceEnviado,
                                            const TStatusQueryListEvent& evento);
    // Receives a gzipped list file into temp/, expands it and returns its path
    // (ListFile.cpp, with the safe-name rule).
    std::string ReceberArquivoLista(const TStatusQueryListEvent& evento);
    void LerCredenciaisDownload();
    // The working directory beside the program.
    [[nodiscard]] static std::filesystem::path diretorioTemp();

    // The block size the preparation cuts with: 1280 at the start of every
    // upload, lowered to 1267 for an upload whose enciphered size is a multiple of it.
    [[nodiscard]] int TamanhoBloco() const { return tamanhoBloco_; }

    [[nodiscard]] const std::string& host() const { return host_; }
    [[nodiscard]] int porta() const { return porta_; }
    [[nodiscard]] int portaFTP() const { return portaFTP_; }
    [[nodiscard]] int portaDados() const { return portaDados_; }
    [[nodiscard]] bool traceLigado() const { return traceSwitch_ == 'S'; }
    [[nodiscard]] bool traceCifrado() const { return traceCipherSwitch_ == 'S'; }
    [[nodiscard]] platform::TcpSocket& socCliente() { return socket_; }
    // Closes the connection and forgets whatever it had delivered unread.
    void fecharSocket() noexcept
    {
        socket_.close();
        reader_.discard();
    }

    // Operating-system values for the request texts; tests replace them.
    std::function<platform::OsVersionInfo()> osVersionProvider;

protected:
    // One connection attempt; tests replace it to play odd sockets.
    virtual void tentarConexao();
    // The list-type queries' trace-name rule.
    void aplicarNomeTraceLinhaComando();

private:
    // Ends the operation before any connection when no server is configured.
    void recusarSemConfiguracao() const;
    // The steps of the exchanges, each in the file of its exchange.
    // Upload.cpp
    void reportConnectionStep(TTipoStatusEtapa status, int percent, const std::string& texto);
    void reportTransmissionStep(TTipoStatusEtapa status, int percent, const std::string& texto);
    // A write whose failure is traced as the text, the label and the error code.
    void sendTracingFailure(const std::vector<std::uint8_t>& frame, const char* failureLabel);
    [[nodiscard]] std::string uploadRequestText() const;
    void requestAuthorization(const std::string& pedido);
    void receiveServerKey();
    [[noreturn]] void refuseUpload(const std::string& motivo);
    void sendSymmetricKey();
    void readAnyReply();
    void sendBlocks();
    void sendBlocksWindowed(int janela);
    // The per-block trace lines and progress once block i of n got its reply.
    void blockReplied(std::int64_t i, std::int64_t n, std::uint8_t code, std::size_t frameLength, bool tracing);
    void receiveReceipt(const wire::Message& recibo);
    // ListQuery.cpp
    std::string queryList(Exchange& exchange,
                          const std::string& tipoArquivo,
                          const std::string& mesCompetencia,
                          const std::string& mesDisponibilizacao);
    void showEmptyList(bool filtered);
    // History.cpp
    std::string queryHistory(Exchange& exchange, const std::string& dataInicio, const std::string& dataFim);
    // PasswordChange.cpp
    ResultadoAlteracaoSenha requestPasswordChange(Exchange& exchange, const std::string& novaSenha);
    // ListFile.cpp
    struct ListFileHeader
    {
        long long size = 0;
        std::string name;
    };
    void createTempDirectory(const std::filesystem::path& dir);
    ListFileHeader readListFileHeader(const wire::Message& cabecalho);
    void
    receiveListFileBlocks(const std::filesystem::path& gzPath, long long tamanho, const TStatusQueryListEvent& evento);
    void expandListFile(const std::filesystem::path& gzPath, const std::filesystem::path& destino);
    // Download.cpp
    struct ListedFile
    {
        std::string NM_ARQUIVO;
        std::string DE_PATH_ARQUIVO;
        std::string ID_ARQUIVO_DISPONIVEL;
        std::string CD_TIPO_ARQUIVO;
    };
    void downloadFile(const ListedFile& arquivo,
                      const std::string& chave,
                      const std::string& destino,
                      std::int32_t tamanhoEsperadoKB);
    std::unique_ptr<ftp::TZebFTP> makeFtpClient(std::int32_t tamanhoEsperadoKB);
    void connectFtp(ftp::TZebFTP& cliente);
    void transferFile(ftp::TZebFTP& cliente, const ListedFile& arquivo, const std::filesystem::path& temporario);
    void decipherFile(const std::filesystem::path& temporario,
                      const std::filesystem::path& destino,
                      const std::string& chave);

    std::string aplicacao_ = AplicacaoPadrao;
    std::string tipoArquivo_;
    std::string versaoAplicativo_ = VersaoPadrao;
    std::string protUltimoEnvio_;
    std::string dtUltimoEnvio_;

    std::string host_ = ServidorPadrao;
    int porta_ = PortaServicoPadrao;
    int portaFTP_ = PortaFTPPadrao;
    int portaDados_ = PortaDadosPadrao;
    char traceSwitch_ = 'N';
    char traceCipherSwitch_ = 'S';

    int tamanhoBloco_ = crypto::UploadBlockSize;
    int janelaConfiguracao_ = 1;
    std::string janelaInvalida_;  // the JanelaEnvio text refused, if any
    // Set by LerConfiguracao when no server is configured anywhere: no
    // connection is tried, the operation ends with this text.
    std::optional<std::string> naoConfigurado_;

    platform::TcpSocket socket_;
    // Replies are read through a buffer: a window's acknowledgements that
    // arrived together cost one receive call, not one each.
    wire::FrameReader reader_{socket_, 4096};
};

}  // namespace vek::channel
