// The PulseAudio connection helper against servers that are absent, never answer, stop answering or
// die: it gives up at its deadline with the reason, and reports a lost connection once.
#include "platform/PulseConnection.h"

#include "PrivatePulseServer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

const QString Timeout = QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));

// A Unix socket that takes connections and never says a word.
class TSilentServer {
public:
    explicit TSilentServer(const QString& Path) : FSocket(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = Path.toUtf8();
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        FListening = FSocket >= 0 &&
                     ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                     ::listen(FSocket, 4) == 0;
    }
    ~TSilentServer() {
        if (FSocket >= 0)
            ::close(FSocket);
    }
    TSilentServer(const TSilentServer&) = delete;
    TSilentServer& operator=(const TSilentServer&) = delete;

    bool Listening() const { return FListening; }

private:
    int FSocket;
    bool FListening = false;
};

TEST(PulseConnection, WithoutAServerConnectFailsWithTheReasonAndReportsTheLossOnce) {
    TEnvironment server("PULSE_SERVER", "unix:/nonexistent/vantrel-no-server");
    std::atomic<int> lost = 0;
    {
        TPulseConnection connection("Vantrel test", [&lost] { ++lost; });
        QString error;
        EXPECT_FALSE(connection.Connect(std::chrono::seconds(5), &error));
        EXPECT_EQ(error, QString::fromUtf8(pa_strerror(PA_ERR_CONNECTIONREFUSED)));
    }
    EXPECT_EQ(lost, 1);
}

TEST(PulseConnection, AServerThatNeverAnswersTimesOut) {
    TestDir dir;
    const QString path = dir.path(QStringLiteral("silent"));
    TSilentServer silent(path);
    ASSERT_TRUE(silent.Listening());
    TEnvironment server("PULSE_SERVER", "unix:" + path.toUtf8());
    std::atomic<int> lost = 0;
    {
        TPulseConnection connection("Vantrel test", [&lost] { ++lost; });
        QString error;
        EXPECT_FALSE(connection.Connect(std::chrono::milliseconds(300), &error));
        EXPECT_EQ(error, Timeout);
    }
    EXPECT_EQ(lost, 0) << "giving up is not a lost connection, and nothing is reported after the end";
}

TEST(PulseConnection, RequestsEndAtTheDeadlineAndALostServerIsReported) {
    TPrivatePulseServer server;
    const pid_t pid = server.Pid();
    ASSERT_GT(pid, 0);

    std::atomic<int> lost = 0;
    TPulseConnection connection("Vantrel test", [&lost] { ++lost; });
    ASSERT_TRUE(connection.Connect(std::chrono::seconds(2)));
    connection.Lock();
    auto serverInfo = [](pa_context*, const pa_server_info* Info, void* Name) {
        *static_cast<QString*>(Name) = QString::fromUtf8(Info != nullptr ? Info->server_name : "?");
    };
    QString name;
    EXPECT_TRUE(connection.Run(pa_context_get_server_info(connection.Context(), serverInfo, &name)));
    EXPECT_FALSE(name.isEmpty());

    // A stopped server keeps the connection but answers nothing: the request ends at the deadline,
    // cancelled, and its callback never runs.
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    name.clear();
    EXPECT_FALSE(connection.Run(pa_context_get_server_info(connection.Context(), serverInfo, &name)));
    EXPECT_EQ(connection.LastError(), Timeout);
    EXPECT_TRUE(connection.Good());
    connection.Disarm();
    connection.Unlock();

    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    EXPECT_TRUE(PumpUntil([&] { return lost > 0; }));
    connection.Lock();
    EXPECT_FALSE(connection.Good());
    EXPECT_TRUE(name.isEmpty());
    connection.Unlock();
    EXPECT_EQ(lost, 1);
}

} // namespace
