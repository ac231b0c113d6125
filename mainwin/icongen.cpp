// Draws the command pictures of the main window into PNG files:
//   velmora_icongen <folder>   writes <folder>/large/NN.png and <folder>/small/NN.png
// The pictures are committed; run this only to change them.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

struct Picture
{
    const char* glyph; // the command's key character, or a sign
    QRgb colour;
};

// Index = picture index of the commands; 4, 8 and 9 are spares no command uses.
const Picture pictures[] = {
    {"零", 0x1f5fbf}, // 0  ls1 药品零售
    {"批", 0x3b82c4}, // 1  pf1 药品批发
    {"入", 0x2e8b3e}, // 2  rk1 药品入库
    {"退", 0x6a9a1f}, // 3  ty1 药品退药
    {"4", 0x8a8a8a},  // 4  spare
    {"价", 0x13877f}, // 5  ypprice 药品调价
    {"查", 0xd07a12}, // 6  djsearch 单据查询
    {"新", 0x18a3a3}, // 7  ypadd 新增药品
    {"8", 0x7a7a7a},  // 8  spare
    {"9", 0x6a6a6a},  // 9  spare
    {"户", 0x7b3fb0}, // 10 user1 用户管理
    {"往", 0x9c4a9e}, // 11 company1 往来单位
    {"员", 0x5b4bc4}, // 12 yg1 员工管理
    {"统", 0xc9561b}, // 13 xstj 销售统计
    {"部", 0xa0479a}, // 14 bm1 部门管理
    {"备", 0x8b5a2b}, // 15 back1 备份数据
    {"出", 0xc0302b}, // 16 quit 退出程序
    {"i", 0x24468f},  // 17 about 关于程序
    {"?", 0x2f6db5},  // 18 systemhelp 系统帮助 (small list only)
};
constexpr int largeCount = 18;
constexpr int smallCount = 19;

QImage draw(const Picture& picture, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QColor base = QColor::fromRgb(picture.colour);
    const QRectF tile = QRectF(0.5, 0.5, size - 1, size - 1);
    const qreal radius = size / 5.0;
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, base.lighter(130));
    fill.setColorAt(1, base.darker(115));
    p.setPen(QPen(base.darker(160), 1));
    p.setBrush(fill);
    p.drawRoundedRect(tile, radius, radius);

    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(size >= 32 ? 22 : 13);
    font.setBold(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QString::fromUtf8(picture.glyph));
    return image;
}

bool writeList(const QString& folder, const char* list, int count, int size)
{
    QDir dir(folder);
    if (!dir.mkpath(QLatin1String(list)))
        return false;
    for (int i = 0; i < count; ++i) {
        const QString path =
            dir.filePath(QStringLiteral("%1/%2.png").arg(QLatin1String(list)).arg(i, 2, 10, QLatin1Char('0')));
        if (!draw(pictures[i], size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora_icongen <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    return writeList(folder, "large", largeCount, 32) && writeList(folder, "small", smallCount, 16) ? 0 : 1;
}
