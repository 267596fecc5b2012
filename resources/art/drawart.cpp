// Draws the program's pictures into resources/pictures. Run by hand after
// changing the art:  cmake --build build --target drawart && build/tools/drawart resources/pictures
// The icons are drawn at every build (drawart --icons).
#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <functional>

namespace {

QString outDir;

void save(const QImage& img, const QString& name) { img.save(outDir + u'/' + name); }

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

const QColor kNight(14, 18, 38), kDeep(38, 22, 74), kGold(255, 196, 64), kOrange(255, 122, 48), kCyan(72, 220, 255);

void stageBackground(QPainter& p, const QRect& r) {
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, kNight);
    g.setColorAt(0.6, kDeep);
    g.setColorAt(1, QColor(90, 24, 70));
    p.fillRect(r, g);
    // Stage lights.
    for (int i = 0; i < 3; ++i) {
        QRadialGradient spot(QPointF(r.width() * (0.25 + 0.3 * i), -20), r.height() * 0.9);
        spot.setColorAt(0, QColor(255, 255, 255, 38));
        spot.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillRect(r, spot);
    }
}

void cymbal(QPainter& p, QPointF c, double rx, double ry, double tilt) {
    p.save();
    p.translate(c);
    p.rotate(tilt);
    QRadialGradient g(QPointF(-rx * 0.3, -ry * 0.4), rx * 1.3);
    g.setColorAt(0, QColor(255, 236, 160));
    g.setColorAt(0.5, kGold);
    g.setColorAt(1, QColor(150, 96, 20));
    p.setBrush(g);
    p.setPen(QPen(QColor(110, 70, 10), 1.2));
    p.drawEllipse(QPointF(0, 0), rx, ry);
    p.setBrush(QColor(120, 80, 20));
    p.drawEllipse(QPointF(0, 0), rx * 0.12, ry * 0.14);
    p.restore();
    p.setPen(QPen(QColor(190, 190, 205), 2));
    p.drawLine(c + QPointF(0, ry), c + QPointF(0, ry + 60));
}

void drum(QPainter& p, QRectF body, QColor shell) {
    const double capH = body.height() * 0.28;
    QLinearGradient g(body.topLeft(), body.topRight());
    g.setColorAt(0, shell.darker(170));
    g.setColorAt(0.45, shell.lighter(130));
    g.setColorAt(1, shell.darker(200));
    p.setPen(QPen(shell.darker(250), 1));
    p.setBrush(g);
    QPainterPath path;
    path.moveTo(body.left(), body.top() + capH / 2);
    path.lineTo(body.left(), body.bottom() - capH / 2);
    path.arcTo(QRectF(body.left(), body.bottom() - capH, body.width(), capH), 180, 180);
    path.lineTo(body.right(), body.top() + capH / 2);
    path.closeSubpath();
    p.drawPath(path);
    p.setBrush(QColor(236, 236, 226));
    p.setPen(QPen(QColor(160, 160, 150), 1.5));
    p.drawEllipse(QRectF(body.left(), body.top(), body.width(), capH));
    // Lugs.
    p.setPen(QPen(QColor(220, 220, 230), 2));
    for (int i = 1; i < 5; ++i) {
        const double x = body.left() + body.width() * i / 5.0;
        p.drawLine(QPointF(x, body.top() + capH * 0.9), QPointF(x, body.bottom() - capH * 0.3));
    }
}

void bassDrum(QPainter& p, QPointF c, double r) {
    QRadialGradient g(c, r);
    g.setColorAt(0, QColor(250, 248, 240));
    g.setColorAt(0.85, QColor(220, 214, 200));
    g.setColorAt(0.86, kOrange.darker(120));
    g.setColorAt(1, kOrange.darker(220));
    p.setPen(QPen(QColor(40, 20, 10), 2));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    QFont f(QStringLiteral("DejaVu Sans"), static_cast<int>(r * 0.32), QFont::Black);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(kDeep);
    p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("R2"));
}

void kit(QPainter& p, QPointF base, double s) {
    cymbal(p, base + QPointF(-95 * s, -62 * s), 38 * s, 9 * s, -8);
    cymbal(p, base + QPointF(100 * s, -70 * s), 44 * s, 10 * s, 10);
    drum(p, QRectF(base + QPointF(-62 * s, -48 * s), QSizeF(48 * s, 34 * s)), kOrange);
    drum(p, QRectF(base + QPointF(14 * s, -52 * s), QSizeF(52 * s, 38 * s)), kOrange);
    drum(p, QRectF(base + QPointF(58 * s, -6 * s), QSizeF(60 * s, 52 * s)), kOrange);
    bassDrum(p, base + QPointF(-4 * s, 22 * s), 50 * s);
    drum(p, QRectF(base + QPointF(-126 * s, -4 * s), QSizeF(56 * s, 30 * s)), QColor(200, 200, 210));
}

