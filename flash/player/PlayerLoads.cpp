// The player's side of loading: movies and variables scripts asked for, read from files next to
// the played movie once the timelines moved on. A movie's characters join the library once per
// file; its main timeline replaces the content of the clip it loads into (the clip keeps its
// placement and its onClipEvent handlers, loses what scripts gave it), or becomes a level drawn
// over the main movie. Loaders hear onLoadStart, onLoadProgress and onLoadComplete, the loaded
// movie runs its first frame, then they hear onLoadInit; a refused load traces why and they hear
// onLoadError. Loading into level 0 (replacing the played movie) is refused.
#include "flash/player/Player.h"

#include "flash/media/SoundMixer.h"
#include "flash/swf/SwfReader.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace flash {

namespace {

// A variables file larger than this is not read: far past what movies load as settings.
constexpr qint64 MaxVariablesFileBytes = 1 << 20;

int Nesting(ScriptHost& host, const ClipRef& clip) {
    int nesting = 0;
    for (ClipRef at = clip; at.Valid() && !at.root && nesting <= MaxFindNesting; at = host.Parent(at))
        ++nesting;
    return nesting;
}

} // namespace

void Player::LoadRequestedMovies() {
    const std::vector<ScriptHost::LoadRequest> requests = host.TakeLoadRequests();
    if (requests.empty())
        return;
    long long budget = ActionInterpreter::StepsPerFrame;
    struct Done {
        int number;
        ClipRef clip;
    };
    std::vector<Done> loaded;
    for (const ScriptHost::LoadRequest& request : requests) {
        const ClipRef target = request.level >= 0 ? host.Level(request.level) : request.target;
        const auto refuse = [&](const QString& reason) {
            host.Trace(QStringLiteral("Error opening URL \"%1\": %2").arg(request.address, reason));
            interpreter.LoadEvent(
                request.number, QStringLiteral("onLoadError"),
                {target.Valid() ? ActionValue(target) : ActionValue{}, QStringLiteral("URLNotFound"), 0.0},
                budget);
            interpreter.LoadFinished(request.number);
        };
        if (request.kind == ScriptHost::LoadKind::Unload) {
            if (request.level > 0) {
                if (const auto found = state.stage.find(std::uint16_t(ScriptHost::LevelKey(request.level)));
                    found != state.stage.end())
                    Remove(state.stage, found);
            } else if (DisplayObject* object = host.PlacementOf(request.target); object && object->sprite) {
                ReplaceContent(*object, host.EmptySprite());
            }
            interpreter.LoadFinished(request.number);
            continue;
        }
        const MovieAddress address = LocalMovieFile(state.movie->fileName, request.address);
        if (!address.error.isEmpty()) {
            refuse(address.error);
            continue;
        }
        if (request.kind == ScriptHost::LoadKind::Variables) {
            if (!target.Valid()) {
                refuse(QStringLiteral("no clip to load into"));
                continue;
            }
            LoadVariables(target, address.file);
            interpreter.LoadFinished(request.number);
            continue;
        }
        if (request.level == 0 || (request.level < 0 && request.target.root)) {
            refuse(QStringLiteral("the played movie is not replaced"));
            continue;
        }
        if (request.level < 0 && Nesting(host, request.target) > MaxLoadNesting) {
            refuse(QStringLiteral("loaded movies nest deeper than %1").arg(MaxLoadNesting));
            continue;
        }
        QString error;
        const ImportedMovie* movie = Imported(address.file, error);
        if (!movie) {
            refuse(error);
            continue;
        }
        DisplayObject* object = LoadTarget(request);
        if (!object || !object->sprite) {
            refuse(QStringLiteral("no clip to load into"));
            continue;
        }
        if (request.level > 0)
            object->characterId = movie->rootId;
        ReplaceContent(*object, movie->root);
        QueueClipEvent(*object, ClipEventData, 0);
        const ClipRef clip = SpriteClip(object->sprite);
        interpreter.Loaded(clip, movie->fileBytes);
        interpreter.LoadEvent(request.number, QStringLiteral("onLoadStart"), {clip}, budget);
        interpreter.LoadEvent(request.number, QStringLiteral("onLoadProgress"),
                              {clip, movie->fileBytes, movie->fileBytes}, budget);
        interpreter.LoadEvent(request.number, QStringLiteral("onLoadComplete"), {clip, 0.0}, budget);
        loaded.push_back({request.number, clip});
    }
    RunScripts();
    for (const Done& done : loaded) {
        interpreter.LoadEvent(done.number, QStringLiteral("onLoadInit"), {done.clip}, budget);
        interpreter.LoadFinished(done.number);
    }
}

