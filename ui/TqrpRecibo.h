#pragma once

#include <QObject>
#include <QString>

class QPainter;
class QWidget;

namespace vek::ui {

// The transmission receipt: one A4 page, 10 mm margins, laid out in
// millimetres. The same drawing serves the print preview and PDF files.
class TqrpRecibo : public QObject
{
    Q_OBJECT

public:
    struct Valores
    {
        QString protocolo;  // the protocol line
        QString operadora;
        QString arquivo;  // without directories
        QString dataRecebimento;
        QString informacoes;
        QString enderecoIP;
        QString autenticacao;
    };

    explicit TqrpRecibo(QWidget* dono);

    // Sets the seven values (the file name loses its directories) and opens
    // the print preview; returns when the user has closed it.
    void preencher(const QString& protocolo,
                   const QString& operadora,
                   const QString& arquivo,
                   const QString& dataRecebimento,
                   const QString& informacoes,
                   const QString& enderecoIP,
                   const QString& autenticacao);

    void definirValores(const Valores& valores);
    [[nodiscard]] const Valores& valores() const { return valores_; }

    // Draws the page on a painter whose origin is the printable area's top
    // left corner, on a device of `dpi` dots per inch.
    void desenhar(QPainter& painter, qreal dpi) const;

    // Writes the page to a PDF file; false when it could not be written.
    bool salvarPdf(const QString& caminho) const;

    // The print preview, with "Salvar como PDF" beside the printer.
    void visualizar();

private:
    QWidget* dono_;
    Valores valores_;
};

}  // namespace vek::ui
