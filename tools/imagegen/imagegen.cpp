// Draws Tarvik's images: the toolbar sets, the add dialog's button images, the info picture
// and the application icon. Everything is drawn from vector shapes in one flat style, so the
// sets stay consistent and can be re-made at any size.
//
// Usage: tarvik-imagegen RESOURCES_DIR
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

// The palette.
const QColor kBoxBody(0xF2, 0xB1, 0x4C);
const QColor kBoxLid(0xD9, 0x8A, 0x22);
const QColor kBoxEdge(0x9C, 0x5B, 0x0E);
const QColor kZip(0x5B, 0x45, 0x30);
const QColor kFolderBack(0x2F, 0x73, 0xC0);
const QColor kFolderFront(0x4A, 0x94, 0xE0);
const QColor kPaper(0xFF, 0xFF, 0xFF);
const QColor kPaperEdge(0x7D, 0x8A, 0x99);
const QColor kPaperLine(0xB8, 0xC3, 0xCF);
const QColor kGreen(0x2E, 0xA0, 0x57);
const QColor kRed(0xD8, 0x3C, 0x32);
const QColor kBlue(0x2F, 0x7F, 0xD6);
const QColor kViolet(0x7A, 0x5A, 0xC8);
const QColor kOrange(0xF0, 0x7C, 0x1E);
const QColor kSlate(0x4E, 0x5D, 0x6C);
const QColor kSteel(0x8C, 0x99, 0xA6);
const QColor kGold(0xE8, 0xB5, 0x2E);
const QColor kBrand(255, 114, 19);  // the info window's background

void Fill(QPainter& p, const QPainterPath& path, const QColor& fill, const QColor& edge,
          qreal width) {
    p.setPen(edge.isValid() ? QPen(edge, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)
                            : QPen(Qt::NoPen));
    p.setBrush(fill);
    p.drawPath(path);
}

