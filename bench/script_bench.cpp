// Runs a busy frame script through the player and reports the time per run and the actions run per
// second: a loop of 2500 turns, each reading and writing timeline variables, adding, multiplying,
// comparing, joining a short string and calling a script function, 85,000 actions in all (under the
// per-frame limit).
// The run is checked by the value it traces, so a script cut short fails the benchmark.
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/swf/ActionCodes.h"
#include "flash/swf/SwfReader.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr int Turns = 2500;
// The actions one turn of the loop below runs, the function's body included: 6 for i = i + 1, 16
// for t (11 outside the call, 5 in it), 7 for n and 5 for the loop's test and branch.
constexpr int ActionsPerTurn = 34;

// x = x + 1 on a timeline variable.
ActionCode& AddOne(ActionCode& code, const QString& name) {
    return code.PushString(name).PushString(name).GetVariable().PushInt(1).Op(action::Add2).SetVariable();
}

// Script bytes without their end, to join around a function body.
QByteArray Bytes(const ActionCode& code) {
    return code.Data().chopped(1);
}

QByteArray ScriptMovie() {
    // function twice(x) { return x * 2; }
    const QByteArray body =
        Bytes(ActionCode().PushString("x").GetVariable().PushInt(2).Op(action::Multiply).Op(action::Return));
    const QByteArray twice = Bits().String("twice").U16(1).String("x").U16(std::uint32_t(body.size())).Data();

    ActionCode code;
    code.PushString("i").PushInt(0).SetVariable();
    const qsizetype loop = code.Size();
    AddOne(code, "i");
    // t = twice(i) * 3 % 7
    code.PushString("t").PushString("i").GetVariable().PushInt(1).PushString("twice").CallFunction();
    code.PushInt(3).Op(action::Multiply).PushInt(7).Op(action::Modulo).SetVariable();
    // n = ("ab" + t).length
    code.PushString("n").PushString("ab").PushString("t").GetVariable().Op(action::Add2);
    code.Op(action::StringLength).SetVariable();
    // while (i < Turns)
    code.PushString("i").GetVariable().PushInt(Turns).Op(action::Less2);
    code.If(std::int16_t(loop - (code.Size() + 5))); // back from the end of this 5-byte record
    code.PushString("i").GetVariable().Op(action::Trace);

    const QByteArray script = Bytes(ActionCode().Op(action::DefineFunction, twice)) + body + code.Data();
    return MovieBuilder()
        .Version(8)
        .Add(Tag(tag::DoAction, script))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Build();
}

void BM_BusyFrameScript(benchmark::State& state) {
    const ReadResult read = ReadMovie(ScriptMovie());
    if (!read.movie) {
        state.SkipWithError("the movie did not read");
        return;
    }
    QString traced;
    Player player(read.movie, nullptr, [&](const QString& line) { traced = line; });
    for (auto _ : state) {
        traced.clear();
        player.Tick(); // the empty second frame
        player.Tick(); // the first frame again, and its script
        if (traced != QString::number(Turns)) {
            state.SkipWithError("the script did not run to its end");
            return;
        }
    }
    state.counters["actions_per_second"] = benchmark::Counter(
        double(Turns) * ActionsPerTurn * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BusyFrameScript)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
