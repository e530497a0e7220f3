#pragma once
// Where the program's own sound plays: the sound server's sink that the movie's sound output plays
// to, and whose monitor the program records (WAVE_PLAYBACK_MONITOR). Empty, the default, means the
// server's default sink. One setting for the whole process, safe to use from any thread; it changes
// nothing on the server.

#include <QString>

QString PlaybackSink();
// Applies to sound outputs started and recordings opened later.
void SetPlaybackSink(const QString& Name);