DisplayObject* Player::LoadTarget(const ScriptHost::LoadRequest& request) {
    if (request.level < 0)
        return host.PlacementOf(request.target);
    const std::uint16_t key = std::uint16_t(ScriptHost::LevelKey(request.level));
    DisplayObject& level = state.stage[key];
    if (!level.sprite) {
        level.depth = key;
        level.duplicate = true;
        level.character = host.EmptySprite();
        level.sprite = state.NewSprite(&std::get<Sprite>(*level.character));
    }
    return &level;
}

const ImportedMovie* Player::Imported(const QString& file, QString& error) {
    if (const auto found = loadedMovies.find(file); found != loadedMovies.end())
        return &found->second;
    if (loadedMovies.size() >= MaxLoadedMovies) {
        error = QStringLiteral("more than %1 movies loaded").arg(MaxLoadedMovies);
        return nullptr;
    }
    const ReadResult read = ReadMovieFile(file);
    if (!read.movie) {
        error = read.error;
        return nullptr;
    }
    if (!read.movie->abcFiles.empty()) {
        error = QStringLiteral("an ActionScript 3 movie is not loaded into this one");
        return nullptr;
    }
    auto imported = ImportMovie(*state.movie, *read.movie, error);
    if (!imported)
        return nullptr;
    imported->fileBytes = double(QFileInfo(file).size());
    // The library grows; whoever draws from the former one may still hold it.
    formerLibraries.push_back(state.movie);
    state.movie = imported->library;
    return &loadedMovies.emplace(file, std::move(*imported)).first->second;
}

void Player::ReplaceContent(DisplayObject& object, const std::shared_ptr<const Character>& character) {
    SpriteInstance& sprite = *object.sprite;
    for (const auto& [depth, child] : sprite.displayList)
        Leave(child);
    sprite.displayList.clear();
    QueueClipEvent(object, ClipEventUnload, 0);
    if (state.mixer)
        state.mixer->StopStream(&sprite);
    object.character = character;
    sprite.sprite = &std::get<Sprite>(*character);
    sprite.currentFrame = -1;
    sprite.playing = true;
    interpreter.ForgetVariables(SpriteClip(object.sprite));
    QueueClipEvent(object, ClipEventLoad, 0);
    AdvanceSprite(sprite, true);
}

// name=value pairs joined by &, URL-encoded, as variables of the clip; then its data event.
void Player::LoadVariables(const ClipRef& clip, const QString& file) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly) || input.size() > MaxVariablesFileBytes)
        return;
    const QByteArray text = input.readAll().trimmed();
    std::size_t count = 0;
    for (const QByteArray& pair : text.split('&')) {
        if (pair.isEmpty() || ++count > ActionInterpreter::MaxVariables)
            break;
        const qsizetype equals = pair.indexOf('=');
        const auto decode = [](QByteArray part) { return QUrl::fromPercentEncoding(part.replace('+', ' ')); };
        const QString name = decode(equals < 0 ? pair : pair.left(equals));
        if (!name.isEmpty())
            interpreter.SetVariable(clip, name, decode(equals < 0 ? QByteArray() : pair.mid(equals + 1)));
    }
    if (DisplayObject* object = host.PlacementOf(clip))
        QueueClipEvent(*object, ClipEventData, 0);
    const QString onData = QStringLiteral("onData");
    if (interpreter.HasHandler(clip, onData))
        Enqueue({clip, {}, onData});
}

} // namespace flash
