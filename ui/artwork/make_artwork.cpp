// Draws the window's and the receipt's artwork into PNG files. The PNGs are
// kept in ui/resources/; rebuild them with
//   cmake --build build --target vek_artwork && QT_QPA_PLATFORM=offscreen build/bin/vek_artwork ui/resources
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor Teal(0x00, 0x64, 0x6E);
const QColor Green(0x73, 0x9F, 0x35);
const QColor Mint(0xC0, 0xDC, 0xC0);
const QColor Pale(0xE6, 0xEF, 0xD9);

QImage canvas(int w, int h, const QColor& fill = Qt::transparent)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

// The program's mark: a teal rounded square with a white sheet and a green
// arrow leaving it upwards, inside a square of `size` at (x, y).
void drawMark(QPainter& p, qreal x, qreal y, qreal size)
{
    const qreal u = size / 48.0;
    p.save();
    p.translate(x, y);
    p.scale(u, u);
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, 0, 0, 48);
    g.setColorAt(0, Teal.lighter(125));
    g.setColorAt(1, Teal);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, 48, 48), 9, 9);
    // Sheet with a folded corner.
    QPainterPath sheet;
    sheet.moveTo(12, 10);
    sheet.lineTo(28, 10);
    sheet.lineTo(36, 18);
    sheet.lineTo(36, 40);
    sheet.lineTo(12, 40);
    sheet.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setBrush(QColor(0xCF, 0xE0, 0xD0));
    QPainterPath fold;
    fold.moveTo(28, 10);
    fold.lineTo(28, 18);
    fold.lineTo(36, 18);
    fold.closeSubpath();
    p.drawPath(fold);
    // Arrow.
    p.setBrush(Green);
    QPainterPath arrow;
    arrow.moveTo(24, 16);
    arrow.lineTo(31, 25);
    arrow.lineTo(26.5, 25);
    arrow.lineTo(26.5, 35);
    arrow.lineTo(21.5, 35);
    arrow.lineTo(21.5, 25);
    arrow.lineTo(17, 25);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.restore();
}

QFont font(qreal pixels, bool bold = false)
{
    QFont f("DejaVu Sans");
    f.setPixelSize(static_cast<int>(pixels));
    f.setBold(bold);
    return f;
}

QImage titleBand()
{
    QImage image = canvas(522, 72);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 522, 0);
    g.setColorAt(0, Qt::white);
    g.setColorAt(0.55, Qt::white);
    g.setColorAt(1, Pale);
    p.fillRect(image.rect(), g);
    // Light diagonal bands towards the right.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        QColor c = Mint;
        c.setAlpha(40 + i * 12);
        p.setBrush(c);
        const qreal x = 380 + i * 24;
        QPolygonF band({QPointF(x, 0), QPointF(x + 12, 0), QPointF(x + 12 - 40, 72), QPointF(x - 40, 72)});
        p.drawPolygon(band);
    }
    drawMark(p, 14, 12, 48);
    p.setPen(Teal);
    p.setFont(font(30, true));
    p.drawText(QRectF(74, 4, 200, 36), Qt::AlignLeft | Qt::AlignVCenter, "VEK");
    p.setPen(Green);
    p.setFont(font(11, true));
    p.drawText(QRectF(76, 38, 300, 16), Qt::AlignLeft | Qt::AlignVCenter, "Envio Eletrônico de Arquivos");
    return image;
}

QImage line()
{
    QImage image = canvas(522, 2);
    QPainter p(&image);
    QLinearGradient g(0, 0, 522, 0);
    g.setColorAt(0, Teal);
    g.setColorAt(1, Green);
    p.fillRect(image.rect(), g);
    return image;
}

QImage watermark()
{
    QImage image = canvas(170, 451, Mint);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Arcs spreading from the lower left corner.
    for (int i = 0; i < 7; ++i) {
        QColor c(0xB0, 0xD0, 0xB0);
        c.setAlpha(150 - i * 15);
        p.setPen(QPen(c, 10 - i));
        const qreal r = 60 + i * 42;
        p.drawEllipse(QPointF(-10, 461), r, r);
    }
    // A large faint mark near the top.
    p.setOpacity(0.16);
    drawMark(p, 25, 60, 120);
    return image;
}

QImage statusIcon(const QString& kind)
{
    QImage image = canvas(14, 14);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == "vazio") {
        p.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 11, 11));
        return image;
    }
    QColor c = kind == "feito"  ? QColor(0x3C, 0x9A, 0x3C)
               : kind == "erro" ? QColor(0xD2, 0x3C, 0x3C)
                                : QColor(0xE8, 0x9A, 0x2E);
    QRadialGradient g(QPointF(5, 4.5), 9);
    g.setColorAt(0, c.lighter(135));
    g.setColorAt(1, c);
    p.setPen(QPen(c.darker(125), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(0.5, 0.5, 13, 13));
    QPen white(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    if (kind == "feito") {
        p.drawPolyline(QPolygonF({QPointF(3.8, 7.2), QPointF(6, 9.5), QPointF(10.2, 4.6)}));
    } else if (kind == "erro") {
        p.drawLine(QPointF(4.5, 4.5), QPointF(9.5, 9.5));
        p.drawLine(QPointF(9.5, 4.5), QPointF(4.5, 9.5));
    } else {
        // Clock hands.
        p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 7), QPointF(7, 3.6));
        p.drawLine(QPointF(7, 7), QPointF(9.8, 8.4));
    }
    return image;
}

QImage receiptLogo()
{
    // 69.3 x 16.9 mm at 300 dpi.
    QImage image = canvas(818, 200, Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawMark(p, 10, 10, 180);
    p.setPen(Teal);
    p.setFont(font(112, true));
    p.drawText(QRectF(215, 0, 400, 130), Qt::AlignLeft | Qt::AlignVCenter, "VEK");
    p.setPen(Green);
    p.setFont(font(40, true));
    p.drawText(QRectF(220, 125, 600, 60), Qt::AlignLeft | Qt::AlignVCenter, "Envio Eletrônico · ZEB");
    p.fillRect(QRectF(520, 40, 6, 70), Green);
    p.setPen(Teal);
    p.setFont(font(30));
    p.drawText(QRectF(545, 30, 270, 90), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, "Recibo de\ntransmissão");
    return image;
}

QImage appIcon()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, 2, 2, 60);
    return image;
}

bool save(const QImage& image, const QString& dir, const QString& name)
{
    const QString path = dir + "/" + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    // The window's pictures go to the first directory (ui/resources), the
    // receipt's logo to the second (report/resources; by default the first).
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const QString receiptDir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir;
    bool ok = save(titleBand(), dir, "titulo.png") && save(line(), dir, "linha.png") &&
              save(watermark(), dir, "marca-dagua.png") && save(receiptLogo(), receiptDir, "logo-recibo.png") &&
              save(appIcon(), dir, "icone.png");
    for (const char* kind : {"vazio", "processando", "feito", "erro"}) {
        ok = ok && save(statusIcon(kind), dir, QString("status-%1.png").arg(kind));
    }
    return ok ? 0 : 1;
}
