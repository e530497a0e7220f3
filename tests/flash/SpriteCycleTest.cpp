// Sprites that place themselves, directly or through others, and sprites nested very deep: the
// placement that would close a cycle is skipped, the reader and the player say so once, and the movie
// plays, seeks and draws.
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr std::uint16_t ShapeId = 1;

QByteArray RedSquare() {
    return DefineShape(ShapeDefinition()
                           .Id(ShapeId)
                           .Fills({Solid({220, 0, 0, 255})})
                           .Records(ShapeRecords().Fill0(1).Box(0, 0, 2000, 2000)));
}

// Sprite `id` of two frames placing each of `placed` (and the square), in order, at depths 1...
QByteArray SpritePlacing(std::uint16_t id, const std::vector<std::uint16_t>& placed) {
    QByteArray tags = PlaceObjectTag(Place(ShapeId, 100));
    std::uint16_t depth = 1;
    for (const std::uint16_t child : placed)
        tags += PlaceObjectTag(Place(child, depth++));
    return DefineSprite(id, 2, tags + ShowFrame() + ShowFrame());
}

// Sprite id 2 on the main timeline of a movie that defines `sprites` (in the order given).
QByteArray MovieWith(const std::vector<QByteArray>& sprites) {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 4000}).Add(RedSquare());
    for (const QByteArray& sprite : sprites)
        movie.Add(sprite);
    movie.Add(PlaceObjectTag(Place(2, 1))).Add(ShowFrame()).Add(ShowFrame()).Add(ShowFrame());
    return movie.Build();
}

int Nesting(const DisplayList& list) {
    int deepest = 0;
    for (const auto& [depth, object] : list)
        if (object.sprite)
            deepest = std::max(deepest, 1 + Nesting(object.sprite->displayList));
    return deepest;
}

struct Case {
    const char* name;
    QByteArray movie;
    bool cycle;
};

std::vector<Case> Cases() {
    std::vector<QByteArray> chain;
    constexpr int ChainLength = 300;
    for (int id = 2; id < 2 + ChainLength; ++id)
        chain.push_back(SpritePlacing(
            std::uint16_t(id), id + 1 < 2 + ChainLength ? std::vector<std::uint16_t>{std::uint16_t(id + 1)}
                                                        : std::vector<std::uint16_t>{}));
    return {
        {"itself", MovieWith({SpritePlacing(2, {2})}), true},
        {"a pair", MovieWith({SpritePlacing(2, {3}), SpritePlacing(3, {2})}), true},
        {"three", MovieWith({SpritePlacing(2, {3}), SpritePlacing(3, {4}), SpritePlacing(4, {2})}), true},
        {"a deep chain", MovieWith(chain), false},
    };
}

} // namespace

TEST(SpriteCycles, ThePlacementClosingACycleIsSkippedAndTheMoviePlays) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const ReadResult read = ReadMovie(c.movie);
        ASSERT_TRUE(read.movie) << read.error.toStdString();
        EXPECT_EQ(read.warnings.filter("inside itself").size(), c.cycle ? 1 : 0)
            << read.warnings.join("; ").toStdString();

        Player player(read.movie);
        for (int tick = 0; tick < 6; ++tick)
            player.Tick();
        player.GotoFrame(1);
        player.GotoFrame(0);
        EXPECT_LE(Nesting(player.Stage()), int(Player::MaxSpriteNesting));
        EXPECT_GE(Nesting(player.Stage()), c.cycle ? 1 : int(Player::MaxSpriteNesting));
        EXPECT_EQ(player.Warnings().filter(c.cycle ? "inside itself" : "nested deeper").size(), 1)
            << player.Warnings().join("; ").toStdString();

        // The square of the outermost sprite shows.
        Renderer renderer;
        const QImage image = renderer.RenderStage(*read.movie, player.Stage(), QSize(200, 200));
        EXPECT_EQ(QColor(image.pixel(50, 50)), QColor(220, 0, 0));
    }
}

TEST(SpriteCycles, AButtonStateHoldingItsOwnSpriteIsSkipped) {
    // Sprite 2 holds button 3, whose up state holds sprite 2.
    ButtonRecord record;
    record.states = ButtonRecord::Up | ButtonRecord::HitTest;
    record.characterId = 2;
    record.depth = 1;
    const QByteArray button = DefineButton2(3, {record}, {});
    const QByteArray movie = MovieWith({button, SpritePlacing(2, {3})});
    const ReadResult read = ReadMovie(movie);
    ASSERT_TRUE(read.movie) << read.error.toStdString();
    Player player(read.movie);
    for (int tick = 0; tick < 4; ++tick)
        player.Tick();
    EXPECT_EQ(player.Warnings().filter("inside itself").size(), 1);
    Renderer renderer;
    EXPECT_FALSE(renderer.RenderStage(*read.movie, player.Stage(), QSize(100, 100)).isNull());
}
