// Control tags (placing, removing, sounds, labels, background), exports and buttons.

#include "flash/swf/ReaderContext.h"

#include "flash/swf/FilterReader.h"

#include <algorithm>

namespace flash::reader {

bool Parser::ReadControl(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame) {
    ControlTag tag;
    switch (code) {
    case tag::PlaceObject:
    case tag::PlaceObject2:
    case tag::PlaceObject3: {
        PlaceObject place;
        if (!ReadPlaceObject(r, code == tag::PlaceObject ? 1 : code == tag::PlaceObject2 ? 2 : 3, place))
            return false;
        tag = std::move(place);
        break;
    }
    case tag::RemoveObject:
    case tag::RemoveObject2: {
        if (code == tag::RemoveObject)
            r.U16(); // the character id; the depth alone says what goes
        RemoveObject remove;
        remove.depth = r.U16();
        if (r.Overrun())
            return false;
        tag = remove;
        break;
    }
    case tag::StartSound:
    case tag::StartSound2: {
        StartSound start;
        if (code == tag::StartSound)
            start.soundId = r.U16();
        else
            start.className = Text(r.CString());
        if (!ReadSoundInfo(r, start.info))
            return false;
        tag = std::move(start);
        break;
    }
    case tag::SoundStreamHead:
    case tag::SoundStreamHead2: {
        SoundStreamHead head;
        const std::uint8_t playback = r.U8();
        const std::uint8_t stream = r.U8();
        head.playbackFormat.rateCode = (playback >> 2) & 3;
        head.playbackFormat.is16Bit = playback & 2;
        head.playbackFormat.stereo = playback & 1;
        head.streamFormat.codec = stream >> 4;
        head.streamFormat.rateCode = (stream >> 2) & 3;
        head.streamFormat.is16Bit = stream & 2;
        head.streamFormat.stereo = stream & 1;
        head.samplesPerBlock = r.U16();
        if (r.Overrun())
            return false;
        // Some encoders leave the MP3 seek out.
        if (head.streamFormat.codec == 2 && r.Remaining() >= 2)
            head.latencySeek = r.S16();
        timeline.streamHead = head;
        tag = head;
        break;
    }
    case tag::SoundStreamBlock:
        tag = SoundStreamBlock{r.Rest()};
        break;
    case tag::FrameLabel: {
        FrameLabel label;
        label.name = Text(r.CString());
        if (r.Overrun())
            return false;
        if (&timeline == &movie.timeline)
            movie.frameLabels.emplace(label.name, int(timeline.frames.size()));
        tag = std::move(label);
        break;
    }
    case tag::SetBackgroundColor: {
        SetBackgroundColor background;
        background.color = ReadRgb(r);
        if (r.Overrun())
            return false;
        if (&timeline == &movie.timeline && timeline.frames.empty())
            movie.backgroundColor = background.color;
        tag = background;
        break;
    }
    default:
        return true;
    }
    Push(frame.tags, std::move(tag));
    return true;
}

bool Parser::ReadSoundInfo(BitReader& r, SoundInfo& info) {
    const std::uint8_t flags = r.U8();
    info.syncStop = flags & 0x20;
    info.syncNoMultiple = flags & 0x10;
    if (flags & 0x01)
        info.inPoint = r.U32();
    if (flags & 0x02)
        info.outPoint = r.U32();
    if (flags & 0x04)
        info.loopCount = r.U16();
    if (flags & 0x08) {
        const std::size_t count = r.U8();
        if (r.Overrun() || count * 8 > r.Remaining() || !Room(0, count, sizeof(SoundEnvelopePoint)))
            return false;
        info.envelope.resize(count);
        for (SoundEnvelopePoint& point : info.envelope) {
            point.position44 = r.U32();
            point.leftLevel = r.U16();
            point.rightLevel = r.U16();
        }
    }
    return !r.Overrun();
}

// Linkage names scripts attach characters by; the first name given wins.
bool Parser::ReadExports(BitReader& r) {
    const std::size_t count = r.U16();
    for (std::size_t i = 0; i < count && !r.Overrun(); ++i) {
        const std::uint16_t id = r.U16();
        const QString name = Text(r.CString()).toLower();
        if (r.Overrun())
            return false;
        if (!Room(movie.exports.size(), 1, sizeof(std::uint16_t) + sizeof(QString) + name.size() * 2))
            return false;
        movie.exports.try_emplace(name, id);
    }
    return !r.Overrun();
}

bool Parser::ReadPlaceObject(BitReader& r, int version, PlaceObject& place) {
    place.version = version;
    if (version == 1) {
        place.characterId = r.U16();
        place.depth = r.U16();
        place.matrix = ReadMatrix(r);
        if (r.Remaining() > 0)
            place.colorTransform = ReadColorTransform(r, false);
        return !r.Overrun();
    }
    const std::uint8_t flags = r.U8();
    const std::uint8_t flags3 = version == 3 ? r.U8() : 0;
    place.move = flags & 0x01;
    place.depth = r.U16();
    const bool hasCharacter = flags & 0x02;
    if (flags3 & 0x08)
        r.CString(); // the ActionScript 3 class to make; nothing here runs scripts
    if (hasCharacter)
        place.characterId = r.U16();
    if (flags & 0x04)
        place.matrix = ReadMatrix(r);
    if (flags & 0x08)
        place.colorTransform = ReadColorTransform(r, true);
    if (flags & 0x10)
        place.ratio = r.U16();
    if (flags & 0x20)
        place.name = Text(r.CString());
    if (flags & 0x40)
        place.clipDepth = r.U16();
    if (flags3 & 0x01) {
        if (!ReadFilters(r, place.filters))
            return false;
    }
    if (r.Overrun())
        return false;
    // Encoders are known to end the tag before the last optional bytes.
    if ((flags3 & 0x02) && r.Remaining() >= 1)
        place.blendMode = r.U8();
    if ((flags3 & 0x04) && r.Remaining() >= 1)
        r.U8(); // cache as bitmap
    if ((flags3 & 0x20) && r.Remaining() >= 1)
        place.visible = r.U8() != 0;
    if ((flags3 & 0x40) && r.Remaining() >= 4)
        place.backgroundColor = ReadRgba(r);
    if ((flags & 0x80) && !ReadClipActions(r, place.clipActions)) {
        // The placement stands; its handlers are lost.
        place.clipActions.clear();
        Warn(QStringLiteral("clip actions"), QStringLiteral("damaged clip event handlers were skipped"));
    }
    return fatal.isEmpty();
}

// The handlers up to a zero event field; a list cut short by the tag's end keeps what came whole.
bool Parser::ReadClipActions(BitReader& r, std::vector<ClipAction>& actions) {
    const std::size_t flagBytes = movie.version >= 6 ? 4 : 2;
    auto events = [&] { return flagBytes == 4 ? r.U32() : std::uint32_t(r.U16()); };
    r.U16();  // reserved
    events(); // every event handled, which the records say again
    while (r.Remaining() >= flagBytes) {
        ClipAction action;
        action.events = events();
        if (action.events == 0)
            break;
        std::size_t size = r.U32();
        if ((action.events & ClipEventKeyPress) && size > 0) {
            action.keyCode = r.U8();
            --size;
        }
        if (r.Overrun() || size > r.Remaining())
            return false;
        action.actions = r.Bytes(size);
        if (!Room(actions.size(), 1, sizeof(ClipAction) + size))
            return false;
        actions.push_back(std::move(action));
    }
    return !r.Overrun();
}

bool Parser::ReadButtonRecords(int version, BitReader& r, std::vector<ButtonRecord>& out) {
    for (;;) {
        const std::uint8_t flags = r.U8();
        if (r.Overrun())
            return false;
        if (flags == 0)
            return true;
        ButtonRecord record;
        record.states = flags & 0x0F;
        record.characterId = r.U16();
        record.depth = r.U16();
        record.matrix = ReadMatrix(r);
        if (version == 2) {
            record.colorTransform = ReadColorTransform(r, true);
            FilterList filters; // buttons draw their characters plainly
            if ((flags & 0x10) && !ReadFilters(r, filters))
                return false;
            if (flags & 0x20)
                r.U8(); // blend mode: buttons draw normally
        }
        if (r.Overrun() || !Room(0, 1, sizeof(ButtonRecord)))
            return false;
        out.push_back(record);
    }
}

void Parser::ReadConditionActions(BitReader& r, std::vector<ButtonAction>& out) {
    while (r.Remaining() >= 4) {
        const std::size_t size = r.U16();
        ButtonAction action;
        action.conditions = r.U16();
        if (size != 0 && (size < 4 || size - 4 > r.Remaining()))
            return; // a lying size: what came before stays
        if (!Room(0, 1, sizeof(ButtonAction)))
            return;
        action.actions = size == 0 ? r.Rest() : r.Bytes(size - 4);
        out.push_back(std::move(action));
        if (size == 0)
            return;
    }
}

std::optional<Button> Parser::ReadButton(int version, BitReader& r) {
    Button button;
    button.version = version;
    if (version == 1) {
        if (!ReadButtonRecords(1, r, button.records))
            return std::nullopt;
        button.actions.push_back({OverDownToOverUp, r.Rest()});
        return button;
    }
    button.trackAsMenu = r.U8() & 0x01;
    const std::size_t actionOffset = r.U16();
    if (r.Overrun())
        return std::nullopt;
    // The offset counts from its own field; 0 means no actions.
    if (actionOffset != 0 && (actionOffset < 2 || actionOffset - 2 > r.Remaining()))
        return std::nullopt;
    BitReader records = actionOffset == 0 ? r.Sub(r.Remaining()) : r.Sub(actionOffset - 2);
    if (!ReadButtonRecords(2, records, button.records))
        return std::nullopt;
    if (actionOffset != 0)
        ReadConditionActions(r, button.actions);
    return button;
}

std::optional<std::vector<ButtonSound>> Parser::ReadButtonSounds(BitReader& r) {
    // The file's order of the four transitions.
    static constexpr std::uint16_t Transitions[] = {OverUpToIdle, IdleToOverUp, OverUpToOverDown,
                                                    OverDownToOverUp};
    std::vector<ButtonSound> sounds;
    for (const std::uint16_t transition : Transitions) {
        ButtonSound sound;
        sound.transition = transition;
        sound.soundId = r.U16();
        if (r.Overrun())
            return std::nullopt;
        if (sound.soundId == 0)
            continue;
        if (!ReadSoundInfo(r, sound.info))
            return std::nullopt;
        sounds.push_back(std::move(sound));
    }
    return sounds;
}

// DefineButtonSound or DefineButtonCxform for a button defined before it; a tag naming anything else
// is skipped, as the button it would complete is not there to play.
bool Parser::ReadButtonExtra(std::uint16_t code, BitReader& r) {
    const std::uint16_t id = r.U16();
    if (r.Overrun())
        return false;
    const auto found = buttons.find(id);
    if (found == buttons.end()) {
        Warn(QStringLiteral("no button %1").arg(code),
             QStringLiteral("skipped a %1 tag for character %2, which is no button defined before it")
                 .arg(TagName(code))
                 .arg(id));
        return true;
    }
    Button& button = std::get<Button>(*found->second);
    if (code == tag::DefineButtonSound) {
        std::optional<std::vector<ButtonSound>> sounds = ReadButtonSounds(r);
        if (!sounds)
            return false;
        button.sounds = std::move(*sounds);
        return true;
    }
    // DefineButton2 records carry their own transforms.
    if (button.version != 1)
        return true;
    const ColorTransform transform = ReadColorTransform(r, false);
    if (r.Overrun())
        return false;
    for (ButtonRecord& record : button.records)
        record.colorTransform = transform;
    return true;
}

} // namespace flash::reader