void title(QPainter& p, const QRectF& r, int size, Qt::Alignment align) {
    QFont f(QStringLiteral("DejaVu Sans"), size, QFont::Black);
    f.setItalic(true);
    QPainterPath path;
    QFontMetricsF fm(f);
    const QString text = QStringLiteral("Rimbal");
    const double w = fm.horizontalAdvance(text);
    double x = r.left();
    if (align & Qt::AlignHCenter) x = r.center().x() - (w + fm.horizontalAdvance(QStringLiteral(" 2"))) / 2;
    path.addText(QPointF(x, r.top() + fm.ascent()), f, text);
    QLinearGradient g(0, r.top(), 0, r.top() + fm.height());
    g.setColorAt(0, QColor(255, 245, 200));
    g.setColorAt(1, kGold);
    p.setPen(QPen(QColor(60, 20, 10), 3));
    p.setBrush(g);
    p.drawPath(path);
    QPainterPath two;
    two.addText(QPointF(x + w + fm.horizontalAdvance(QStringLiteral(" ")) * 0.6, r.top() + fm.ascent()), f, QStringLiteral("2"));
    QLinearGradient g2(0, r.top(), 0, r.top() + fm.height());
    g2.setColorAt(0, kCyan.lighter(140));
    g2.setColorAt(1, kCyan.darker(130));
    p.setBrush(g2);
    p.drawPath(two);
}

// The stage the big pictures share: lights, the kit, the name and a line under it.
struct Scene {
    QPointF kitAt;
    double kitScale;
    QRectF titleRect;
    int titleSize;
    QRectF lineRect;
    int lineSize;
    QString line;
    int lineAlpha;
};

void scene(QPainter& p, const QRect& area, const Scene& s) {
    stageBackground(p, area);
    kit(p, s.kitAt, s.kitScale);
    title(p, s.titleRect, s.titleSize, Qt::AlignLeft);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), s.lineSize, QFont::Bold));
    p.setPen(QColor(255, 255, 255, s.lineAlpha));
    p.drawText(s.lineRect, Qt::AlignLeft, s.line);
}

void splash() {
    QImage img = canvas(400, 265);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    scene(p, img.rect(), {QPointF(250, 150), 0.95, QRectF(18, 14, 360, 60), 34, QRectF(22, 66, 200, 20), 11,
                          QStringLiteral("Bateria virtual"), 220});
    // The status line sits on a white strip.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRoundedRect(QRectF(96, 226, 225, 28), 6, 6);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
    p.setPen(QColor(255, 255, 255, 150));
    p.drawText(QRectF(0, 250, 395, 14), Qt::AlignRight, QStringLiteral("v2.0"));
    save(img, QStringLiteral("splash.png"));
}

void windowArt() {
    QImage img = canvas(581, 200);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    scene(p, img.rect(), {QPointF(440, 120), 0.85, QRectF(14, 8, 300, 50), 30, QRectF(18, 58, 280, 18), 9,
                          QStringLiteral("Toque bateria no teclado do computador"), 210});
    // A console panel behind the two rows of buttons.
    QLinearGradient g(0, 92, 0, 198);
    g.setColorAt(0, QColor(255, 255, 255, 40));
    g.setColorAt(1, QColor(255, 255, 255, 14));
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(-6, 92, 258, 106), 10, 10);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 7, QFont::Bold));
    p.setPen(QColor(255, 255, 255, 170));
    p.drawText(QRectF(256, 112, 60, 14), Qt::AlignLeft, QStringLiteral("ÁUDIO"));
    p.drawText(QRectF(256, 160, 70, 14), Qt::AlignLeft, QStringLiteral("SEQUÊNCIA"));
    save(img, QStringLiteral("window.png"));
}

void glyph(QPainter& p, const QString& kind, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const QPointF m(25, 25);
    if (kind == QLatin1String("rec")) {
        p.drawEllipse(m, 8.5, 8.5);
    } else if (kind == QLatin1String("play")) {
        QPolygonF tri{{20, 15}, {20, 35}, {36, 25}};
        p.drawPolygon(tri);
    } else if (kind == QLatin1String("stop")) {
        p.drawRoundedRect(QRectF(17, 17, 16, 16), 2, 2);
    } else if (kind == QLatin1String("save")) {
        p.drawRoundedRect(QRectF(15, 15, 20, 20), 2.5, 2.5);
        p.setBrush(QColor(0, 0, 0, 90));
        p.drawRect(QRectF(19, 15, 12, 7));
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawRect(QRectF(18.5, 26, 13, 7));
    } else {
        // A fresh page with a folded corner.
        QPolygonF page{{17, 14}, {29, 14}, {34, 19}, {34, 36}, {17, 36}};
        p.drawPolygon(page);
        p.setBrush(QColor(0, 0, 0, 80));
        p.drawPolygon(QPolygonF{{29, 14}, {29, 19}, {34, 19}});
    }
}

