// The timeline: what is on stage at each frame, sprites on their own clocks, and seeking that lands
// exactly where playing does.
#include "flash/player/Player.h"
#include "flash/media/SoundMixer.h"

#include <gtest/gtest.h>
#include <random>

using namespace flash;

namespace {
std::shared_ptr<const Character> ShapeCharacter() {
    return std::make_shared<const Character>(Shape{});
}

PlaceObject Place(std::uint16_t Depth, std::uint16_t Id, double X = 0) {
    PlaceObject place;
    place.depth = Depth;
    place.characterId = Id;
    place.matrix = Matrix{1, 0, 0, 1, X, 0};
    place.version = 2;
    return place;
}

PlaceObject Move(std::uint16_t Depth, double X) {
    PlaceObject move;
    move.depth = Depth;
    move.move = true;
    move.matrix = Matrix{1, 0, 0, 1, X, 0};
    move.version = 2;
    return move;
}

// What the stage shows, flattened for comparison: depth, character, x, and sprites' frames.
std::string Describe(const DisplayList& List) {
    std::string text;
    for (const auto& [depth, object] : List) {
        text += std::to_string(depth) + ":" + std::to_string(object.characterId) + "@" +
                std::to_string(int(object.matrix.tx));
        if (object.sprite)
            text += "[f" + std::to_string(object.sprite->currentFrame) + " " +
                    Describe(object.sprite->displayList) + "]";
        text += " ";
    }
    return text;
}

// A sprite (id 10) whose 3 frames move a shape (id 1) along, placed at frame 1 of a 6-frame movie
// that also moves and removes a shape of its own.
std::shared_ptr<Movie> SampleMovie() {
    auto movie = std::make_shared<Movie>();
    movie->frameRate = 12;
    movie->dictionary[1] = ShapeCharacter();
    movie->dictionary[2] = ShapeCharacter();
    Sprite sprite;
    sprite.timeline.frameCount = 3;
    sprite.timeline.frames = {Frame{{Place(1, 1, 0)}}, Frame{{Move(1, 20)}}, Frame{{Move(1, 40)}}};
    movie->dictionary[10] = std::make_shared<const Character>(sprite);
    movie->timeline.frameCount = 6;
    movie->timeline.frames = {
        Frame{{Place(1, 2, 100)}}, Frame{{Place(2, 10, 0)}},  Frame{{Move(1, 200)}},
        Frame{{RemoveObject{1}}},  Frame{{Place(1, 1, 300)}}, Frame{},
    };
    return movie;
}
} // namespace

TEST(Player, FramesBuildTheStageAndLoop) {
    Player player(SampleMovie());
    EXPECT_EQ(player.TotalFrames(), 6);
    EXPECT_EQ(player.CurrentFrame(), 0);
    EXPECT_EQ(Describe(player.Stage()), "1:2@100 ");
    player.Tick();
    EXPECT_EQ(Describe(player.Stage()), "1:2@100 2:10@0[f0 1:1@0 ] ");
    player.Tick();
    EXPECT_EQ(Describe(player.Stage()), "1:2@200 2:10@0[f1 1:1@20 ] ");
    player.Tick();
    EXPECT_EQ(Describe(player.Stage()), "2:10@0[f2 1:1@40 ] ");
    player.Tick();
    EXPECT_EQ(Describe(player.Stage()), "1:1@300 2:10@0[f0 1:1@0 ] "); // the sprite looped
    player.Tick();
    player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 0); // the movie looped: only frame 0's objects remain
    EXPECT_EQ(Describe(player.Stage()), "1:2@100 ");
}

TEST(Player, StoppedMovieKeepsItsFrameButSpritesRunOn) {
    Player player(SampleMovie());
    player.Tick();
    player.Stop();
    EXPECT_FALSE(player.Playing());
    player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 1);
    EXPECT_EQ(Describe(player.Stage()), "1:2@100 2:10@0[f1 1:1@20 ] ");
    player.GotoFrame(4);
    EXPECT_EQ(player.CurrentFrame(), 4);
    EXPECT_FALSE(player.Playing());
    player.GotoFrame(-1); // clamped to the first frame
    EXPECT_EQ(player.CurrentFrame(), 0);
    player.GotoFrame(99);
    EXPECT_EQ(player.CurrentFrame(), 5);
    player.Play();
    player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 0);
}

