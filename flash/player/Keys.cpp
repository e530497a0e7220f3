#include "flash/player/Keys.h"

#include <QStringList>
#include <Qt>
#include <array>

namespace flash {

namespace {

// A key that types no character of its own, or a control character.
struct NamedKey {
    int qtKey;
    const char* names; // what a user may call it, separated by '|'
    int code, ascii;
    int buttonCode; // 0: no button condition names it
};

constexpr NamedKey Named[] = {
    {Qt::Key_Backspace, "backspace", 8, 8, 8},
    {Qt::Key_Tab, "tab", 9, 9, 18},
    {Qt::Key_Backtab, "", 9, 9, 18},
    {Qt::Key_Return, "enter|return", 13, 13, 13},
    {Qt::Key_Enter, "", 13, 13, 13},
    {Qt::Key_Shift, "shift", 16, 0, 0},
    {Qt::Key_Control, "control|ctrl", 17, 0, 0},
    {Qt::Key_Alt, "alt", 18, 0, 0},
    {Qt::Key_Pause, "pause", 19, 0, 0},
    {Qt::Key_CapsLock, "capslock", 20, 0, 0},
    {Qt::Key_Escape, "escape|esc", 27, 27, 19},
    {Qt::Key_Space, "space", 32, 32, 32},
    {Qt::Key_PageUp, "pageup|pgup", 33, 0, 16},
    {Qt::Key_PageDown, "pagedown|pgdn", 34, 0, 17},
    {Qt::Key_End, "end", 35, 0, 4},
    {Qt::Key_Home, "home", 36, 0, 3},
    {Qt::Key_Left, "left", 37, 0, 1},
    {Qt::Key_Up, "up", 38, 0, 14},
    {Qt::Key_Right, "right", 39, 0, 2},
    {Qt::Key_Down, "down", 40, 0, 15},
    {Qt::Key_Insert, "insert|ins", 45, 0, 5},
    {Qt::Key_Delete, "delete|del", 46, 127, 6},
    {Qt::Key_NumLock, "numlock", 144, 0, 0},
    {Qt::Key_ScrollLock, "scrolllock", 145, 0, 0},
};

constexpr int FunctionKeys = 15; // F1 = 112 ... F15 = 126

// The key of a US keyboard that types the character, shifted or not.
int CodeOfCharacter(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 'A';
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u' ')
        return c;
    static constexpr std::array<std::pair<const char*, int>, 11> Punctuation = {{
        {";:", 186},
        {"=+", 187},
        {",<", 188},
        {"-_", 189},
        {".>", 190},
        {"/?", 191},
        {"`~", 192},
        {"[{", 219},
        {"\\|", 220},
        {"]}", 221},
        {"'\"", 222},
    }};
    for (const auto& [characters, code] : Punctuation)
        if (c == char16_t(characters[0]) || c == char16_t(characters[1]))
            return code;
    // Shifted digits: !@#$%^&*() are on 1 ... 9, 0.
    static constexpr char16_t Shifted[] = u")!@#$%^&*(";
    for (int digit = 0; digit < 10; ++digit)
        if (c == Shifted[digit])
            return '0' + digit;
    return 0;
}

bool HasName(const char* names, const QString& name) {
    for (const QString& one : QString::fromLatin1(names).split(u'|'))
        if (!one.isEmpty() && one.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

KeyStroke KeyFromQt(int qtKey, const QString& text, bool keypad) {
    for (const NamedKey& key : Named)
        if (key.qtKey == qtKey)
            return {key.code, key.ascii};
    if (qtKey >= Qt::Key_F1 && qtKey < Qt::Key_F1 + FunctionKeys)
        return {112 + (qtKey - Qt::Key_F1), 0};
    char16_t c = text.isEmpty() ? 0 : text[0].unicode();
    if (c == 0 && qtKey >= 0x20 && qtKey <= 0x7e) // a key without its text: the unshifted character
        c = QChar(char16_t(qtKey)).toLower().unicode();
    if (c < 0x20 || c > 0x7e)
        return {};
    if (keypad) {
        if (c >= u'0' && c <= u'9')
            return {96 + (c - u'0'), c};
        static constexpr char16_t Operators[] = u"*+ -./"; // 106 ... 111; 108 is the separator
        for (int i = 0; i < 6; ++i)
            if (Operators[i] == c && c != u' ')
                return {106 + i, c};
    }
    const int code = CodeOfCharacter(c);
    return code ? KeyStroke{code, c} : KeyStroke{};
}

KeyStroke KeyByName(const QString& name) {
    if (name.size() == 1)
        return KeyFromQt(0, name);
    for (const NamedKey& key : Named)
        if (HasName(key.names, name))
            return {key.code, key.ascii};
    if (name.size() >= 2 && (name[0] == u'f' || name[0] == u'F')) {
        bool ok = false;
        const int number = name.mid(1).toInt(&ok);
        if (ok && number >= 1 && number <= FunctionKeys)
            return {111 + number, 0};
    }
    return {};
}

int ButtonCodeOf(const KeyStroke& key) {
    for (const NamedKey& named : Named)
        if (named.code == key.code && named.buttonCode)
            return named.buttonCode;
    return key.code && key.ascii >= 32 && key.ascii <= 126 ? key.ascii : 0;
}

KeyStroke KeyOfButtonCode(int buttonCode) {
    if (buttonCode <= 0)
        return {};
    for (const NamedKey& named : Named)
        if (named.buttonCode == buttonCode)
            return {named.code, named.ascii};
    if (buttonCode <= 126)
        return KeyFromQt(0, QString(QChar(char16_t(buttonCode))));
    return {};
}

} // namespace flash
