// vantrel-imagediff: how closely two images agree, for checking rendered frames against references.
//   vantrel-imagediff A.png B.png   prints "similarity: S" (share of pixels whose channels all lie
//   within 16 levels of each other, 0..1), "psnr: P" (dB over the RGB channels), "off: F" (share of
//   pixels with a channel more than 24 levels apart) and "strict: match" or "strict: differs" (at
//   most 2% of pixels off: the stricter measure of a frame matching its reference).
// Both images are compared as seen, composited over white; B is scaled to A's size when they differ.
// Exits 1 when an image cannot be read, 2 on wrong use.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int SimilarLevels = 16;    // a channel this close counts as similar
constexpr int StrictLevels = 24;     // a channel further apart puts the pixel off
constexpr double StrictShare = 0.02; // a frame matches with at most this share of pixels off

} // namespace

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
    long long close = 0, off = 0;
    double squared = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(rowA[x]) - qRed(rowB[x]), dg = qGreen(rowA[x]) - qGreen(rowB[x]),
                      db = qBlue(rowA[x]) - qBlue(rowB[x]);
            const int worst = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
            close += worst <= SimilarLevels;
            off += worst > StrictLevels;
            squared += dr * dr + dg * dg + db * db;
        }
    }
    const double pixels = double(a.width()) * a.height();
    const double mse = squared / (pixels * 3);
    std::printf("similarity: %.4f\npsnr: %.2f\noff: %.4f\nstrict: %s\n", close / pixels,
                mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse), off / pixels,
                off <= pixels * StrictShare ? "match" : "differs");
    return 0;
}
