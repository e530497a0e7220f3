#pragma once
// Reads back a movie a test wrote; a movie that does not read fails the test.

#include "flash/swf/SwfReader.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

inline std::shared_ptr<const flash::Movie> ReadBack(const QByteArray& bytes,
                                                    QStringList* warnings = nullptr) {
    flash::ReadResult read = flash::ReadMovie(bytes);
    EXPECT_TRUE(read.movie) << read.error.toStdString();
    if (warnings)
        *warnings = read.warnings;
    return read.movie;
}
