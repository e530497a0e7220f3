// Embedded video: streams and frames read from the file, decoded with libavcodec and drawn at their
// place. The frames are encoded here with libavcodec's own encoders.
#include "SwfWriter.h"
#include "VideoEncoder.h"

#include "flash/media/VideoDecoder.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include "PixelCheck.h"
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr int Width = 64, Height = 48;
const QColor Red(255, 0, 0), Blue(0, 0, 255), Green(0, 255, 0), White(255, 255, 255);

VideoStream Stream(std::uint8_t codecId, const std::vector<QByteArray>& frames) {
    VideoStream video;
    video.numFrames = std::uint16_t(frames.size());
    video.width = Width;
    video.height = Height;
    video.codecId = codecId;
    for (std::size_t i = 0; i < frames.size(); ++i)
        video.frames[std::uint16_t(i)] = frames[i];
    return video;
}

// A 200 x 150 stage; the video at twice its size from (40, 30), one frame of the movie for each of
// its frames, shown through the placement's ratio.
QByteArray VideoMovie(const VideoStream& video) {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 3000}).Add(DefineVideoStreamTag(1, video));
    for (const auto& [number, data] : video.frames) {
        movie.Add(VideoFrameTag(1, number, data));
        PlaceObject place = number == 0 ? Place(1, 1) : PlaceObject{};
        place.depth = 1;
        place.version = 2;
        place.move = number != 0;
        if (number == 0)
            place.matrix = Matrix{2, 0, 0, 2, 40 * 20, 30 * 20};
        place.ratio = number;
        movie.Add(PlaceObjectTag(place)).Add(ShowFrame());
    }
    return movie.Build();
}

::testing::AssertionResult Near(const QImage& image, int x, int y, QColor expected, int tolerance = 24) {
    return PixelNear(image, x, y, expected, tolerance, false);
}

struct CodecCase {
    const char* name;
    std::uint8_t codecId;
    bool changeIsKey; // a frame that changes every pixel is a key frame of its own
};

class VideoCodecs : public ::testing::TestWithParam<CodecCase> {};

