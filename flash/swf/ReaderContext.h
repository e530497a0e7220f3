#pragma once
// Shared by the reader's files, not part of its interface: the tag parser's state and limits, and
// the readers of the fields several tag families use (rect, colours, matrix, colour transform, line
// style flags). Field readers never fail on their own: a read past the data leaves the BitReader
// overrun, which the tag's reader checks. Parser methods return false for a tag that does not parse.

#include "flash/swf/BitReader.h"
#include "flash/swf/SwfReader.h"
#include "flash/swf/TagCodes.h"
#include "flash/swf/TextEncoding.h"

#include <QDebug>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace flash::reader {

// The tag's name for notes, or "tag N" for an unknown code.
QString TagName(std::uint16_t code);

// --- Field readers ---

Rect ReadRect(BitReader& r);
Rgba ReadRgb(BitReader& r);
Rgba ReadRgba(BitReader& r);
Matrix ReadMatrix(BitReader& r);
ColorTransform ReadColorTransform(BitReader& r, bool withAlpha);
LineStyle::Cap CapOf(std::uint32_t value);
LineStyle::Join JoinOf(std::uint32_t value);
int ReadGradientHead(BitReader& r, Gradient& gradient);
bool ReadLineStyle2Flags(BitReader& r, LineStyle& style);

// Edges made while reading one SHAPE: style numbers of the group in force, resolved to indexes of
// the shape's whole style lists.
struct StyleGroup {
    std::size_t fillBase = 0, fillCount = 0;
    std::size_t lineBase = 0, lineCount = 0;
    int Fill(std::uint32_t number) const {
        return number == 0 || number > fillCount ? -1 : int(fillBase + number - 1);
    }
    int Line(std::uint32_t number) const {
        return number == 0 || number > lineCount ? -1 : int(lineBase + number - 1);
    }
};

// --- The tag parser ---

class Parser {
public:
    Parser(Movie& movie, const ReadLimits& limits, QStringList& warnings)
        : movie(movie), limits(limits), warnings(warnings) {}

    void ReadTimeline(BitReader r, Timeline& timeline, int nesting);
    void Finish();

    void Warn(const QString& kind, const QString& message) {
        if (!warned.insert(kind).second)
            return;
        warnings.append(message);
        qWarning().noquote() << "flash:" << message;
    }

    QString fatal;

private:
    bool Room(std::size_t current, std::size_t extra, std::size_t elementSize);
    template <typename T> bool Push(std::vector<T>& list, T&& value) {
        if (!Room(list.size(), 1, sizeof(T)))
            return false;
        list.push_back(std::move(value));
        return true;
    }
    QString Text(const QByteArray& raw) const { return DecodeText(raw, movie.version); }
    void Define(std::uint16_t id, std::shared_ptr<Character> character);

    void ReadTag(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame, int nesting);
    bool ReadCharacter(std::uint16_t code, BitReader& r, int nesting);
    bool ReadControl(std::uint16_t code, BitReader& r, Timeline& timeline, Frame& frame);

    bool ReadFillStyle(BitReader& r, int shapeVersion, FillStyle& style);
    bool ReadLineStyle(BitReader& r, int shapeVersion, LineStyle& style);
    bool ReadFillStyles(BitReader& r, int shapeVersion, std::vector<FillStyle>& styles, std::size_t& count);
    bool ReadLineStyles(BitReader& r, int shapeVersion, std::vector<LineStyle>& styles, std::size_t& count);
    bool ReadShapeRecords(BitReader& r, int shapeVersion, Shape* withNewStyles, StyleGroup group,
                          std::vector<ShapeEdge>& edges);
    bool ReadShape(BitReader& r, int version, std::uint16_t id);
    bool ReadMorphFillStyle(BitReader& r, FillStyle& start, FillStyle& end);
    bool ReadMorphLineStyle(BitReader& r, int version, LineStyle& start, LineStyle& end);
    bool ReadMorphShape(BitReader& r, int version, std::uint16_t id);
    bool ReadSoundInfo(BitReader& r, SoundInfo& info);
    bool ReadPlaceObject(BitReader& r, int version, PlaceObject& place);
    bool ReadClipActions(BitReader& r, std::vector<ClipAction>& actions);
    QString FontName(QByteArray raw) const;
    bool ReadGlyphs(const BitReader& table, const std::vector<std::size_t>& offsets, std::size_t end,
                    Font& font);
    bool ReadFontLayout(BitReader& r, Font& font);
    bool ReadFont(BitReader& r, int version, std::uint16_t id);
    bool ReadFontInfo(BitReader& r, std::uint16_t code);
    bool ReadText(BitReader& r, int version, std::uint16_t id);
    bool ReadEditText(BitReader& r, std::uint16_t id);
    bool ReadVideoStream(BitReader& r, std::uint16_t id);
    bool AttachVideoFrame(BitReader r);
    // The body after the character id; nothing when the records are damaged. Actions past damaged
    // condition records are left out.
    std::optional<Button> ReadButton(int version, BitReader& r);
    bool ReadButtonRecords(int version, BitReader& r, std::vector<ButtonRecord>& out);
    void ReadConditionActions(BitReader& r, std::vector<ButtonAction>& out);
    // DefineButtonSound's body after the button id: four sound ids, each followed by its sound info
    // unless it is 0; nothing when damaged.
    std::optional<std::vector<ButtonSound>> ReadButtonSounds(BitReader& r);
    bool ReadButtonExtra(std::uint16_t code, BitReader& r);
    bool ReadExports(BitReader& r);
    void ReadAbcBlock(std::uint16_t code, BitReader& r);

    Movie& movie;
    const ReadLimits& limits;
    QStringList& warnings;
    std::set<QString> warned;
    std::size_t modelBytes = 0;
    std::vector<std::shared_ptr<Character>> bitmapsWithoutTables;
    // Video streams take their frames from VideoFrame tags that follow them.
    std::map<std::uint16_t, std::shared_ptr<Character>> videoStreams;
    // Buttons take their sounds and colour transform from tags that follow them.
    std::map<std::uint16_t, std::shared_ptr<Character>> buttons;
};

} // namespace flash::reader