QPainterPath Rounded(const QRectF& r, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A cardboard archive box with a zipper down the middle.
void DrawArchive(QPainter& p, const QRectF& r) {
    const qreal e = r.width() / 28.0;
    const QRectF body(r.left(), r.top() + r.height() * 0.22, r.width(), r.height() * 0.78);
    Fill(p, Rounded(body, 2 * e), kBoxBody, kBoxEdge, e);
    const QRectF lid(r.left() - e, r.top(), r.width() + 2 * e, r.height() * 0.30);
    Fill(p, Rounded(lid, 2 * e), kBoxLid, kBoxEdge, e);
    // Zipper: a dark band with teeth, ending in a pull tab.
    const qreal cx = r.center().x();
    const qreal zw = r.width() * 0.16;
    const qreal top = lid.bottom();
    const qreal bottom = body.bottom() - body.height() * 0.30;
    p.setPen(Qt::NoPen);
    p.setBrush(kZip);
    const int teeth = 4;
    const qreal step = (bottom - top) / teeth;
    for (int i = 0; i < teeth; ++i) {
        const qreal y = top + i * step + step * 0.2;
        p.drawRect(QRectF(cx - zw / 2, y, zw / 2, step * 0.45));
        p.drawRect(QRectF(cx, y + step * 0.45, zw / 2, step * 0.45));
    }
    const QRectF tab(cx - zw * 0.7, bottom, zw * 1.4, body.height() * 0.22);
    Fill(p, Rounded(tab, e), kZip, QColor(), 0);
    p.setBrush(kBoxBody);
    p.drawEllipse(QPointF(cx, tab.center().y()), zw * 0.3, zw * 0.3);
    // The zipper also runs over the lid.
    p.setBrush(kZip);
    p.drawRect(QRectF(cx - zw / 2, lid.top() + e, zw, lid.height() - 2 * e));
}

// A closed folder.
void DrawFolder(QPainter& p, const QRectF& r) {
    const qreal e = r.width() / 30.0;
    QPainterPath back;
    back.moveTo(r.left(), r.top() + r.height() * 0.12);
    back.lineTo(r.left() + r.width() * 0.36, r.top() + r.height() * 0.12);
    back.lineTo(r.left() + r.width() * 0.44, r.top() + r.height() * 0.24);
    back.lineTo(r.right(), r.top() + r.height() * 0.24);
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    Fill(p, back, kFolderBack, kFolderBack.darker(130), e);
    QPainterPath front;
    front.addRoundedRect(
        QRectF(r.left(), r.top() + r.height() * 0.34, r.width(), r.height() * 0.66), e, e);
    Fill(p, front, kFolderFront, kFolderBack.darker(130), e);
}

// A page with a folded corner and a few text lines.
void DrawDocument(QPainter& p, const QRectF& r) {
    const qreal e = r.width() / 20.0;
    const qreal fold = r.width() * 0.32;
    QPainterPath page;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    Fill(p, page, kPaper, kPaperEdge, e);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    corner.closeSubpath();
    Fill(p, corner, kPaperLine, kPaperEdge, e);
    p.setPen(QPen(kPaperLine, e * 1.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const qreal y = r.top() + r.height() * (0.42 + i * 0.14);
        const qreal right = r.right() - r.width() * (i == 3 ? 0.45 : 0.2);
        p.drawLine(QPointF(r.left() + r.width() * 0.2, y), QPointF(right, y));
    }
}

// A thick arrow from `from` to `to`.
void DrawArrow(QPainter& p, QPointF from, QPointF to, qreal thickness, const QColor& color) {
    const QLineF line(from, to);
    const qreal head = thickness * 2.1;
    QLineF shaft = line;
    shaft.setLength(line.length() - head * 0.9);
    p.setPen(QPen(color, thickness, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(shaft);
    const QLineF unit = line.unitVector();
    const QPointF d(unit.dx(), unit.dy());
    const QPointF n(-d.y(), d.x());
    QPainterPath tip;
    tip.moveTo(to);
    tip.lineTo(to - d * head + n * head * 0.8);
    tip.lineTo(to - d * head - n * head * 0.8);
    tip.closeSubpath();
    p.setPen(QPen(color, thickness * 0.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    p.drawPath(tip);
}

// A filled circle with a white symbol drawn by `symbol` inside it.
void DrawBadge(QPainter& p, QPointF c, qreal radius, const QColor& color) {
    p.setPen(QPen(color.darker(125), radius / 14));
    p.setBrush(color);
    p.drawEllipse(c, radius, radius);
}

void DrawGlyph(QPainter& p, const QRectF& r, const QString& text, qreal pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(qRound(pixelSize * 100));  // large, then scaled down for smooth outlines
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF b = path.boundingRect();
    const qreal s = pixelSize * 100 > 0 ? 1.0 / 100 : 1;
    QTransform t;
    t.translate(r.center().x() - b.center().x() * s, r.center().y() - b.center().y() * s);
    t.scale(s, s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(t.map(path));
}

void DrawCross(QPainter& p, QPointF c, qreal radius) {
    DrawBadge(p, c, radius, kRed);
    p.setPen(QPen(Qt::white, radius * 0.32, Qt::SolidLine, Qt::RoundCap));
    const qreal k = radius * 0.42;
    p.drawLine(c + QPointF(-k, -k), c + QPointF(k, k));
    p.drawLine(c + QPointF(-k, k), c + QPointF(k, -k));
}

void DrawPower(QPainter& p, QPointF c, qreal radius) {
    DrawBadge(p, c, radius, kRed);
    const qreal r = radius * 0.52;
    p.setPen(QPen(Qt::white, radius * 0.16, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 120 * 16, 300 * 16);
    p.drawLine(c + QPointF(0, -r * 1.15), c + QPointF(0, -r * 0.15));
}

// An application window with a gear: the self-extracting program.
void DrawProgram(QPainter& p, const QRectF& r) {
    const qreal e = r.width() / 26.0;
    Fill(p, Rounded(r, 2 * e), kPaper, kSlate, e);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(r.left(), r.top(), r.width(), r.height() * 0.24), 2 * e, 2 * e);
    Fill(p, bar, kSlate, kSlate, e);
    const QPointF c(r.center().x(), r.top() + r.height() * 0.62);
    const qreal g = r.height() * 0.26;
    p.setPen(QPen(kSteel, g * 0.42, Qt::SolidLine, Qt::FlatCap));
    for (int i = 0; i < 4; ++i) {
        QLineF tooth(c, c + QPointF(g * 1.25, 0));
        tooth.setAngle(i * 45.0);
        QLineF both(tooth.pointAt(-1.0), tooth.p2());
        p.drawLine(both);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kSteel);
    p.drawEllipse(c, g, g);
    p.setBrush(kPaper);
    p.drawEllipse(c, g * 0.42, g * 0.42);
}

// The toolbar pictures, drawn on a 92 x 40 canvas.
using Drawing = std::function<void(QPainter&)>;

struct ToolbarImage {
    const char* name;
    Drawing draw;
};

const ToolbarImage kToolbar[] = {
    {"beenden",
     [](QPainter& p) {
         DrawPower(p, {46, 20}, 17);
     }},
    {"entpacken",
     [](QPainter& p) {
         DrawArchive(p, QRectF(14, 4, 26, 32));
         DrawArrow(p, {42, 21}, {55, 21}, 4, kGreen);
         DrawFolder(p, QRectF(57, 7, 30, 27));
     }},
    {"hilfe",
     [](QPainter& p) {
         DrawBadge(p, {46, 20}, 17, kViolet);
         DrawGlyph(p, QRectF(29, 3, 34, 34), QStringLiteral("?"), 24);
     }},
    {"hinzufuegen",
     [](QPainter& p) {
         DrawDocument(p, QRectF(10, 5, 24, 30));
         DrawArrow(p, {37, 21}, {50, 21}, 4, kGreen);
         DrawArchive(p, QRectF(53, 4, 26, 32));
     }},
    {"info",
     [](QPainter& p) {
         DrawBadge(p, {46, 20}, 17, kBlue);
         DrawGlyph(p, QRectF(29, 3, 34, 34), QStringLiteral("i"), 24);
     }},
    {"loeschen",
     [](QPainter& p) {
         DrawArchive(p, QRectF(31, 3, 27, 33));
         DrawCross(p, {59, 28}, 9);
     }},
    {"oeffnen",
     [](QPainter& p) {
         // An open folder with an archive standing in it.
         QPainterPath back;
         back.moveTo(25, 6);
         back.lineTo(39, 6);
         back.lineTo(42, 10);
         back.lineTo(66, 10);
         back.lineTo(66, 37);
         back.lineTo(25, 37);
         back.closeSubpath();
         Fill(p, back, kFolderBack, kFolderBack.darker(130), 1.3);
         DrawArchive(p, QRectF(35, 3, 21, 26));
         QPainterPath flap;
         flap.moveTo(21, 20);
         flap.lineTo(70, 20);
         flap.lineTo(66, 37);
         flap.lineTo(25, 37);
         flap.closeSubpath();
         Fill(p, flap, kFolderFront, kFolderBack.darker(130), 1.3);
     }},
    {"umwandeln",
     [](QPainter& p) {
         DrawArchive(p, QRectF(8, 4, 25, 32));
         DrawArrow(p, {37, 14}, {55, 14}, 3.4, kOrange);
         DrawArrow(p, {55, 27}, {37, 27}, 3.4, kOrange);
         DrawProgram(p, QRectF(59, 6, 27, 28));
     }},
};

// The add dialog's images, drawn on a 16 x 16 canvas.
struct SmallImage {
    const char* name;
    Drawing draw;
};

const SmallImage kSmall[] = {
    {"ordnerzurueck",
     [](QPainter& p) {
         DrawFolder(p, QRectF(0.5, 2, 15, 12.5));
         DrawArrow(p, {8, 13}, {8, 5.2}, 2.2, Qt::white);
     }},
    {"symbole",
     [](QPainter& p) {
         p.setPen(Qt::NoPen);
         p.setBrush(kBlue);
         for (int i = 0; i < 4; ++i) {
             p.drawRoundedRect(QRectF(1 + (i % 2) * 8, 1 + (i / 2) * 8, 6, 6), 1, 1);
         }
     }},
    {"liste",
     [](QPainter& p) {
         for (int col = 0; col < 2; ++col) {
             for (int row = 0; row < 3; ++row) {
                 const qreal x = 0.5 + col * 8, y = 2 + row * 4.5;
                 p.setPen(Qt::NoPen);
                 p.setBrush(kBlue);
                 p.drawRect(QRectF(x, y, 2.5, 2.5));
                 p.setBrush(kSlate);
                 p.drawRect(QRectF(x + 3.5, y + 0.5, 3.5, 1.5));
             }
         }
     }},
    {"details",
     [](QPainter& p) {
         p.setPen(Qt::NoPen);
         p.setBrush(kSlate);
         p.drawRect(QRectF(0.5, 1.5, 15, 2.5));
         for (int row = 0; row < 3; ++row) {
             const qreal y = 6 + row * 3.5;
             p.setBrush(kBlue);
             p.drawRect(QRectF(0.5, y, 2.5, 2.5));
             p.setBrush(kSteel);
             p.drawRect(QRectF(4, y + 0.5, 6, 1.5));
             p.drawRect(QRectF(11, y + 0.5, 4.5, 1.5));
         }
     }},
    {"schloss",
     [](QPainter& p) {
         p.setPen(QPen(kSteel, 1.8));
         p.setBrush(Qt::NoBrush);
         p.drawRoundedRect(QRectF(4.5, 1.2, 7, 9), 3.5, 3.5);
         Fill(p, Rounded(QRectF(2, 6.5, 12, 9), 1.5), kGold, kGold.darker(140), 0.8);
         p.setPen(Qt::NoPen);
         p.setBrush(kZip);
         p.drawEllipse(QPointF(8, 10), 1.4, 1.4);
         p.drawRect(QRectF(7.4, 10, 1.2, 3));
     }},
    {"sichtbar",
     [](QPainter& p) {
         QPainterPath eye;
         eye.moveTo(0.8, 8);
         eye.quadTo(8, -0.5, 15.2, 8);
         eye.quadTo(8, 16.5, 0.8, 8);
         eye.closeSubpath();
         Fill(p, eye, kPaper, kSlate, 1.2);
         p.setPen(Qt::NoPen);
         p.setBrush(kBlue);
         p.drawEllipse(QPointF(8, 8), 3.2, 3.2);
         p.setBrush(kSlate);
         p.drawEllipse(QPointF(8, 8), 1.4, 1.4);
     }},
};

QImage Render(QSize size, QSizeF canvas, const Drawing& draw, const QColor& background) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(background);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size.width() / canvas.width(), size.height() / canvas.height());
    draw(p);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

void DrawInfoPicture(QPainter& p) {
    // 1200 x 420, opaque on the info window's orange.
    p.fillRect(QRectF(0, 0, 1200, 420), kBrand);
    // A large box on a light disc.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawEllipse(QPointF(200, 210), 175, 175);
    DrawArchive(p, QRectF(95, 60, 210, 270));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setBold(true);
    title.setPixelSize(150);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(430, 40, 760, 200), Qt::AlignLeft | Qt::AlignBottom,
               QStringLiteral("Tarvik"));
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(440, 262), QPointF(1120, 262));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(40);
    p.setFont(sub);
    p.drawText(QRectF(440, 280, 720, 70), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Zip-Archive packen und entpacken"));
}

void DrawAppIcon(QPainter& p) {
    // 64 x 64 canvas.
    Fill(p, Rounded(QRectF(2, 2, 60, 60), 13), kBrand, kBrand.darker(115), 1.5);
    DrawArchive(p, QRectF(15, 10, 34, 44));
}

bool Save(const QImage& img, const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RESOURCES_DIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    const QSize toolbarSizes[] = {{92, 40}, {115, 50}, {138, 60}, {184, 80}};
    for (const QSize& s : toolbarSizes) {
        const QString dir =
            QStringLiteral("%1/toolbar/%2x%3/").arg(out).arg(s.width()).arg(s.height());
        for (const ToolbarImage& t : kToolbar) {
            ok &= Save(Render(s, {92, 40}, t.draw, Qt::transparent),
                       dir + QString::fromLatin1(t.name) + ".png");
        }
    }
    for (int px : {16, 20, 24, 32}) {
        const QString dir = QStringLiteral("%1/dialog/%2/").arg(out).arg(px);
        for (const SmallImage& t : kSmall) {
            ok &= Save(Render({px, px}, {16, 16}, t.draw, Qt::transparent),
                       dir + QString::fromLatin1(t.name) + ".png");
        }
    }
    QImage info = Render({1200, 420}, {1200, 420}, DrawInfoPicture, kBrand);
    ok &= Save(info.convertToFormat(QImage::Format_RGB32), out + "/info/hintergrund.png");
    for (int px : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage icon = Render({px, px}, {64, 64}, DrawAppIcon, Qt::transparent);
        ok &= Save(icon, QStringLiteral("%1/icons/hicolor/%2x%2/apps/tarvik.png").arg(out).arg(px));
        if (px == 256) {
            ok &= Save(icon, out + "/icons/tarvik.png");
        }
    }
    return ok ? 0 : 1;
}
