// Draws the window icon and the button images. Every image is drawn as vectors at its final
// size, so the small ones stay crisp instead of being shrunk from a large bitmap.
//
// Usage: trasko-artwork <images folder> <icons folder>
// The images folder gets the window's images and icon file; the icons folder gets the
// application icon as one PNG per size, for the desktop's icon theme.

#include <QColor>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTextStream>

#include <functional>
#include <vector>

namespace {

using Glyph = std::function<void(QPainter &)>;

// The button images share one look: a round badge in the image's colour with a white glyph,
// drawn in a 64-unit square.
QImage badge(int size, const QColor &colour, const Glyph &glyph)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    QRadialGradient fill(QPointF(26, 20), 44);
    fill.setColorAt(0.0, colour.lighter(135));
    fill.setColorAt(1.0, colour.darker(115));
    painter.setPen(QPen(colour.darker(150), 2.0));
    painter.setBrush(fill);
    painter.drawEllipse(QPointF(32, 32), 29, 29);

    // A soft highlight on the upper half keeps the badges in the window's glassy style.
    QLinearGradient shine(0, 5, 0, 34);
    shine.setColorAt(0.0, QColor(255, 255, 255, 110));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shine);
    painter.drawEllipse(QRectF(10, 5, 44, 28));

    glyph(painter);
    return image;
}

QPen glyphPen(double width)
{
    return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawPolyline(QPainter &painter, double width, const QPolygonF &points)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(glyphPen(width));
    painter.drawPolyline(points);
}

void playGlyph(QPainter &painter)
{
    painter.setPen(glyphPen(3));
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({{25, 18}, {25, 46}, {47, 32}}));
}

void pauseGlyph(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(21, 18, 8, 28), 2, 2);
    painter.drawRoundedRect(QRectF(35, 18, 8, 28), 2, 2);
}

void crossGlyph(QPainter &painter)
{
    drawPolyline(painter, 7, QPolygonF({{22, 22}, {42, 42}}));
    drawPolyline(painter, 7, QPolygonF({{42, 22}, {22, 42}}));
}

void plusGlyph(QPainter &painter)
{
    drawPolyline(painter, 7, QPolygonF({{32, 18}, {32, 46}}));
    drawPolyline(painter, 7, QPolygonF({{18, 32}, {46, 32}}));
}

void minusGlyph(QPainter &painter)
{
    drawPolyline(painter, 7, QPolygonF({{18, 32}, {46, 32}}));
}

void checkGlyph(QPainter &painter)
{
    drawPolyline(painter, 7, QPolygonF({{19, 33}, {28, 42}, {45, 23}}));
}

void chevronDownGlyph(QPainter &painter)
{
    drawPolyline(painter, 8, QPolygonF({{19, 26}, {32, 39}, {45, 26}}));
}

void chevronUpGlyph(QPainter &painter)
{
    drawPolyline(painter, 8, QPolygonF({{19, 38}, {32, 25}, {45, 38}}));
}

// The application icon: two sheets, the front one carrying an arrow, in the window's blue.
QImage applicationIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    const QColor rim(70, 110, 170);
    QLinearGradient back(0, 4, 0, 44);
    back.setColorAt(0.0, QColor(228, 238, 249));
    back.setColorAt(1.0, QColor(141, 178, 227));
    painter.setPen(QPen(rim, 2.5));
    painter.setBrush(back);
    painter.drawRoundedRect(QRectF(4, 4, 38, 40), 6, 6);

    QLinearGradient front(0, 20, 0, 60);
    front.setColorAt(0.0, QColor(96, 152, 224));
    front.setColorAt(1.0, QColor(40, 96, 180));
    painter.setBrush(front);
    painter.drawRoundedRect(QRectF(20, 20, 40, 40), 6, 6);

    QPainterPath arrow;
    arrow.moveTo(29, 36);
    arrow.lineTo(40, 36);
    arrow.lineTo(40, 29);
    arrow.lineTo(52, 40);
    arrow.lineTo(40, 51);
    arrow.lineTo(40, 44);
    arrow.lineTo(29, 44);
    arrow.closeSubpath();
    painter.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    return image;
}

// One 32-bit image of an icon file: a bitmap header, the pixels bottom-up as BGRA, and the
// one-bit transparency mask that older readers still expect.
QByteArray iconBitmap(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const int maskStride = ((size + 31) / 32) * 4;

    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(32)
        << quint32(0) << quint32(size * size * 4 + maskStride * size) << qint32(0) << qint32(0)
        << quint32(0) << quint32(0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            out << quint8(qBlue(pixel)) << quint8(qGreen(pixel)) << quint8(qRed(pixel))
                << quint8(qAlpha(pixel));
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < size; ++x) {
            if (qAlpha(image.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.writeRawData(row.constData(), row.size());
    }
    return data;
}

bool writeIcon(const QString &path, const std::vector<int> &sizes)
{
    std::vector<QByteArray> images;
    for (const int size : sizes)
        images.push_back(iconBitmap(applicationIcon(size)));

    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(sizes.size());
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        // A dimension of 256 does not fit the byte; the format writes it as 0.
        const quint8 dimension = sizes[i] >= 256 ? 0 : quint8(sizes[i]);
        out << dimension << dimension << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(images[i].size()) << offset;
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : images)
        out.writeRawData(image.constData(), image.size());

    QFile target(path);
    return target.open(QIODevice::WriteOnly) && target.write(file) == file.size() && target.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: trasko-artwork <images folder> <icons folder>\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QDir iconFolder(QString::fromLocal8Bit(argv[2]));

    struct Button
    {
        const char *name;
        int size;
        QColor colour;
        Glyph glyph;
    };
    const QColor green(52, 160, 82);
    const QColor blue(59, 127, 217);
    const std::vector<Button> buttons = {
        {"start.png", 59, green, playGlyph},
        {"pause.png", 59, QColor(232, 152, 32), pauseGlyph},
        {"remove.png", 59, QColor(214, 64, 56), crossGlyph},
        {"add.png", 59, blue, plusGlyph},
        {"minus.png", 59, blue, minusGlyph},
        {"ok.png", 59, green, checkGlyph},
        {"more.png", 19, blue, chevronDownGlyph},
        {"less.png", 19, blue, chevronUpGlyph},
    };

    bool ok = true;
    for (const Button &button : buttons) {
        const QString path = folder.filePath(QString::fromLatin1(button.name));
        if (!badge(button.size, button.colour, button.glyph).save(path, "PNG")) {
            err << "cannot write " << path << '\n';
            ok = false;
        }
    }
    const std::vector<int> iconSizes = {256, 128, 64, 48, 32, 24, 16};
    const QString iconPath = folder.filePath(QStringLiteral("icon.ico"));
    if (!writeIcon(iconPath, iconSizes)) {
        err << "cannot write " << iconPath << '\n';
        ok = false;
    }
    for (const int size : iconSizes) {
        const QString path = iconFolder.filePath(QStringLiteral("%1.png").arg(size));
        if (!applicationIcon(size).save(path, "PNG")) {
            err << "cannot write " << path << '\n';
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
