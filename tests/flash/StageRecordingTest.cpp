// A stage recorded and painted later, on other threads, against the same stage drawn at once: the
// pixels must be the same, also across the edges of the bands the stage is painted in, and a recording
// must stay whole while the renderer records the next frames.
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include "SwfWriter.h"

#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

// Gradient stars with lines, thin and thick, all over a 400 x 300 stage, moving every frame.
QByteArray MovingStars(int frames) {
    MovieBuilder movie;
    movie.Stage({0, 8000, 0, 6000}).FrameRate(12);
    constexpr int Stars = 24;
    for (int id = 1; id <= Stars; ++id) {
        const Rgba color{std::uint8_t(id * 37), std::uint8_t(id * 91), std::uint8_t(id * 53), 180};
        const FillStyle fill =
            id % 3 == 0   ? GradientFill(FillStyle::Type::RadialGradient, Matrix{0.05, 0, 0, 0.05, 0, 0},
                                         {{0, color}, {255, {255, 255, 255, 255}}})
            : id % 3 == 1 ? GradientFill(FillStyle::Type::LinearGradient, Matrix{0.04, 0, 0, 0.04, 0, 0},
                                         {{0, color}, {255, {0, 0, 0, 255}}})
                          : Solid(color);
        ShapeRecords records;
        records.Fill0(1).Line(1).MoveTo(-600, 0);
        for (int step = 1; step <= 10; ++step) {
            const double angle = step * M_PI / 5, radius = step % 2 ? 1100 : 400;
            records.CurveTo(std::int32_t(radius * std::cos(angle - M_PI / 10)),
                            std::int32_t(radius * std::sin(angle - M_PI / 10)),
                            std::int32_t(600 * std::cos(angle)), std::int32_t(600 * std::sin(angle)));
        }
        movie.Add(DefineShape(ShapeDefinition()
                                  .Version(3)
                                  .Id(std::uint16_t(id))
                                  .Bounds({-1200, 1200, -1200, 1200})
                                  .Fills({fill})
                                  .Lines({Line(id % 2 ? 10 : 60, {0, 0, 0, 255})})
                                  .Records(records)));
    }
    for (int frame = 0; frame < frames; ++frame) {
        for (int id = 1; id <= Stars; ++id) {
            PlaceObject place = Place(std::uint16_t(id), std::uint16_t(id));
            if (frame > 0) {
                place.move = true;
                place.characterId.reset();
            }
            const double turn = (frame + id) * 0.3, scale = 0.6 + 0.3 * std::sin(frame + id);
            place.matrix = Matrix{scale * std::cos(turn),
                                  scale * std::sin(turn),
                                  -scale * std::sin(turn),
                                  scale * std::cos(turn),
                                  double((id * 613 + frame * 170) % 8000),
                                  double((id * 347 + frame * 130) % 6000)};
            movie.Add(PlaceObjectTag(place));
        }
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

} // namespace

TEST(StageRecording, PaintedLaterOnOtherThreadsGivesThePixelsOfRenderStage) {
    // In both edge modes: the renderer keeps its mode from one recording to the next.
    for (const bool antialiased : {false, true}) {
        SCOPED_TRACE(antialiased ? "antialiased" : "whole pixels");
        constexpr int Frames = 3, Painters = 2;
        const ReadResult read = ReadMovie(MovingStars(Frames));
        ASSERT_TRUE(read.movie);
        Player player(read.movie);
        // A DVD frame shown at 4:3, so the stage is letterboxed and its pixels are not square.
        const QSize size(720, 576);
        const double pixelAspect = 4.0 / 3 * 576 / 720;
        Renderer drawn, recorded;
        drawn.SetAntialiased(antialiased);
        recorded.SetAntialiased(antialiased);
        std::vector<QImage> expected;
        std::vector<std::shared_ptr<const StageRecording>> recordings;
        for (int frame = 0; frame < Frames; ++frame) {
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            drawn.RenderStage(painter, *read.movie, player.Stage(), size, player.BackgroundColor(),
                              pixelAspect);
            painter.end();
            expected.push_back(image);
            recordings.push_back(recorded.Record(*read.movie, player.Stage(), size, player.BackgroundColor(),
                                                 pixelAspect, Painters));
            player.Tick();
        }
        // Every frame recorded before any is painted; two painted at once, each with a painter number of
        // its own, as the conversion's pipeline hands them out (a number is one thread's copies of the
        // paths the frames share).
        std::vector<QImage> painted(Frames, QImage(size, QImage::Format_ARGB32_Premultiplied));
        for (int first = 0; first < Frames; first += Painters) {
            std::vector<std::future<void>> done;
            for (int frame = first; frame < std::min(first + Painters, Frames); ++frame)
                done.push_back(std::async(std::launch::async, [&, frame] {
                    Renderer::Paint(*recordings[std::size_t(frame)], painted[std::size_t(frame)],
                                    frame % Painters + 1);
                }));
            for (auto& one : done)
                one.wait();
        }
        for (int frame = 0; frame < Frames; ++frame) {
            EXPECT_EQ(painted[std::size_t(frame)], expected[std::size_t(frame)]) << "frame " << frame;
            // The stars cover a good part of the stage, so the comparison is worth something.
            const QImage& image = expected[std::size_t(frame)];
            int inked = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    inked += image.pixel(x, y) != image.pixel(0, 0);
            EXPECT_GT(inked, image.width() * image.height() / 10) << "frame " << frame;
        }
    }
}
