#pragma once

#include "app/Receipt.h"

#include <QString>

#include <memory>

class QGuiApplication;
class QPageLayout;
class QPainter;

namespace vek::report {

// The transmission receipt: one A4 page, portrait, 10 mm margins, laid out in
// millimetres; all of it in one band at the top of the printable area.

// Sets a page layout to the receipt's page.
void configurarPagina(QPageLayout& layout);

// Draws the receipt on a painter whose origin is the printable area's top
// left corner, on a device of `dpi` dots per inch.
void desenharRecibo(QPainter& painter, qreal dpi, const app::ValoresRecibo& valores);

// Writes the receipt to a PDF file; false when it could not be written.
bool salvarReciboPdf(const QString& caminho, const app::ValoresRecibo& valores);

// The receipt's and the window's font families are not on a Debian desktop:
// Verdana and Tahoma map to DejaVu Sans, Arial to Liberation Sans, Times New
// Roman to Liberation Serif and Courier New to Liberation Mono.
void instalarSubstituicoesDeFontes();

// Fonts and painting need a GUI application. A program without a window
// holds one of these while it draws: when no application exists yet it
// creates one on the offscreen platform, which needs no display whatever
// QT_QPA_PLATFORM says, and ends it when it goes.
class AplicacaoSemJanela
{
public:
    AplicacaoSemJanela();
    ~AplicacaoSemJanela();
    AplicacaoSemJanela(const AplicacaoSemJanela&) = delete;
    AplicacaoSemJanela& operator=(const AplicacaoSemJanela&) = delete;

private:
    int argc_ = 3;
    char* argv_[4] = {};
    std::unique_ptr<QGuiApplication> app_;
};

}  // namespace vek::report