QImage button(const QString& kind, const QColor& rim, const QColor& mark, bool disabled) {
    QImage img = canvas(50, 50);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient body(QPointF(20, 16), 30);
    if (disabled) {
        body.setColorAt(0, QColor(120, 120, 128));
        body.setColorAt(1, QColor(60, 60, 66));
    } else {
        body.setColorAt(0, rim.lighter(150));
        body.setColorAt(0.7, rim);
        body.setColorAt(1, rim.darker(180));
    }
    p.setPen(QPen(QColor(0, 0, 0, 140), 1.5));
    p.setBrush(body);
    p.drawEllipse(QPointF(25, 25), 21, 21);
    // Gloss.
    QLinearGradient gloss(0, 5, 0, 26);
    gloss.setColorAt(0, QColor(255, 255, 255, disabled ? 50 : 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(10, 6, 30, 20));
    glyph(p, kind, disabled ? QColor(150, 150, 156) : mark);
    return img;
}

void buttons() {
    const QString kinds[] = {QStringLiteral("rec"), QStringLiteral("play"), QStringLiteral("stop"), QStringLiteral("save"),
                             QStringLiteral("new")};
    for (const QString& k : kinds) {
        const QColor mark = k == QLatin1String("rec") ? QColor(255, 70, 60) : QColor(250, 250, 255);
        save(button(k, QColor(40, 92, 190), mark, false), QStringLiteral("btn_") + k + QStringLiteral("1.png"));
        save(button(k, QColor(40, 92, 190), mark, true), QStringLiteral("btn_") + k + QStringLiteral("1_off.png"));
        save(button(k, QColor(22, 140, 120), mark, false), QStringLiteral("btn_") + k + QStringLiteral("2.png"));
    }
}

void led(const QString& name, QColor core, QColor glow, bool lit) {
    QImage img = canvas(14, 14);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (lit) {
        QRadialGradient halo(QPointF(7, 7), 7);
        halo.setColorAt(0, glow);
        halo.setColorAt(1, QColor(glow.red(), glow.green(), glow.blue(), 0));
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawEllipse(QPointF(7, 7), 7, 7);
    }
    QRadialGradient g(QPointF(5.5, 5), 6);
    g.setColorAt(0, core.lighter(lit ? 170 : 125));
    g.setColorAt(1, core);
    p.setPen(QPen(QColor(0, 0, 0, 150), 1));
    p.setBrush(g);
    p.drawEllipse(QPointF(7, 7), 5, 5);
    save(img, name);
}

void logo() {
    QImage img = canvas(336, 124);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, 336, 124), 14, 14);
    p.setClipPath(clip);
    scene(p, img.rect(), {QPointF(262, 72), 0.5, QRectF(16, 14, 240, 50), 30, QRectF(20, 60, 200, 16), 9,
                          QStringLiteral("Bateria virtual"), 210});
    save(img, QStringLiteral("logo.png"));
}

