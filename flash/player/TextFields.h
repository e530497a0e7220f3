#pragma once
// The text of an edit text as scripts format it: characters with a format each (what a TextFormat
// holds), the format new text takes, Flash's HTML subset read into it, and htmlText written back as
// Flash Player writes it. Paragraphs end with "\r", as Flash keeps them; paragraph formats (align,
// margins, indent, leading, bullet) hold for a whole paragraph and are read from its first character.
// Also the field's look as scripts set it (background, border, their colours, the HTML flag), and the
// edit text character the renderer draws from all of it.
//
// Nothing here fails: values out of range are clamped, unknown HTML tags are dropped. A field holds
// at most MaxLength characters (more is cut); HTML keeps at most MaxNesting tags open (a deeper tag
// changes the format without being kept, so its closing tag finds it not); formats stay merged in
// runs, so memory follows the text's length.

#include "flash/player/DisplayList.h"
#include "flash/player/HtmlText.h"
#include "flash/swf/SwfModel.h"

#include <QSizeF>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace flash {

// A TextFormat's values: each unset (null) or a value. Setting a format changes only what is set;
// reading one over a range leaves unset what differs in it.
struct FormatChange {
    std::optional<QString> font;
    std::optional<int> size;
    std::optional<std::uint32_t> color;
    std::optional<bool> bold, italic, underline;
    std::optional<QString> url, target;
    std::optional<EditText::Align> align;
    std::optional<int> leftMargin, rightMargin, indent, leading;
    std::optional<bool> bullet;

    static FormatChange All(const CharFormat& format);
    void ApplyTo(CharFormat& format, bool paragraph) const; // paragraph: only the paragraph formats
    bool HasParagraphFormat() const;
    void KeepCommon(const FormatChange& other); // unsets what differs from other
};

class FormattedText {
public:
    static constexpr qsizetype MaxLength = 4096; // the interpreter's string limit
    static constexpr int MaxNesting = MaxHtmlNesting;

    struct Run {
        QString text;
        CharFormat format;
    };

    QString Plain() const;
    qsizetype Length() const;
    const std::vector<Run>& Runs() const { return runs; }

    // Replaces [begin, end) by text in the format given ("\n" and "\r\n" become "\r"), within MaxLength.
    void Replace(qsizetype begin, qsizetype end, const QString& text, const CharFormat& format);
    // Changes the format of [begin, end); paragraph formats change on every paragraph it touches.
    void Apply(const FormatChange& change, qsizetype begin, qsizetype end);
    // The format common to [begin, end) (to the character at begin when the range is empty); fallback
    // when the text has no character there.
    FormatChange FormatOf(qsizetype begin, qsizetype end, const CharFormat& fallback) const;
    // The format of the character at index, or fallback past the end.
    CharFormat FormatAt(qsizetype index, const CharFormat& fallback) const;

    // Reads Flash's HTML (see HtmlText) starting from base.
    void SetHtml(const QString& html, const CharFormat& base);
    // htmlText as Flash Player 8 writes it; an empty field gives one empty paragraph in base.
    QString Html(const CharFormat& base) const;

private:
    std::size_t SplitAt(qsizetype position); // the index of the run starting there
    void Merge();
    std::vector<Run> runs;
};

// What scripts set on an edit text beyond its text, kept apart from the character it started as.
struct ScriptedField {
    EditText look; // bounds, wrapping, password, autoSize, variable ... as scripts set them
    FormattedText text;
    CharFormat newFormat; // what new text takes (setNewTextFormat)
    bool html = false;
    bool background = false, border = false;
    std::uint32_t backgroundColor = 0xFFFFFF, borderColor = 0;
    enum class AutoSize : std::uint8_t { None, Left, Center, Right } autoSize = AutoSize::None;
    QString restrict;             // kept for scripts: no field takes keys
    int scroll = 1, hscroll = 0;  // the first line shown (one-based), pixels scrolled left
    std::optional<QString> bound; // the variable's value last shown
};

// The field as a movie placed it: its look, and its text in the format its character gives.
ScriptedField ScriptedFrom(const EditText& text, const QString& shown, const Movie& movie);
// The edit text the renderer draws, and the HTML content it shows.
EditText DrawnLook(const ScriptedField& field);
QString DrawnContent(const ScriptedField& field);
// The size of the field's text in whole pixels (textWidth, textHeight), laid out as it is drawn (with
// the movie's embedded fonts when it has them; movie may be null).
QSizeF TextSize(const ScriptedField& field, const Movie* movie);
// The field's lines as drawn, for scroll, maxscroll, bottomScroll and maxhscroll.
struct FieldLines {
    int count = 1;      // lines of text
    int maxScroll = 1;  // the last line scrolling may start at, one-based
    int bottom = 1;     // the last line wholly shown at the field's scroll
    int maxHScroll = 0; // pixels
};
FieldLines LinesOf(const ScriptedField& field, const Movie* movie);

// The field's scripted state, made from what its placement shows when a script first needs it; null
// for a field that has left the stage before any script changed it.
ScriptedField* Scripted(TextFieldState& field, DisplayObject* placement, const Movie* movie);
// Shows the scripted state: fits the box to the text as autoSize says, keeps scrolling within the
// text, gives the placement a new edit text made from it, and the content its HTML.
void Publish(TextFieldState& field, DisplayObject* placement, const Movie* movie);
// Text or HTML set on the field (by a script or its variable) in the format new text takes.
void SetFieldText(TextFieldState& field, DisplayObject* placement, const QString& text, bool html,
                  const Movie* movie);

} // namespace flash
