#include "app/Thumbnail.h"

#include "flash/player/Player.h"
#include "flash/render/Renderer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace thumbnail {

QSize FittedSize(QSize StageSize, int Side) {
    if (StageSize.isEmpty() || Side <= 0)
        return {};
    const double scale = double(Side) / std::max(StageSize.width(), StageSize.height());
    return {std::clamp(int(std::lround(StageSize.width() * scale)), 1, Side),
            std::clamp(int(std::lround(StageSize.height() * scale)), 1, Side)};
}

namespace {

// True when some pixel differs from the background the stage was cleared to.
bool DrawsSomething(const QImage& Image) {
    const QRgb background = Image.pixel(0, 0);
    for (int y = 0; y < Image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(Image.constScanLine(y));
        if (!std::all_of(line, line + Image.width(), [&](QRgb pixel) { return pixel == background; }))
            return true;
    }
    return false;
}

} // namespace

QImage Render(const std::shared_ptr<const flash::Movie>& Movie, int Side) {
    const QSize stage(int(std::lround(Movie->frameSize.Width() / flash::TwipsPerPixel)),
                      int(std::lround(Movie->frameSize.Height() / flash::TwipsPerPixel)));
    const QSize size = FittedSize(stage, Side);
    if (size.isEmpty())
        return {};
    flash::Player player(Movie);
    flash::Renderer renderer;
    // The frames of the first second; the first one shown counts.
    const int framesInASecond = std::max(1, int(std::ceil(Movie->frameRate)));
    const int lastTried = std::min(framesInASecond, std::max(1, player.TotalFrames()));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int frame = 1;; ++frame) {
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            renderer.RenderStage(painter, player.GetMovie(), player.Stage(), size, player.BackgroundColor());
        }
        if (frame >= lastTried || DrawsSomething(image))
            return image;
        player.Tick();
    }
}

} // namespace thumbnail
