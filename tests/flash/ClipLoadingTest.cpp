// Movies and variables loaded from files next to the played movie: into clips and levels, with
// MovieClipLoader's events, the data event, refusals of anything but a file in the movie's folder,
// and a movie that loads itself over and over; checked by trace() lines and pixels.
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr std::uint16_t BoxShape = 1, HolderSprite = 10;

QByteArray A(const QString& source) {
    return Assemble(source);
}

// object.member = function (params) { body }, the object by its variable name.
QByteArray SetMethod(const QString& object, const QString& member, const QStringList& params,
                     const QByteArray& body) {
    return A(QStringLiteral("'%1' GetVariable '%2'").arg(object, member)) + DefineFunction({}, params, body) +
           A("SetMember");
}

QByteArray Box(std::uint16_t id, const Rgba& color, int size) {
    return DefineShape(ShapeDefinition()
                           .Id(id)
                           .Bounds({0, size, 0, size})
                           .Fills({Solid(color)})
                           .Records(ShapeRecords().Fill0(1).Box(0, 0, size, size)));
}

// The played movie (200 x 200 px, a red box in its corner): "holder", an empty sprite whose
// placement runs `onData` on its data event; the script runs on the first frame, then `later` on
// the second, which stops there.
QByteArray HostMovie(const QByteArray& script, const QByteArray& later = {}, const QByteArray& onData = {}) {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 4000});
    movie.Add(Box(BoxShape, {255, 0, 0, 255}, 1000));
    movie.Add(DefineSprite(HolderSprite, 1, ShowFrame()));
    movie.Add(PlaceObjectTag(Place(BoxShape, 1)));
    PlaceObject holder = Place(HolderSprite, 2);
    holder.name = QStringLiteral("holder");
    if (!onData.isEmpty())
        holder.clipActions = {{ClipEventData, 0, onData + QByteArray(1, 0)}};
    movie.Add(PlaceObjectTag(holder));
    movie.Add(Tag(12, script + QByteArray(1, 0)));
    movie.Add(ShowFrame());
    movie.Add(Tag(12, later + A("0 'stop' CallFunction Pop") + QByteArray(1, 0)));
    movie.Add(ShowFrame());
    return movie.Build();
}

// A movie to load: a green box over the whole stage, and two frames, the first tracing
// "child" and its _target.
QByteArray ChildMovie() {
    MovieBuilder movie;
    movie.Stage({0, 4000, 0, 4000});
    movie.Add(Box(1, {0, 255, 0, 255}, 4000));
    movie.Add(PlaceObjectTag(Place(1, 1)));
    movie.Add(Tag(12, A("'child ' 'this' GetVariable '_target' GetMember Add2 Trace") + QByteArray(1, 0)));
    movie.Add(ShowFrame());
    movie.Add(ShowFrame());
    return movie.Build();
}

// A folder with the played movie in movies/, next to child.swf, sub/child.swf and vars.txt, and
// outside.swf above it; the movie made from the folder's path.
struct Session {
    QTemporaryDir dir;
    QString movies = dir.filePath(QStringLiteral("movies"));
    std::unique_ptr<Player> player;
    QStringList lines;

