// Renders the panel's skin pictures into PNG files. The build compiles this tool but never runs
// it: the PNG files it writes are committed. vedereve-snapshot shows them on the real panel.
//
//   vedereve_skingen <folder> [--sample]      the built-in skin, or the alternative sample skin
//
// The settings button's word is drawn with a small pixel font kept here rather than a system
// font: at 7 pixels an outline font either blurs (antialiased) or loses strokes (hinted). The tab
// header uses the panel's label face so that it matches the name label beside it.

#include "skin/SkinPictures.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>

namespace {

struct Theme
{
    QColor strip; // the top strip
    QColor stripHighlight; // its first row
    QColor stripShadow; // its last row
    QColor stripControl; // the face of the arrow button on the strip
    QColor stripGlyph; // glyphs on the strip
    QColor well; // the recess behind the status text
    QColor body; // the light panel body
    QColor outline; // the panel's outer edge
    QColor divider; // hairlines on the body
    QColor text; // text on the body
    QColor textMuted; // inactive text
    QColor accent;
    QColor accentDark; // edges of accent-filled parts
    QColor accentLight; // top highlight of accent-filled parts
    QColor control; // face of a neutral button
    QColor controlEdge;
    QColor disabledFace;
    QColor disabledGlyph;
};

const Theme builtInTheme {
    QColor(0x2b, 0x34, 0x40), QColor(0x3b, 0x46, 0x54), QColor(0x1d, 0x23, 0x2b),
    QColor(0x37, 0x42, 0x50), QColor(0xd5, 0xdc, 0xe4), QColor(0xd2, 0xd9, 0xe0),
    QColor(0xf3, 0xf5, 0xf7), QColor(0x8e, 0x99, 0xa6), QColor(0xcf, 0xd6, 0xde),
    QColor(0x26, 0x2e, 0x38), QColor(0x84, 0x8f, 0x9b), QColor(0x2a, 0x86, 0xd6),
    QColor(0x1d, 0x69, 0xae), QColor(0x5a, 0xa6, 0xe8), QColor(0xff, 0xff, 0xff),
    QColor(0xb4, 0xbd, 0xc7), QColor(0xe4, 0xe8, 0xec), QColor(0xa9, 0xb2, 0xbc),
};

// The sample library's skin: a warm strip and an orange accent, so a reader (or a test) can see
// at once which pictures came from the library.
const Theme sampleTheme {
    QColor(0x3d, 0x2c, 0x3f), QColor(0x4e, 0x3b, 0x50), QColor(0x26, 0x1b, 0x27),
    QColor(0x4a, 0x38, 0x4c), QColor(0xe8, 0xd9, 0xe6), QColor(0xe3, 0xd8, 0xdd),
    QColor(0xf7, 0xf4, 0xf2), QColor(0x9e, 0x8f, 0x98), QColor(0xdd, 0xd2, 0xd0),
    QColor(0x33, 0x27, 0x30), QColor(0x94, 0x86, 0x8c), QColor(0xe0, 0x6c, 0x2a),
    QColor(0xb3, 0x4f, 0x17), QColor(0xf0, 0x96, 0x62), QColor(0xff, 0xff, 0xff),
    QColor(0xc6, 0xb8, 0xbe), QColor(0xeb, 0xe5, 0xe4), QColor(0xb6, 0xab, 0xb0),
};

// ---------------------------------------------------------------------------------------------
// Pixel font: ascender rows 0..6 (row 6 is the baseline row), descender rows 7..8.

struct Glyph
{
    char letter;
    std::array<std::string_view, 9> rows;
};

// clang-format off
constexpr std::array<Glyph, 7> glyphs{{
    {'S', {".###", "#...", "#...", ".##.", "...#", "...#", "###.", "", ""}},
    {'e', {"....", "....", ".##.", "#..#", "####", "#...", ".###", "", ""}},
    {'g', {"....", "....", ".###", "#..#", "#..#", "#..#", ".###", "...#", "###."}},
    {'i', {"#", ".", "#", "#", "#", "#", "#", "", ""}},
    {'n', {"....", "....", "###.", "#..#", "#..#", "#..#", "#..#", "", ""}},
    {'s', {"....", "....", ".###", "#...", ".##.", "...#", "###.", "", ""}},
    {'t', {".#.", ".#.", "###", ".#.", ".#.", ".#.", "..#", "", ""}},
}};
// clang-format on

const Glyph *findGlyph(char letter)
{
    for (const Glyph &glyph : glyphs) {
        if (glyph.letter == letter)
            return &glyph;
    }
    return nullptr;
}

int textWidth(std::string_view text)
{
    int width = 0;
    for (char letter : text) {
        if (const Glyph *glyph = findGlyph(letter))
            width += int(glyph->rows[0].size()) + 1;
    }
    return width > 0 ? width - 1 : 0;
}

// Draws text with the top of its ascenders at (x, top).
void drawText(QImage &image, int x, int top, std::string_view text, const QColor &color)
{
    for (char letter : text) {
        const Glyph *glyph = findGlyph(letter);
        if (!glyph) {
            std::fprintf(stderr, "skingen: no glyph for '%c'\n", letter);
            continue;
        }
        for (int row = 0; row < int(glyph->rows.size()); ++row) {
            const std::string_view bits = glyph->rows[row];
            for (int column = 0; column < int(bits.size()); ++column) {
                if (bits[column] == '#')
                    image.setPixelColor(x + column, top + row, color);
            }
        }
        x += int(glyph->rows[0].size()) + 1;
    }
}

// ---------------------------------------------------------------------------------------------
// Crisp shapes

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QImage canvas(int width, int height, const QColor &background)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

void hline(QImage &image, int x0, int x1, int y, const QColor &color)
{
    for (int x = x0; x <= x1; ++x)
        image.setPixelColor(x, y, color);
}

void vline(QImage &image, int x, int y0, int y1, const QColor &color)
{
    for (int y = y0; y <= y1; ++y)
        image.setPixelColor(x, y, color);
}

// A box with a 1-pixel edge and softly cut corners; the corner pixels blend edge and backdrop so
// the box reads as rounded at 1:1 without blurring its sides.
void roundedBox(QImage &image, const QRect &box, const QColor &fill, const QColor &edge)
{
    const QColor backdrop = image.pixelColor(box.topLeft());
    const QColor corner = mix(backdrop, edge, 0.45);
    for (int y = box.top() + 1; y < box.bottom(); ++y)
        hline(image, box.left() + 1, box.right() - 1, y, fill);
    hline(image, box.left() + 1, box.right() - 1, box.top(), edge);
    hline(image, box.left() + 1, box.right() - 1, box.bottom(), edge);
    vline(image, box.left(), box.top() + 1, box.bottom() - 1, edge);
    vline(image, box.right(), box.top() + 1, box.bottom() - 1, edge);
    for (const QPoint &point : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
        image.setPixelColor(point, corner);
}

// Pixels given as rows of '#', placed with their top-left at (x, y).
void pattern(QImage &image, int x, int y, std::initializer_list<std::string_view> rows,
             const QColor &color)
{
    int row = 0;
    for (std::string_view bits : rows) {
        for (int column = 0; column < int(bits.size()); ++column) {
            if (bits[column] == '#')
                image.setPixelColor(x + column, y + row, color);
        }
        ++row;
    }
}

// ---------------------------------------------------------------------------------------------
// The pictures

QImage strip(const Theme &theme)
{
    QImage image = canvas(202, 17, theme.strip);
    hline(image, 0, 201, 0, theme.stripHighlight);
    hline(image, 0, 201, 16, theme.stripShadow);
    // A recess behind the status label (104,4 78x11), so its grey text stays readable on the
    // dark strip.
    roundedBox(image, QRect(102, 3, 82, 13), theme.well, theme.stripShadow);
    hline(image, 103, 182, 4, mix(theme.well, theme.stripShadow, 0.25));
    return image;
}

QImage mainUp(const Theme &theme)
{
    QImage image = canvas(202, 215, theme.body);
    const QImage top = strip(theme);
    QPainter painter(&image);
    painter.drawImage(0, 0, top);
    painter.end();
    vline(image, 0, 17, 214, theme.outline);
    vline(image, 201, 17, 214, theme.outline);
    hline(image, 0, 201, 214, theme.outline);
    return image;
}

// The tab page; webcamActive chooses which header carries the accent.
QImage tabPage(const Theme &theme, bool webcamActive)
{
    QImage image = canvas(200, 191, theme.body);
    // Header row: flat tabs over a hairline, the active one underlined in the accent colour.
    hline(image, 0, 199, 18, theme.divider);
    const QRect left(2, 1, 79, 18); // x 2..80, around the "Webcam" header (4..78)
    const QRect right(84, 1, 98, 18); // x 84..181, around the name label (86..179)
    const QRect active = webcamActive ? left : right;
    hline(image, active.left(), active.right(), 17, theme.accent);
    hline(image, active.left(), active.right(), 18, theme.accentDark);
    vline(image, 82, 6, 13, theme.divider);

    // The header text matches the participant-name label that lies on the other header (11-pixel
    // Arial), so the two tabs read as a pair.
    {
        QPainter painter(&image);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(11);
        font.setHintingPreference(QFont::PreferFullHinting);
        painter.setFont(font);
        painter.setPen(webcamActive ? theme.text : theme.textMuted);
        painter.drawText(QRect(4, 3, 75, 13), Qt::AlignCenter, QStringLiteral("Webcam"));
    }

    // Frame around the picture area (13,22 174x144).
    QPainter painter(&image);
    painter.setPen(theme.divider);
    painter.drawRect(12, 21, 175, 145);
    painter.end();
    // Inside of the picture area: the picture boxes paint white over it.
    for (int y = 22; y < 22 + 144; ++y)
        hline(image, 13, 13 + 173, y, Qt::white);
    return image;
}

// A play or pause button's face, 18 high: raised with a highlight when enabled, greyed when not;
// a pressed-in one has a shadow along the top instead of the highlight.
QImage buttonFace(const Theme &theme, int width, bool enabled, bool pressedIn)
{
    QImage image = canvas(width, 18, theme.body);
    const QRect face(0, 0, width, 18);
    if (enabled) {
        roundedBox(image, face, theme.accent, theme.accentDark);
        hline(image, 1, width - 2, 1, theme.accentLight);
        return image;
    }
    roundedBox(image, face, theme.disabledFace, theme.controlEdge);
    if (pressedIn)
        hline(image, 1, width - 2, 1, mix(theme.disabledFace, theme.controlEdge, 0.5));
    return image;
}

QImage playButton(const Theme &theme, bool enabled)
{
    QImage image = buttonFace(theme, 20, enabled, true);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(enabled ? QColor(Qt::white) : theme.disabledGlyph);
    QPainterPath triangle;
    triangle.moveTo(8, 4.5);
    triangle.lineTo(14.2, 9);
    triangle.lineTo(8, 13.5);
    triangle.closeSubpath();
    painter.drawPath(triangle);
    return image;
}

QImage pauseButton(const Theme &theme, bool enabled)
{
    QImage image = buttonFace(theme, 19, enabled, false);
    const QColor glyph = enabled ? QColor(Qt::white) : theme.disabledGlyph;
    for (int y = 5; y <= 12; ++y) {
        hline(image, 6, 7, y, glyph);
        hline(image, 11, 12, y, glyph);
    }
    return image;
}

QImage checkBox(const Theme &theme, bool ticked)
{
    // It lies over the participant picture, so its edge must hold on white and on a photo alike.
    QImage image = canvas(13, 13, Qt::white);
    if (!ticked) {
        roundedBox(image, QRect(0, 0, 13, 13), Qt::white, theme.disabledGlyph);
        return image;
    }
    roundedBox(image, QRect(0, 0, 13, 13), theme.accent, theme.accentDark);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::white, 1.7);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    const QPointF tick[] = {{3.3, 6.6}, {5.4, 8.7}, {9.7, 4.2}};
    painter.drawPolyline(tick, 3);
    return image;
}

QImage arrow(const Theme &theme, bool up)
{
    QImage image = canvas(12, 12, theme.strip);
    roundedBox(image, QRect(0, 0, 12, 12), theme.stripControl, theme.stripShadow);
    if (up)
        pattern(image, 3, 4, {"..##..", ".####.", "##..##", "#....#"}, theme.stripGlyph);
    else
        pattern(image, 3, 4, {"#....#", "##..##", ".####.", "..##.."}, theme.stripGlyph);
    return image;
}

QImage brand(const Theme &theme)
{
    // An eye whose iris is a lens: two lids, a round iris in the accent colour, a glint.
    QImage image = canvas(14, 12, theme.strip);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath eye;
    eye.moveTo(0.6, 6);
    eye.cubicTo(3.5, 1.2, 10.5, 1.2, 13.4, 6);
    eye.cubicTo(10.5, 10.8, 3.5, 10.8, 0.6, 6);
    painter.setPen(QPen(theme.stripGlyph, 1.1));
    painter.setBrush(theme.stripShadow);
    painter.drawPath(eye);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme.accentLight);
    painter.drawEllipse(QPointF(7, 6), 3.0, 3.0);
    painter.setBrush(theme.stripShadow);
    painter.drawEllipse(QPointF(7, 6), 1.3, 1.3);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(8.3, 4.8), 0.75, 0.75);
    return image;
}

