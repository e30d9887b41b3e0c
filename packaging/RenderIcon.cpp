// raid-gui-render-icon: writes the window's icon as PNG files for the desktop's icon
// theme, so the menu entry shows the picture the window itself carries. Run at build
// time on Qt's offscreen platform.
//
//   raid-gui-render-icon OUTDIR SIZE...   writes OUTDIR/<S>x<S>/apps/raid-gui.png
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include "gui/Artwork.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: raid-gui-render-icon OUTDIR SIZE...\n";
        return 2;
    }
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != 0 || size < 16 || size > 1024) {
            std::cerr << "raid-gui-render-icon: bad size '" << argv[i] << "' (16 to 1024)\n";
            return 2;
        }
        sizes.push_back(static_cast<int>(size));
    }
    // No display is needed to paint into a pixmap.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (const int s : sizes) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(s);
        const QString file = dir + QStringLiteral("/raid-gui.png");
        const QImage image = raid::gui::Artwork::iconPixmap(s).toImage();
        if (!QDir().mkpath(dir) || image.size() != QSize(s, s) || !image.save(file, "PNG")) {
            std::cerr << "raid-gui-render-icon: cannot write " << file.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
