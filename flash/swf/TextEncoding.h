#pragma once
// How a movie's strings (tag fields and action records) turn into text: UTF-8 from version 6 on,
// Latin-1 before. Bad UTF-8 becomes replacement characters; nothing fails.

#include <QByteArray>
#include <QString>

namespace flash {

inline QString DecodeText(const QByteArray& bytes, int version) {
    return version >= 6 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

} // namespace flash