QImage gearGlyph(const QColor &color, const QColor &hole)
{
    QImage image(11, 11, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const QPointF centre(5.5, 5.5);
    painter.drawEllipse(centre, 3.7, 3.7);
    for (int tooth = 0; tooth < 8; ++tooth) {
        painter.save();
        painter.translate(centre);
        painter.rotate(tooth * 45.0);
        painter.drawRect(QRectF(-1.1, -5.5, 2.2, 2.6));
        painter.restore();
    }
    painter.setBrush(hole);
    painter.drawEllipse(centre, 1.6, 1.6);
    return image;
}

QImage settingsButton(const Theme &theme)
{
    QImage image = canvas(66, 18, theme.body);
    roundedBox(image, QRect(0, 0, 66, 18), theme.control, theme.controlEdge);
    hline(image, 1, 64, 16, mix(theme.control, theme.controlEdge, 0.35));
    const int gap = 4;
    const int width = 11 + gap + textWidth("Settings");
    const int x = (66 - width) / 2;
    QPainter painter(&image);
    painter.drawImage(x, 3, gearGlyph(theme.accent, theme.control));
    painter.end();
    drawText(image, x + 11 + gap, 5, "Settings", theme.text);
    return image;
}

QImage placeholder(const Theme &theme)
{
    // A neutral head-and-shoulders on a soft vertical wash; centred on the 174-pixel-wide
    // participant area it is shown in.
    QImage image(176, 144, QImage::Format_RGB32);
    const QColor top = mix(theme.body, theme.divider, 0.35);
    const QColor bottom = mix(theme.body, theme.divider, 1.0);
    for (int y = 0; y < 144; ++y)
        hline(image, 0, 175, y, mix(top, bottom, y / 143.0));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor figure = mix(theme.divider, theme.textMuted, 0.45);
    painter.setBrush(figure);
    painter.drawEllipse(QPointF(87, 58), 21, 23);
    painter.drawEllipse(QPointF(87, 146), 52, 50);
    return image;
}

std::map<std::string_view, QImage> renderSkin(const Theme &theme)
{
    std::map<std::string_view, QImage> pictures;
    pictures["img0"] = checkBox(theme, true);
    pictures["img1"] = checkBox(theme, false);
    pictures["imgChk"] = pictures["img0"];
    pictures["ImgCamOn0"] = playButton(theme, true);
    pictures["ImgCamOn1"] = playButton(theme, false);
    pictures["imgCamOnMain"] = pictures["ImgCamOn0"];
    pictures["imgCamStop0"] = pauseButton(theme, false);
    pictures["imgCamStop1"] = pauseButton(theme, true);
    pictures["imgCamOffMain"] = pictures["imgCamStop0"];
    pictures["imgUpArrow"] = arrow(theme, true);
    pictures["imgDArrow"] = arrow(theme, false);
    pictures["imgMinMax"] = pictures["imgDArrow"];
    pictures["picMainDown"] = strip(theme);
    pictures["picMainUp"] = mainUp(theme);
    pictures["picSettingsMain"] = settingsButton(theme);
    pictures["picStopCam"] = placeholder(theme);
    pictures["picTabParticipant"] = tabPage(theme, false);
    pictures["PicTabWebcam"] = tabPage(theme, true);
    pictures["imgBrand"] = brand(theme);
    return pictures;
}

QString fileName(const QString &folder, std::string_view name)
{
    return QDir(folder).filePath(QString::fromLatin1(name.data(), qsizetype(name.size()))
                                 + QStringLiteral(".png"));
}

int writeSkin(const QString &folder, const Theme &theme)
{
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "skingen: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    const auto pictures = renderSkin(theme);
    for (const skin::SkinPicture &entry : skin::skinPictures) {
        const auto found = pictures.find(entry.name);
        if (found == pictures.end() || found->second.width() != entry.width
            || found->second.height() != entry.height) {
            std::fprintf(stderr, "skingen: %.*s missing or of the wrong size\n",
                         int(entry.name.size()), entry.name.data());
            return 1;
        }
        if (!found->second.save(fileName(folder, entry.name), "PNG")) {
            std::fprintf(stderr, "skingen: cannot write %.*s\n", int(entry.name.size()),
                         entry.name.data());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    if (args.size() == 1)
        return writeSkin(args[0], builtInTheme);
    if (args.size() == 2 && args[1] == QStringLiteral("--sample"))
        return writeSkin(args[0], sampleTheme);

    std::fprintf(stderr, "usage: vedereve_skingen <folder> [--sample]\n");
    return 2;
}
