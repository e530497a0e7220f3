#include "flash/player/ClipLoading.h"

#include "flash/swf/TagCodes.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <map>

namespace flash {

namespace {

using IdMap = std::map<std::uint16_t, std::uint16_t>;

// 0 leads nowhere: the loaded movie never defined the id.
std::uint16_t Renumber(const IdMap& ids, std::uint16_t id) {
    const auto found = ids.find(id);
    return found == ids.end() ? 0 : found->second;
}

void RenumberFill(const IdMap& ids, FillStyle& fill) {
    if (FillStyle::IsBitmapFill(fill.type))
        fill.bitmapId = Renumber(ids, fill.bitmapId);
}

void RenumberStyles(const IdMap& ids, std::vector<FillStyle>& fills, std::vector<LineStyle>& lines) {
    for (FillStyle& fill : fills)
        RenumberFill(ids, fill);
    for (LineStyle& line : lines)
        if (line.fill)
            RenumberFill(ids, *line.fill);
}

void RenumberTimeline(const IdMap& ids, Timeline& timeline) {
    for (Frame& frame : timeline.frames)
        for (ControlTag& tag : frame.tags) {
            if (auto* place = std::get_if<PlaceObject>(&tag); place && place->characterId)
                place->characterId = Renumber(ids, *place->characterId);
            else if (auto* start = std::get_if<StartSound>(&tag))
                start->soundId = Renumber(ids, start->soundId);
            else if (auto* other = std::get_if<OtherTag>(&tag);
                     other && other->code == tag::DoInitAction && other->data.size() >= 2) {
                // The sprite id its init actions belong to, low byte first.
                const std::uint16_t id =
                    Renumber(ids, std::uint8_t(other->data[0]) | std::uint8_t(other->data[1]) << 8);
                other->data[0] = char(id & 0xFF);
                other->data[1] = char(id >> 8);
            }
        }
}

Character Renumbered(const IdMap& ids, Character character) {
    std::visit(
        [&ids](auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, Shape>) {
                RenumberStyles(ids, value.fillStyles, value.lineStyles);
            } else if constexpr (std::is_same_v<T, MorphShape>) {
                RenumberStyles(ids, value.startFillStyles, value.startLineStyles);
                RenumberStyles(ids, value.endFillStyles, value.endLineStyles);
            } else if constexpr (std::is_same_v<T, Sprite>) {
                RenumberTimeline(ids, value.timeline);
            } else if constexpr (std::is_same_v<T, StaticText>) {
                for (TextRecord& record : value.records)
                    record.fontId = Renumber(ids, record.fontId);
            } else if constexpr (std::is_same_v<T, EditText>) {
                if (value.fontId)
                    value.fontId = Renumber(ids, *value.fontId);
            } else if constexpr (std::is_same_v<T, Button>) {
                for (ButtonRecord& record : value.records)
                    record.characterId = Renumber(ids, record.characterId);
                for (ButtonSound& sound : value.sounds)
                    sound.soundId = Renumber(ids, sound.soundId);
            }
        },
        character);
    return character;
}

} // namespace

MovieAddress LocalMovieFile(const QString& playedFile, const QString& address) {
    static const QRegularExpression Scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    if (playedFile.isEmpty())
        return {{}, QStringLiteral("the movie was not read from a file")};
    QString path = address.section(u'?', 0, 0).section(u'#', 0, 0);
    path.replace(u'\\', u'/');
    if (path.isEmpty())
        return {{}, QStringLiteral("no file named")};
    if (Scheme.match(path).hasMatch() || path.startsWith(u'/'))
        return {{}, QStringLiteral("only files next to the movie are loaded")};
    const QDir folder = QFileInfo(playedFile).absoluteDir();
    const QString base = folder.canonicalPath();
    const QString file = QFileInfo(folder.filePath(path)).canonicalFilePath();
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return {{}, QStringLiteral("no such file")};
    if (base.isEmpty() || !file.startsWith(base + u'/'))
        return {{}, QStringLiteral("only files next to the movie are loaded")};
    return {file, {}};
}

std::optional<ImportedMovie> ImportMovie(const Movie& library, const Movie& loaded, QString& error) {
    // New ids from the top down, past every id the library uses; 0 stays for "nothing".
    IdMap ids;
    std::uint16_t next = 0xFFFF;
    const auto take = [&]() -> std::optional<std::uint16_t> {
        while (next > 0 && library.dictionary.count(next))
            --next;
        if (next == 0)
            return std::nullopt;
        return next--;
    };
    for (const auto& [id, character] : loaded.dictionary) {
        const auto fresh = take();
        if (!fresh) {
            error = QStringLiteral("the movie holds more characters than are free");
            return std::nullopt;
        }
        ids[id] = *fresh;
    }
    const auto rootId = take();
    if (!rootId) {
        error = QStringLiteral("the movie holds more characters than are free");
        return std::nullopt;
    }
    auto merged = std::make_shared<Movie>(library);
    for (const auto& [id, character] : loaded.dictionary)
        if (character)
            merged->dictionary[ids.at(id)] = std::make_shared<const Character>(Renumbered(ids, *character));
    Sprite root;
    root.timeline = loaded.timeline;
    RenumberTimeline(ids, root.timeline);
    auto rootCharacter = std::make_shared<const Character>(std::move(root));
    merged->dictionary[*rootId] = rootCharacter;
    for (const auto& [name, id] : loaded.exports)
        if (const auto found = ids.find(id); found != ids.end())
            merged->exports.try_emplace(name, found->second);
    return ImportedMovie{std::move(merged), std::move(rootCharacter), *rootId};
}

} // namespace flash
