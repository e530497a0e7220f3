#pragma once
// A PulseAudio server of one test's own (scripts/pulse-test-server in a private folder), so that
// stopping or killing it leaves the shared test server alone. PULSE_SERVER points at it for the
// object's life, also after Stop. Starting fails the current test when the server does not come up.
// For test programs that define VANTREL_SOURCE_DIR.

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <optional>

class TPrivatePulseServer {
public:
    TPrivatePulseServer() {
        const QByteArray address =
            RunProgram(Script(), {QStringLiteral("start"), FDir.path("pulse")}).trimmed();
        EXPECT_TRUE(address.startsWith("unix:")) << address.toStdString();
        FServer.emplace("PULSE_SERVER", address);
    }
    ~TPrivatePulseServer() { Stop(); }
    TPrivatePulseServer(const TPrivatePulseServer&) = delete;
    TPrivatePulseServer& operator=(const TPrivatePulseServer&) = delete;

    // The server's process id, or 0 when it is not known.
    pid_t Pid() const { return pid_t(ReadWholeFile(FDir.path("pulse/pid")).trimmed().toLongLong()); }
    // Stops the server; fine when it is already gone.
    void Stop() { RunProgram(Script(), {QStringLiteral("stop"), FDir.path("pulse")}); }

private:
    static QString Script() { return QStringLiteral(VANTREL_SOURCE_DIR "/scripts/pulse-test-server"); }

    TestDir FDir;
    std::optional<TEnvironment> FServer;
};
