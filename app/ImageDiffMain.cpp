// vantrel-imagediff: how closely two images agree, for checking rendered frames against references.
//   vantrel-imagediff A.png B.png   prints "similarity: S" (share of pixels whose channels all lie
//   within 16 levels of each other, 0..1) and "psnr: P" (dB over the RGB channels).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: vantrel-imagediff A.png B.png\n");
        return 2;
    }
    QImage first(QString::fromLocal8Bit(argv[1]));
    QImage second(QString::fromLocal8Bit(argv[2]));
    if (first.isNull() || second.isNull()) {
        std::fprintf(stderr, "vantrel-imagediff: cannot read %s\n", first.isNull() ? argv[1] : argv[2]);
        return 1;
    }
    if (first.size() != second.size())
        second = second.scaled(first.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Compared as seen: composited over white.
    const auto flatten = [](const QImage& image) {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        return flat;
    };
    const QImage a = flatten(first), b = flatten(second);
    long long close = 0;
    double squared = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(rowA[x]) - qRed(rowB[x]), dg = qGreen(rowA[x]) - qGreen(rowB[x]),
                      db = qBlue(rowA[x]) - qBlue(rowB[x]);
            close += std::abs(dr) <= 16 && std::abs(dg) <= 16 && std::abs(db) <= 16;
            squared += dr * dr + dg * dg + db * db;
        }
    }
    const double pixels = double(a.width()) * a.height();
    const double mse = squared / (pixels * 3);
    std::printf("similarity: %.4f\npsnr: %.2f\n", close / pixels,
                mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse));
    return 0;
}