    explicit Session(const std::function<QByteArray(const QString& movies)>& host) {
        QDir().mkpath(movies + QStringLiteral("/sub"));
        Write(QStringLiteral("movies/child.swf"), ChildMovie());
        Write(QStringLiteral("movies/sub/child.swf"), ChildMovie());
        Write(QStringLiteral("outside.swf"), ChildMovie());
        Write(QStringLiteral("movies/vars.txt"), "a=1&b=two+words%21\n");
        Write(QStringLiteral("movies/host.swf"), host(movies));
        const ReadResult read = ReadMovieFile(movies + QStringLiteral("/host.swf"));
        EXPECT_TRUE(read.movie) << read.error.toStdString();
        if (read.movie)
            player =
                std::make_unique<Player>(read.movie, nullptr, [this](const QString& line) { lines << line; });
    }
    explicit Session(const QByteArray& host) : Session([host](const QString&) { return host; }) {}
    void Write(const QString& path, const QByteArray& bytes) {
        QFile file(dir.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // The lines printed by the first frame and the ticks after it, since the last call.
    QStringList After(int ticks) {
        for (int i = 0; i < ticks && player; ++i)
            player->Tick();
        return std::exchange(lines, {});
    }
    QRgb Pixel(int x, int y) {
        Renderer renderer;
        return renderer.RenderStage(player->GetMovie(), player->Stage(), QSize(200, 200)).pixel(x, y);
    }
};

QByteArray LoadMovie(const QString& address, const QString& target) {
    return A(QStringLiteral("'%1' '%2' 2 'loadMovie' CallFunction Pop").arg(target, address));
}

} // namespace

TEST(ClipLoading, MovieLoadsIntoAClipWithTheLoadersEvents) {
    const QByteArray script =
        A("'o' 0 InitObject SetVariable 'l' 0 'MovieClipLoader' NewObject SetVariable") +
        SetMethod("o", "onLoadStart", {"t"}, A("'start ' 't' GetVariable '_name' GetMember Add2 Trace")) +
        SetMethod("o", "onLoadProgress", {"t", "n", "m"},
                  A("'n' GetVariable 0 Greater Trace 'n' GetVariable 'm' GetVariable Equals2 Trace")) +
        SetMethod("o", "onLoadComplete", {"t"}, A("'complete' Trace")) +
        SetMethod(
            "o", "onLoadInit", {"t"},
            A("'init ' 't' GetVariable '_totalframes' GetMember Add2 Trace "
              "'t' GetVariable 1 'l' GetVariable 'getProgress' CallMethod 'bytesTotal' GetMember 0 Greater "
              "Trace")) +
        SetMethod("o", "onLoadError", {"t", "e"}, A("'error ' 'e' GetVariable Add2 Trace")) +
        A("'o' GetVariable 1 'l' GetVariable 'addListener' CallMethod Pop "
          "'holder' 'child.swf' 2 'l' GetVariable 'loadClip' CallMethod Trace "
          "'holder' 'sub/../missing.swf' 2 'l' GetVariable 'loadClip' CallMethod Pop");
    Session run(HostMovie(script, {}, A("'data' Trace")));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.After(0), QStringList{"true"}) << "nothing loads before the next frame";
    EXPECT_EQ(run.After(1), (QStringList{"start holder", "true", "true", "complete",
                                         "Error opening URL \"sub/../missing.swf\": no such file",
                                         "error URLNotFound", "child /holder", "data", "init 2", "true"}));
    EXPECT_EQ(run.Pixel(150, 150), qRgb(0, 255, 0)) << "the child's box shows in the clip";
}

TEST(ClipLoading, OnlyFilesInTheMoviesFolderLoad) {
    const QString refused = QStringLiteral("only files next to the movie are loaded");
    const struct {
        QString address;
        QString line; // the start of the one line traced
    } cases[] = {
        {"sub/child.swf", "child /holder"},
        {"child.swf?x=1", "child /holder"},
        {"sub\\child.swf", "child /holder"},
        {"http://example.com/child.swf", refused},
        {"file:///tmp/child.swf", refused},
        {"../outside.swf", refused},
        {"sub/../../outside.swf", refused},
        {"{movies}/child.swf", refused},
        {"vars.txt", "Error opening URL \"vars.txt\": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        Session run([&c](const QString& movies) {
            return HostMovie(
                LoadMovie(QString(c.address).replace(QStringLiteral("{movies}"), movies), "holder"));
        });
        ASSERT_TRUE(run.player);
        const QStringList lines = run.After(1);
        ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
        EXPECT_TRUE(lines.front().startsWith(c.line) ||
                    (c.line == refused && lines.front().endsWith(refused)))
            << lines.front().toStdString();
    }
}

TEST(ClipLoading, LevelsDrawOverTheMovieUntilUnloaded) {
    Session run(HostMovie(
        A("2 'child.swf' 2 'loadMovieNum' CallFunction Pop"),
        A("'_level2' GetVariable '_target' GetMember Trace 2 1 'unloadMovieNum' CallFunction Pop")));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.Pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(run.After(1), (QStringList{"_level2", "child _level2"}));
    EXPECT_EQ(run.Pixel(10, 10), qRgb(0, 255, 0)) << "level 2 covers level 0";
    run.After(1);
    EXPECT_EQ(run.Pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(run.Pixel(150, 150), qRgb(255, 255, 255));
}

TEST(ClipLoading, VariablesArriveWithTheDataEvent) {
    Session run(HostMovie(A("'holder' 'vars.txt' 2 'loadVariables' CallFunction Pop"), {},
                          A("'data ' 'a' GetVariable Add2 ' ' Add2 'b' GetVariable Add2 Trace")));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.After(1), QStringList{"data 1 two words!"});
}

TEST(ClipLoading, AMovieLoadingItselfStaysBounded) {
    // Each copy loads the movie again into its own holder, one level deeper every frame.
    Session run(HostMovie(A("'copy' Trace") + LoadMovie("host.swf", "holder")));
    ASSERT_TRUE(run.player);
    const QStringList lines = run.After(Player::MaxLoadNesting + 4);
    EXPECT_EQ(lines.count(QStringLiteral("copy")), Player::MaxLoadNesting + 1);
    EXPECT_EQ(lines.filter(QStringLiteral("nest deeper")).size(), 1);
    EXPECT_EQ(run.After(10), QStringList{});
}