void banner() {
    QImage img = canvas(468, 60);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 468, 0);
    g.setColorAt(0, kDeep);
    g.setColorAt(1, QColor(150, 40, 60));
    p.fillRect(img.rect(), g);
    kit(p, QPointF(400, 36), 0.3);
    title(p, QRectF(12, 8, 160, 40), 20, Qt::AlignLeft);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 9, QFont::Bold));
    p.setPen(Qt::white);
    p.drawText(QRectF(150, 12, 220, 18), Qt::AlignLeft, QStringLiteral("Novos pacotes de sons"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    p.setPen(QColor(255, 255, 255, 200));
    p.drawText(QRectF(150, 30, 220, 16), Qt::AlignLeft, QStringLiteral("Baixe e compartilhe no fórum"));
    save(img, QStringLiteral("banner.png"));
}

// The program's icon on a 256-unit grid: a snare drum with crossed sticks
// and a cymbal on the stage colours. Small sizes drop the cymbal and draw
// thicker, so the drum still reads at 16 pixels.
void iconBody(QPainter& p, bool small) {
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    QLinearGradient g(0, 8, 256, 248);
    g.setColorAt(0, kDeep.lighter(120));
    g.setColorAt(0.55, kDeep);
    g.setColorAt(1, QColor(90, 24, 70));
    p.setPen(QPen(kNight, small ? 10 : 5));
    p.setBrush(g);
    p.drawPath(tile);
    p.save();
    p.setClipPath(tile);
    QRadialGradient spot(QPointF(128, -30), 230);
    spot.setColorAt(0, QColor(255, 255, 255, 70));
    spot.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRectF(0, 0, 256, 256), spot);
    p.restore();
    if (!small) {
        p.save();
        p.setClipPath(tile);
        cymbal(p, QPointF(78, 62), 52, 13, -10);
        p.restore();
    }
    const QRectF body = small ? QRectF(36, 92, 184, 128) : QRectF(54, 104, 160, 112);
    drum(p, body, kOrange);
    if (small) {
        // The drum's own lines vanish at this size: one strong outline instead.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(60, 24, 8), 9));
        const double capH = body.height() * 0.28;
        QPainterPath outline;
        outline.moveTo(body.left(), body.top() + capH / 2);
        outline.lineTo(body.left(), body.bottom() - capH / 2);
        outline.arcTo(QRectF(body.left(), body.bottom() - capH, body.width(), capH), 180, 180);
        outline.lineTo(body.right(), body.top() + capH / 2);
        outline.arcTo(QRectF(body.left(), body.top(), body.width(), capH), 0, 180);
        p.drawPath(outline);
    }
    // Two sticks crossing over the head.
    const double w = small ? 18 : 11;
    const QLineF sticks[] = {{QPointF(92, 34), QPointF(150, 138)}, {QPointF(200, 40), QPointF(118, 136)}};
    for (const QLineF& s : sticks) {
        p.setPen(QPen(QColor(70, 36, 12), w + (small ? 6 : 4), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(s);
        QLinearGradient wood(s.p1(), s.p2());
        wood.setColorAt(0, QColor(250, 226, 170));
        wood.setColorAt(1, QColor(214, 164, 92));
        p.setPen(QPen(QBrush(wood), w, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(s);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 240, 210));
        p.drawEllipse(s.p2(), w * 0.75, w * 0.75);
    }
}

QImage sized(int size, const std::function<void(QPainter&)>& paint) {
    QImage img = canvas(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    paint(p);
    return img;
}

// A file's page with a folded corner, and what kind of file it is below.
void filePage(QPainter& p, bool sequence, bool small) {
    const QPolygonF page{{40, 12}, {170, 12}, {220, 62}, {220, 244}, {40, 244}};
    QLinearGradient g(0, 12, 0, 244);
    g.setColorAt(0, QColor(255, 255, 255));
    g.setColorAt(1, QColor(226, 228, 238));
    p.setPen(QPen(QColor(90, 90, 110), small ? 10 : 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(page);
    p.setBrush(QColor(200, 202, 216));
    p.drawPolygon(QPolygonF{{170, 12}, {170, 62}, {220, 62}});
    p.setPen(Qt::NoPen);
    if (sequence) {
        // Keys in time: rows of hits at their moments.
        const QColor key = kCyan.darker(150);
        const double hits[3][3] = {{58, 104, 150}, {80, 126, 172}, {58, 92, 160}};
        for (int row = 0; row < 3; ++row)
            for (double x : hits[row]) {
                p.setBrush(row == 1 ? kOrange : key);
                p.drawRoundedRect(QRectF(x, 26 + row * 34, 28, 22), 5, 5);
            }
    } else {
        // An archive's zip down the page.
        p.setBrush(QColor(96, 96, 120));
        for (int i = 0; i < 6; ++i) p.drawRect(QRectF(i % 2 ? 120 : 100, 12 + i * 17, 20, 13));
        p.drawRoundedRect(QRectF(104, 112, 32, 14), 4, 4);
    }
    p.save();
    p.translate(66, 128);
    p.scale(0.5, 0.5);
    iconBody(p, small);
    p.restore();
}

void icons(const QString& root) {
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = root + QStringLiteral("/%1x%1/").arg(size);
        QDir().mkpath(dir + QStringLiteral("apps"));
        QDir().mkpath(dir + QStringLiteral("mimetypes"));
        const bool small = size <= 24;
        sized(size, [&](QPainter& p) { iconBody(p, small); }).save(dir + QStringLiteral("apps/rimbal2.png"));
        sized(size, [&](QPainter& p) { filePage(p, false, small); })
            .save(dir + QStringLiteral("mimetypes/application-x-rimbal-package.png"));
        sized(size, [&](QPainter& p) { filePage(p, true, small); })
            .save(dir + QStringLiteral("mimetypes/application-x-rimbal-sequence.png"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // drawart --icons DIR: the icon theme folder (DIR/NxN/apps, DIR/NxN/mimetypes), drawn at build time.
    if (argc > 2 && QByteArray(argv[1]) == "--icons") {
        icons(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outDir);
    splash();
    windowArt();
    buttons();
    led(QStringLiteral("led_on.png"), QColor(40, 230, 90), QColor(120, 255, 150, 200), true);
    led(QStringLiteral("led_off.png"), QColor(24, 70, 36), QColor(), false);
    led(QStringLiteral("led_null.png"), QColor(150, 150, 156), QColor(), false);
    logo();
    banner();
    return 0;
}