// Frames in an order that continues, repeats, jumps back to the start and back by one.
TEST_P(VideoCodecs, EachFrameShowsItsPictureAtItsPlaceInAnyOrder) {
    const std::vector<QColor> colors = {Red, Blue, Green, Red};
    const std::vector<QByteArray> frames = EncodeVideoFrames(GetParam().codecId, colors, Width, Height);
    if (frames.empty())
        GTEST_SKIP() << "no " << GetParam().name << " encoder";
    ASSERT_EQ(frames.size(), colors.size());
    EXPECT_TRUE(VideoDecoder::IsKeyFrame(GetParam().codecId, frames[0]));
    EXPECT_EQ(VideoDecoder::IsKeyFrame(GetParam().codecId, frames[1]), GetParam().changeIsKey);

    const ReadResult result = ReadMovie(VideoMovie(Stream(GetParam().codecId, frames)));
    ASSERT_TRUE(result.movie) << result.error.toStdString();
    Player player(result.movie);
    Renderer renderer;
    for (int frame : {0, 1, 1, 2, 3, 0, 2, 1}) {
        player.GotoFrame(frame);
        const QImage image = renderer.RenderStage(*result.movie, player.Stage(), QSize(200, 150));
        const QColor expected = colors[std::size_t(frame)];
        for (auto [x, y] : {std::pair{42, 32}, {100, 75}, {166, 124}})
            EXPECT_TRUE(Near(image, x, y, expected)) << "frame " << frame;
        EXPECT_TRUE(Near(image, 37, 75, White, 0)) << "left of the video, frame " << frame;
        EXPECT_TRUE(Near(image, 100, 128, White, 0)) << "below the video, frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Video, VideoCodecs,
                         ::testing::Values(CodecCase{"SorensonH263", VideoStream::SorensonH263, false},
                                           CodecCase{"ScreenVideo", VideoStream::ScreenVideo, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// One stream placed twice, each placement at its own frame, both moving on.
TEST(Video, TwoPlacementsShowTheirOwnFrames) {
    const std::vector<QColor> colors = {Red, Blue, Green, White, Red};
    const std::vector<QByteArray> frames =
        EncodeVideoFrames(VideoStream::SorensonH263, colors, Width, Height);
    ASSERT_EQ(frames.size(), colors.size());
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 3000}).Add(DefineVideoStreamTag(1, Stream(VideoStream::SorensonH263, frames)));
    for (std::uint16_t i = 0; i < frames.size(); ++i)
        movie.Add(VideoFrameTag(1, i, frames[i]));
    for (std::uint16_t step = 0; step < 3; ++step) {
        for (std::uint16_t depth : {1, 2}) {
            PlaceObject place = step == 0 ? Place(1, depth) : PlaceObject{};
            place.depth = depth;
            place.version = 2;
            place.move = step != 0;
            if (step == 0)
                place.matrix = Matrix{1, 0, 0, 1, depth == 1 ? 0.0 : 100 * 20, 0};
            place.ratio = std::uint16_t(step + (depth == 1 ? 0 : 2));
            movie.Add(PlaceObjectTag(place));
        }
        movie.Add(ShowFrame());
    }
    const ReadResult result = ReadMovie(movie.Build());
    ASSERT_TRUE(result.movie) << result.error.toStdString();
    Player player(result.movie);
    Renderer renderer;
    for (int step : {0, 1, 2, 0}) {
        player.GotoFrame(step);
        const QImage image = renderer.RenderStage(*result.movie, player.Stage(), QSize(200, 150));
        EXPECT_TRUE(Near(image, 30, 20, colors[std::size_t(step)])) << "first, step " << step;
        EXPECT_TRUE(Near(image, 130, 20, colors[std::size_t(step + 2)])) << "second, step " << step;
    }
}

TEST(Video, StreamAndFramesRoundTripThroughTheReader) {
    VideoStream video = Stream(VideoStream::Vp6Alpha, {"key", "", "third"});
    video.frames.erase(1);
    video.numFrames = 9;
    video.deblocking = 2;
    video.smoothing = true;
    const QByteArray file = MovieBuilder()
                                .Add(VideoFrameTag(1, 0, "before its stream"))
                                .Add(DefineVideoStreamTag(1, video))
                                .Add(VideoFrameTag(1, 0, "key"))
                                .Add(VideoFrameTag(1, 0, "again"))
                                .Add(ShowFrame())
                                .Add(VideoFrameTag(1, 2, "third"))
                                .Add(ShowFrame())
                                .Build();
    const ReadResult result = ReadMovie(file);
    ASSERT_TRUE(result.movie);
    const auto found = result.movie->dictionary.find(1);
    ASSERT_NE(found, result.movie->dictionary.end());
    ASSERT_TRUE(std::holds_alternative<VideoStream>(*found->second));
    EXPECT_EQ(std::get<VideoStream>(*found->second), video);
    // A frame of no stream known yet stays in its frame's tags.
    ASSERT_EQ(result.movie->timeline.frames.size(), 2u);
    EXPECT_EQ(result.movie->timeline.frames[0].tags.size(), 1u);
    EXPECT_TRUE(result.movie->timeline.frames[1].tags.empty());
}

// Nothing is drawn and nothing breaks for data no decoder makes sense of.
TEST(Video, DamagedOrUnknownVideoDrawsNothing) {
    const std::vector<QByteArray> good =
        EncodeVideoFrames(VideoStream::SorensonH263, {Red, Blue}, Width, Height);
    ASSERT_EQ(good.size(), 2u);
    const QByteArray noise = QByteArray::fromHex("0000840102030405060708090a0b0c0d0e0f");
    struct Case {
        const char* name;
        std::uint8_t codecId;
        std::vector<QByteArray> frames;
    };
    const Case cases[] = {
        {"unknown codec", 9, good},
        {"noise", VideoStream::SorensonH263, {noise, noise}},
        {"truncated", VideoStream::SorensonH263, {good[0].left(6), good[1]}},
        {"huge picture claimed",
         VideoStream::SorensonH263,
         {QByteArray::fromHex("000084000fffffff"), good[1]}},
        {"empty", VideoStream::SorensonH263, {QByteArray(), QByteArray()}},
        {"vp6 noise", VideoStream::Vp6, {noise, noise}},
        {"vp6 alpha noise", VideoStream::Vp6Alpha, {QByteArray::fromHex("ffffff00"), noise}},
        {"screen noise", VideoStream::ScreenVideo, {noise, noise}},
        {"screen 2 noise", VideoStream::ScreenVideo2, {noise, noise}},
    };
    for (const Case& c : cases) {
        const ReadResult result = ReadMovie(VideoMovie(Stream(c.codecId, c.frames)));
        ASSERT_TRUE(result.movie) << c.name;
        Player player(result.movie);
        Renderer renderer;
        for (int frame : {0, 1, 0}) {
            player.GotoFrame(frame);
            const QImage image = renderer.RenderStage(*result.movie, player.Stage(), QSize(200, 150));
            EXPECT_FALSE(image.isNull()) << c.name;
        }
    }
}

} // namespace
