#pragma once
// Helpers for tests that work with files: a private temporary folder, whole-file reads, programs
// and environment variables.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

class TestDir {
public:
    TestDir();
    QString path(const QString& name) const;

private:
    QTemporaryDir dir;
};

QByteArray ReadWholeFile(const QString& fileName);
void WriteWholeFile(const QString& fileName, const QByteArray& bytes);

// Sets an environment variable for the life of the object.
class TEnvironment {
public:
    TEnvironment(const char* Name, const QByteArray& Value) : FName(Name), FOld(qgetenv(Name)) {
        FHadOld = qEnvironmentVariableIsSet(Name);
        qputenv(Name, Value);
    }
    ~TEnvironment() {
        if (FHadOld)
            qputenv(FName, FOld);
        else
            qunsetenv(FName);
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

private:
    const char* FName;
    QByteArray FOld;
    bool FHadOld = false;
};

// Runs a program (no shell) and returns its standard output; fails the current test when it cannot
// start or exits non-zero.
QByteArray RunProgram(const QString& program, const QStringList& arguments);

// Delivers the calling thread's events until Done holds or the time is up; false on time-out.
template <typename Condition> bool PumpUntil(Condition Done, int TimeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > TimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void PumpFor(int Milliseconds) {
    PumpUntil([] { return false; }, Milliseconds);
}

// The result of Call, or nothing when it is still blocked after a generous while (it is then left
// behind on its own thread, so the test fails instead of hanging). Call must own what it uses.
template <typename F> auto Promptly(F Call) -> std::optional<decltype(Call())> {
    using TResult = decltype(Call());
    auto task = std::make_shared<std::packaged_task<TResult()>>(std::move(Call));
    auto future = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}
