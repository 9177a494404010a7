#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;
class QShowEvent;
class QTextBrowser;
class QVariantAnimation;

namespace vek::ui {

// Where the help's texts and drawings say the agency's server is: the
// configured address and ports.
struct EnderecoServidor
{
    QString servidor;
    int porta = 0;
    int portaFtp = 0;
    int portaDados = 0;
};

// The animated drawing of the help's sending and receiving pages: the
// operator's computer and network, the internet and the agency's server,
// with the connections each function opens and a packet travelling along them.
class DiagramaConexao : public QWidget
{
    Q_OBJECT

public:
    enum class Tipo
    {
        Envio,
        Recebimento,
    };

    DiagramaConexao(QWidget* parent, const EnderecoServidor& endereco);

    void mostrar(Tipo tipo);
    // Plays the animation again from its start.
    void repetir();
    // Where the animation is, from 0 to 1; tests and screenshots set it.
    [[nodiscard]] qreal progresso() const { return progresso_; }
    void setProgresso(qreal progresso);
    [[nodiscard]] bool animando() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EnderecoServidor endereco_;
    Tipo tipo_ = Tipo::Envio;
    qreal progresso_ = 1;
    QVariantAnimation* animacao_ = nullptr;
};

// The help window: modal, the main window's size, caption "Ajuda". A home
// page leads to the sending, receiving and question pages; "Início",
// "Voltar" and "Repetir" move about, and the "sair" command closes it.
class TfrmAjuda : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAjuda(QWidget* parent = nullptr, EnderecoServidor endereco = {});

    // A page by name: "inicio", "envio", "recebimento", "perguntas".
    void mostrarPagina(const QString& nome);
    [[nodiscard]] const QString& paginaAtual() const { return pagina_; }
    // A command from the help content: "sair" closes the window, "recibos"
    // opens the earlier uploads' receipts; any other is ignored.
    void executarComando(const QString& comando, const QString& argumentos = {});
    void voltar();
    void repetir();

    [[nodiscard]] QTextBrowser* navegador() const { return navegador_; }
    [[nodiscard]] DiagramaConexao* diagrama() const { return diagrama_; }

protected:
    // Opened from a window, it lies exactly over that window's client area.
    void showEvent(QShowEvent* event) override;

private:
    void abrirLink(const QUrl& url);
    void exibir(const QString& nome);

    EnderecoServidor endereco_;
    QString pagina_;
    QStringList anteriores_;
    QLabel* titulo_ = nullptr;
    QTextBrowser* navegador_ = nullptr;
    DiagramaConexao* diagrama_ = nullptr;
};

}  // namespace vek::ui
