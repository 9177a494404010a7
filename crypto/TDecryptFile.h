#pragma once

#include <string>
#include <vector>

namespace vek::platform {
class File;
}  // namespace vek::platform

namespace vek::crypto {

// Properties and key stream shared by the file cipher components.
//
// Enciphered file: one leading byte that carries no data, then every data
// byte XORed with the key stream: 7F for an empty password; otherwise the
// password's characters (Windows-1252) in the order 1, 2, ..., L, L-1, ..., 2,
// 1, 2, ... (period 2(L-1)).
class FileXorCipher
{
public:
    static constexpr std::size_t PieceSize = 512;
    static constexpr int MinPasswordLength = 3;
    static constexpr int MaxPasswordLength = 127;

    virtual ~FileXorCipher() = default;

    [[nodiscard]] const std::string& ArquivoOriginal() const { return arquivoOriginal_; }
    // Every double-quote character is removed.
    void SetArquivoOriginal(const std::string& path);
    [[nodiscard]] const std::string& ArquivoDestino() const { return arquivoDestino_; }
    // Every double-quote character is removed.
    void SetArquivoDestino(const std::string& path);

    [[nodiscard]] const std::string& Senha() const { return senha_; }
    // 3 to 127 characters: taken, UsarSenha becomes true. Empty: UsarSenha
    // becomes false and the password empty. Any other length: throws
    // vek::Error("A senha deve ter de 3 a 25 caracteres") keeping the password
    // when UsarSenha is true, else empties the password.
    void SetSenha(const std::string& senha);

    bool UsarSenha = false;
    // When true a failure of Executar reaches the caller as vek::Error;
    // when false it is only recorded in SucessoExecucao and MsgErro.
    bool ExcecaoErro = false;

    [[nodiscard]] bool SucessoExecucao() const { return sucessoExecucao_; }
    // Message of the last failure; kept until the next failure.
    [[nodiscard]] const std::string& MsgErro() const { return msgErro_; }

    // The key stream byte for data byte `index`.
    [[nodiscard]] std::uint8_t keyByte(std::uint64_t index) const;

    void Executar();

protected:
    // Reads ArquivoOriginal and writes ArquivoDestino; throws vek::Error.
    virtual void run() = 0;

    // Reads `source` in 512-byte logical pieces (through a large buffer),
    // lets the user interface process its events before and after XORing each
    // piece, and writes the result to `destination`. Stops after the first
    // piece shorter than 512 bytes.
    void transform(platform::File& source, platform::File& destination) const;

private:
    std::string arquivoOriginal_;
    std::string arquivoDestino_;
    std::string senha_;
    bool sucessoExecucao_ = false;
    std::string msgErro_;
};

// Restores a downloaded file: drops the leading byte and XORs the rest with
// the key stream. A source of zero bytes has no leading byte and is a
// failure ("Arquivo cifrado vazio: <path>"); no destination is created then.
// Files that cannot be opened, created, read or written fail with
// "Erro (<errno>) ao abrir|criar|ler|gravar arquivo: <path>".
class TDecryptFile : public FileXorCipher
{
protected:
    void run() override;
};

// The twin: writes one leading byte (00) and the data XORed with the same key
// stream, so that TDecryptFile restores it. An empty source gives a file of
// the leading byte only.
class TEncryptFile : public FileXorCipher
{
protected:
    void run() override;
};

}  // namespace vek::crypto
