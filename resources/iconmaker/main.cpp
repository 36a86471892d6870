// Draws the application icon and writes it as a Windows .ico file.
//
// Usage: taptempest_iconmaker <output.ico>
//
// The icon holds nine 32-bit bitmaps (16 to 128 px) and one 256 px PNG, the layout that
// the Windows shell and Qt's ico reader both understand. The file bytes are written here rather
// than through an image plugin, because Qt's ico writer cannot store PNG entries.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QVector>

#include <cstdio>

namespace {

const int kSizes[] = {16, 24, 32, 48, 64, 72, 80, 96, 128, 256};
const int kPngFrom = 256; // this size and larger are stored as PNG

// All drawing is in a 256 x 256 design space, scaled to the target size.
constexpr qreal kDesign = 256.0;

// Line width in design units that never falls below one device pixel.
qreal strokeWidth(qreal designWidth, qreal scale)
{
    return qMax(designWidth, 1.0 / scale);
}

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // Fixed 96 dpi, so the PNG bytes do not depend on the machine that ran the build.
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal scale = size / kDesign;
    p.scale(scale, scale);

    // The button: an orange rounded square, lit from above.
    const QRectF face(14, 14, 228, 228);
    const qreal radius = 52;
    QLinearGradient faceFill(face.topLeft(), face.bottomLeft());
    faceFill.setColorAt(0.0, QColor(0xff, 0xb3, 0x47));
    faceFill.setColorAt(0.55, QColor(0xff, 0x8f, 0x00));
    faceFill.setColorAt(1.0, QColor(0xe6, 0x6a, 0x00));
    p.setPen(QPen(QColor(0xb3, 0x4d, 0x00), strokeWidth(6, scale)));
    p.setBrush(faceFill);
    p.drawRoundedRect(face, radius, radius);

    // Gloss on the upper half; too fine to read below 32 px.
    if (size >= 32) {
        QRadialGradient gloss(QPointF(128, 40), 150, QPointF(128, 20));
        gloss.setColorAt(0.0, QColor(255, 255, 255, 110));
        gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(gloss);
        p.drawRoundedRect(QRectF(30, 26, 196, 96), 40, 40);
    }

    // The pointer, tip up-left, pressing the button.
    const QPointF tip(104, 80);
    const qreal k = 1.15;
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(0, 100) * k);
    arrow.lineTo(tip + QPointF(25, 77) * k);
    arrow.lineTo(tip + QPointF(43, 116) * k);
    arrow.lineTo(tip + QPointF(61, 108) * k);
    arrow.lineTo(tip + QPointF(44, 71) * k);
    arrow.lineTo(tip + QPointF(78, 71) * k);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x4a, 0x23, 0x00), strokeWidth(9, scale), Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(arrow);

    // Spark rays around the tip: the moment of the click.
    if (size >= 32) {
        QPen ray(Qt::white, 12, Qt::SolidLine, Qt::RoundCap);
        p.setPen(ray);
        p.drawLine(tip + QPointF(0, -22), tip + QPointF(0, -50));
        p.drawLine(tip + QPointF(-22, 0), tip + QPointF(-50, 0));
        p.drawLine(tip + QPointF(-17, -17), tip + QPointF(-37, -37));
        p.drawLine(tip + QPointF(17, -17), tip + QPointF(33, -33));
        p.drawLine(tip + QPointF(-17, 17), tip + QPointF(-33, 33));
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

void putU16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}

void putU32(QByteArray &out, quint32 v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xff));
}

// A 32-bit DIB as ico files store it: BITMAPINFOHEADER with doubled height, BGRA rows
// bottom-up, then the 1-bit AND mask (set = transparent), rows padded to 32 bits.
QByteArray bitmapEntry(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    const quint32 pixelBytes = quint32(w * h * 4);
    const quint32 maskBytes = quint32(maskStride * h);

    QByteArray out;
    putU32(out, 40); // biSize
    putU32(out, quint32(w));
    putU32(out, quint32(2 * h)); // colour rows plus mask rows
    putU16(out, 1);              // biPlanes
    putU16(out, 32);             // biBitCount
    putU32(out, 0);              // BI_RGB
    putU32(out, pixelBytes + maskBytes);
    putU32(out, 0); // biXPelsPerMeter
    putU32(out, 0); // biYPelsPerMeter
    putU32(out, 0); // biClrUsed
    putU32(out, 0); // biClrImportant

    for (int y = h - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            out.append(char(qAlpha(line[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

QByteArray pngEntry(const QImage &image)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return out;
}

QByteArray buildIco()
{
    const int count = int(sizeof(kSizes) / sizeof(kSizes[0]));
    QVector<QByteArray> entries;
    for (int size : kSizes) {
        const QImage image = drawIcon(size);
        entries.append(size >= kPngFrom ? pngEntry(image) : bitmapEntry(image));
        if (entries.last().isEmpty())
            return {};
    }

    QByteArray out;
    putU16(out, 0); // reserved
    putU16(out, 1); // type: icon
    putU16(out, quint16(count));
    quint32 offset = quint32(6 + 16 * count);
    for (int i = 0; i < count; ++i) {
        const int size = kSizes[i];
        out.append(char(size >= 256 ? 0 : size)); // 0 stands for 256
        out.append(char(size >= 256 ? 0 : size));
        out.append(char(0)); // no colour table
        out.append(char(0)); // reserved
        putU16(out, 1);      // planes
        putU16(out, 32);     // bits per pixel
        putU32(out, quint32(entries[i].size()));
        putU32(out, offset);
        offset += quint32(entries[i].size());
    }
    for (const QByteArray &entry : entries)
        out.append(entry);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    // No application object: raster painting without text needs no platform plugin, so the
    // build works without a display and without the offscreen plugin.
    // "<output.ico>" writes the window icon; "--png <size> <output.png>" one picture for the
    // desktop's icon theme; "--hicolor <folder>" every size of the icon as the theme lays them
    // out (<folder>/<N>x<N>/apps/taptempest.png).
    if (argc == 3 && QByteArray(argv[1]) == "--hicolor") {
        const QString folder = QString::fromLocal8Bit(argv[2]);
        for (int size : kSizes) {
            const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
            const QByteArray png = pngEntry(drawIcon(size));
            QSaveFile file(dir + QStringLiteral("/taptempest.png"));
            if (png.isEmpty() || !QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) ||
                file.write(png) != png.size() || !file.commit()) {
                std::fprintf(stderr, "could not write the %d px icon under %s\n", size, argv[2]);
                return 1;
            }
        }
        return 0;
    }
    if (argc == 4 && QByteArray(argv[1]) == "--png") {
        const int size = QByteArray(argv[2]).toInt();
        const QByteArray png = size > 0 ? pngEntry(drawIcon(size)) : QByteArray();
        QSaveFile file(QString::fromLocal8Bit(argv[3]));
        if (png.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(png) != png.size() ||
            !file.commit()) {
            std::fprintf(stderr, "could not write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: %s <output.ico> | --png <size> <output.png> | --hicolor <folder>\n",
                     argv[0]);
        return 2;
    }
    const QByteArray ico = buildIco();
    if (ico.isEmpty()) {
        std::fprintf(stderr, "could not encode the icon images\n");
        return 1;
    }
    QSaveFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size() || !file.commit()) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