TEST(Player, SeekingLandsWhereAPlayedMovieIs) {
    const auto movie = SampleMovie();
    std::vector<std::string> played;
    {
        Player player(movie);
        for (int frame = 0; frame < 6; ++frame) {
            played.push_back(Describe(player.Stage()));
            player.Tick();
        }
    }
    std::mt19937 random(5);
    Player seeker(movie);
    seeker.Stop();
    for (int i = 0; i < 40; ++i) {
        const int frame = int(random() % 6);
        seeker.GotoFrame(frame);
        EXPECT_EQ(Describe(seeker.Stage()), played[std::size_t(frame)]) << "frame " << frame;
    }
}

TEST(Player, MovesAndReplacementsFollowTheTags) {
    auto movie = std::make_shared<Movie>();
    movie->dictionary[1] = ShapeCharacter();
    movie->dictionary[2] = ShapeCharacter();
    PlaceObject replace = Move(1, 50);
    replace.characterId = 2;
    PlaceObject moveNothing = Move(7, 10);
    PlaceObject unknown = Place(3, 99, 5); // a character the file lacks
    movie->timeline.frameCount = 3;
    movie->timeline.frames = {Frame{{Place(1, 1, 10), moveNothing, unknown}}, Frame{{replace}}, Frame{}};
    Player player(movie);
    EXPECT_EQ(Describe(player.Stage()), "1:1@10 3:99@5 ");
    EXPECT_EQ(player.Stage().at(3).character, nullptr);
    player.Tick();
    EXPECT_EQ(Describe(player.Stage()), "1:2@50 3:99@5 ");
}

TEST(Player, EmptyAndOneFrameMovies) {
    auto empty = std::make_shared<Movie>();
    Player none(empty);
    EXPECT_EQ(none.TotalFrames(), 0);
    none.Tick();
    none.GotoFrame(3);
    EXPECT_TRUE(none.Stage().empty());

    auto single = SampleMovie();
    single->timeline.frameCount = 1;
    single->timeline.frames.resize(1);
    Player one(single);
    one.Tick();
    EXPECT_EQ(one.CurrentFrame(), 0);
}

// A stream sound tells the frame it has reached by what the mix has played of it, so the control can
// pull the pictures along when the sound gets ahead.
TEST(Player, StreamFrameFollowsThePlayedSound) {
    auto movie = std::make_shared<Movie>();
    movie->frameRate = 12;
    SoundStreamHead head;
    head.streamFormat = head.playbackFormat = SoundFormat{3, 3, true, false};
    head.samplesPerBlock = 44100 / 12;
    movie->timeline.streamHead = head;
    movie->timeline.frameCount = 24;
    for (int frame = 0; frame < 24; ++frame)
        movie->timeline.frames.push_back(
            Frame{{SoundStreamBlock{QByteArray(int(head.samplesPerBlock) * 2, char(frame))}}});

    SoundMixer mixer;
    Player player(movie, &mixer);
    EXPECT_EQ(player.StreamFrame(), 0) << "the stream begins with the first frame";
    for (int tick = 0; tick < 12; ++tick)
        player.Tick();
    std::vector<std::int16_t> mix(2 * 44100 / 2);
    mixer.Render(mix.data(), 44100 / 2); // half a second of sound played: six frames' worth
    EXPECT_EQ(player.StreamFrame(), 6);
    mixer.Render(mix.data(), 44100 / 2);
    EXPECT_EQ(player.StreamFrame(), 12) << "a whole second";

    player.Stop();
    EXPECT_EQ(player.StreamFrame(), -1) << "a stopped movie's stream leads nothing";
}
