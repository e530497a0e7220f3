// Date on the movie's clock. new Date() is a fixed moment (StartMoment) plus the time the movie has
// played, so a conversion shows the same dates every time; local time is UTC here, so the local and
// UTC methods agree and getTimezoneOffset is 0. new Date(ms) and new Date(year, month, day, hours,
// minutes, seconds, ms) with years 0 to 99 counting from 1900, the get and set methods of both
// kinds, getTime, setTime, toString as Flash Player prints it ("Wed Jun 15 12:00:00 GMT+0000 2005")
// and Date.UTC. Times keep the ECMAScript range (8.64e15 ms each way of 1970); past it, or from a
// value that is no number, a date is invalid: its parts are NaN and it prints "Invalid Date".
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace flash {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double MsPerDay = 86400000;
constexpr double MaxTime = 8.64e15;

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar (month 1..12).
constexpr std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Civil {
    std::int64_t year;
    int month; // 0..11, as scripts count months
    int day;   // 1..31
};

Civil CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    const int month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    return {yearOfEra + era * 400 + (month <= 2), month - 1, day};
}

// The moment new Date() starts from: Wednesday 15 June 2005, 12:00 UTC. Flash 8's year; the middle of
// a month and of a day, so that a conversion (two hours at most) never crosses a day, a month or a
// year, and movies that show a clock or greet by the time of day show daytime.
constexpr double StartMoment = double(DaysFromCivil(2005, 6, 15)) * MsPerDay + 12 * 3600000.0;

double TimeClip(double time) {
    return std::isfinite(time) && std::abs(time) <= MaxTime ? std::trunc(time) + 0.0 : NaN;
}

double Integer(double value) {
    return std::isfinite(value) ? std::trunc(value) : NaN;
}

// A date from its parts, months past 11 or days past the month's end carrying over.
double MakeDate(double year, double month, double day, double hours, double minutes, double seconds,
                double ms) {
    for (double* part : {&year, &month, &day, &hours, &minutes, &seconds, &ms})
        *part = Integer(*part);
    if (!std::isfinite(year + month + day + hours + minutes + seconds + ms) || std::abs(year) > 400000 ||
        std::abs(month) > 4.8e6)
        return NaN;
    const double wholeYear = year + std::floor(month / 12);
    const double monthInYear = month - std::floor(month / 12) * 12;
    const double days =
        double(DaysFromCivil(std::int64_t(wholeYear), std::int64_t(monthInYear) + 1, 1)) + day - 1;
    return TimeClip(days * MsPerDay + hours * 3600000 + minutes * 60000 + seconds * 1000 + ms);
}

// The parts of a valid time.
struct Parts {
    double year, month, day, hours, minutes, seconds, ms, weekday;
};

Parts Split(double time) {
    const double days = std::floor(time / MsPerDay);
    const double within = time - days * MsPerDay;
    const Civil civil = CivilFromDays(std::int64_t(days));
    const double weekday = std::fmod(std::fmod(days + 4, 7) + 7, 7);
    return {double(civil.year),
            double(civil.month),
            double(civil.day),
            std::floor(within / 3600000),
            std::fmod(std::floor(within / 60000), 60),
            std::fmod(std::floor(within / 1000), 60),
            std::fmod(within, 1000),
            weekday};
}

// Years 0 to 99 count from 1900, as the constructor, Date.UTC and setYear take them.
double FullYear(double year) {
    return std::isfinite(year) && year >= 0 && year <= 99 ? 1900 + std::trunc(year) : year;
}

double TimeOf(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    const double* time = self ? std::get_if<double>(&self->primitive) : nullptr;
    return time ? *time : NaN;
}

ActionValue SetTimeOf(NativeCall& call, double time) {
    if (ScriptObject* self = call.SelfObject())
        self->primitive = TimeClip(time);
    return TimeOf(call);
}

// Argument i as a number, or the fallback when it was not given.
double ArgOr(NativeCall& call, std::size_t index, double fallback) {
    return index < call.args.size() ? call.vm.Number(call.args[index]) : fallback;
}

QString DateText(double time);

ActionValue DateConstructor(NativeCall& call) {
    const double now = StartMoment + std::floor(call.vm.Host().Milliseconds());
    double time = now;
    if (call.args.size() == 1) {
        time = TimeClip(call.vm.Number(call.args[0]));
    } else if (call.args.size() >= 2) {
        time = MakeDate(FullYear(ArgOr(call, 0, NaN)), ArgOr(call, 1, NaN), ArgOr(call, 2, 1),
                        ArgOr(call, 3, 0), ArgOr(call, 4, 0), ArgOr(call, 5, 0), ArgOr(call, 6, 0));
    }
    ScriptObject* self = call.SelfObject();
    if (!call.constructing || !self)
        return DateText(now); // Date() called as a function gives the text of now

    self->primitive = time;
    return self;
}

ActionValue Utc(NativeCall& call) {
    return MakeDate(FullYear(ArgOr(call, 0, NaN)), ArgOr(call, 1, NaN), ArgOr(call, 2, 1), ArgOr(call, 3, 0),
                    ArgOr(call, 4, 0), ArgOr(call, 5, 0), ArgOr(call, 6, 0));
}

enum class Part { Year, ShortYear, Month, Day, Weekday, Hours, Minutes, Seconds, Ms };

template <Part P> ActionValue Get(NativeCall& call) {
    const double time = TimeOf(call);
    if (std::isnan(time))
        return NaN;
    const Parts parts = Split(time);
    switch (P) {
    case Part::Year:
        return parts.year;
    case Part::ShortYear:
        return parts.year - 1900;
    case Part::Month:
        return parts.month;
    case Part::Day:
        return parts.day;
    case Part::Weekday:
        return parts.weekday;
    case Part::Hours:
        return parts.hours;
    case Part::Minutes:
        return parts.minutes;
    case Part::Seconds:
        return parts.seconds;
    case Part::Ms:
        return parts.ms;
    }
    return NaN;
}

ActionValue GetTime(NativeCall& call) {
    return TimeOf(call);
}

ActionValue GetTimezoneOffset(NativeCall& call) {
    return std::isnan(TimeOf(call)) ? NaN : 0.0;
}

ActionValue SetTime(NativeCall& call) {
    return SetTimeOf(call, ArgOr(call, 0, NaN));
}

// setFullYear(year, month, day) and setYear(year): an invalid date starts from 1970.
template <bool ShortYear> ActionValue SetYear(NativeCall& call) {
    const double time = TimeOf(call);
    const Parts p = Split(std::isnan(time) ? 0 : time);
    double year = ArgOr(call, 0, NaN);
    if (ShortYear)
        year = FullYear(year);
    return SetTimeOf(call, MakeDate(year, ArgOr(call, 1, p.month), ArgOr(call, 2, p.day), p.hours, p.minutes,
                                    p.seconds, p.ms));
}

// The setters from a part down: the first argument sets that part, the next ones the parts below.
template <Part P> ActionValue Set(NativeCall& call) {
    const double time = TimeOf(call);
    if (std::isnan(time))
        return NaN;
    Parts p = Split(time);
    std::array<double*, 6> order = {&p.month, &p.day, &p.hours, &p.minutes, &p.seconds, &p.ms};
    const std::size_t first = P == Part::Month     ? 0
                              : P == Part::Day     ? 1
                              : P == Part::Hours   ? 2
                              : P == Part::Minutes ? 3
                              : P == Part::Seconds ? 4
                                                   : 5;
    // setDate takes the day alone; the others take the parts below theirs too.
    const std::size_t last = P == Part::Day ? 1 : P == Part::Month ? 1 : 5;
    for (std::size_t i = first, arg = 0; i <= last; ++i, ++arg)
        *order[i] = arg == 0 ? ArgOr(call, 0, NaN) : ArgOr(call, arg, *order[i]);
    return SetTimeOf(call, MakeDate(p.year, p.month, p.day, p.hours, p.minutes, p.seconds, p.ms));
}

QString TwoDigits(double value) {
    return QString::number(int(value)).rightJustified(2, u'0');
}

QString DateText(double time) {
    if (std::isnan(time))
        return QStringLiteral("Invalid Date");
    static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Parts p = Split(time);
    return QStringLiteral("%1 %2 %3 %4:%5:%6 GMT+0000 %7")
        .arg(QLatin1String(Days[int(p.weekday)]), QLatin1String(Months[int(p.month)]))
        .arg(int(p.day))
        .arg(TwoDigits(p.hours), TwoDigits(p.minutes), TwoDigits(p.seconds))
        .arg(qint64(p.year));
}

ActionValue DateToString(NativeCall& call) {
    return DateText(TimeOf(call));
}

} // namespace

void SetUpDateBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.NewObject();
    if (!prototype)
        return;
    // Local time is UTC: each getter and setter serves both names.
    const std::pair<const char*, NativeFunction> Both[] = {
        {"FullYear", Get<Part::Year>},   {"Month", Get<Part::Month>},     {"Date", Get<Part::Day>},
        {"Day", Get<Part::Weekday>},     {"Hours", Get<Part::Hours>},     {"Minutes", Get<Part::Minutes>},
        {"Seconds", Get<Part::Seconds>}, {"Milliseconds", Get<Part::Ms>},
    };
    const std::pair<const char*, NativeFunction> Setters[] = {
        {"FullYear", SetYear<false>},    {"Month", Set<Part::Month>},     {"Date", Set<Part::Day>},
        {"Hours", Set<Part::Hours>},     {"Minutes", Set<Part::Minutes>}, {"Seconds", Set<Part::Seconds>},
        {"Milliseconds", Set<Part::Ms>},
    };
    std::vector<NativeMethod> methods = {{"getYear", Get<Part::ShortYear>},
                                         {"setYear", SetYear<true>},
                                         {"getTime", GetTime},
                                         {"valueOf", GetTime},
                                         {"setTime", SetTime},
                                         {"getTimezoneOffset", GetTimezoneOffset},
                                         {"toString", DateToString}};
    std::vector<QByteArray> names; // keeps the built names alive while the methods are defined
    names.reserve(std::size(Both) * 2 + std::size(Setters) * 2);
    for (const auto& [part, getter] : Both)
        for (const char* prefix : {"get", "getUTC"}) {
            names.push_back(QByteArray(prefix) + part);
            methods.push_back({names.back().constData(), getter});
        }
    for (const auto& [part, setter] : Setters)
        for (const char* prefix : {"set", "setUTC"}) {
            names.push_back(QByteArray(prefix) + part);
            methods.push_back({names.back().constData(), setter});
        }
    DefineMethods(vm, prototype, methods);
    ScriptObject* date = vm.NewNative(DateConstructor, prototype);
    if (!date)
        return;
    DefineMethods(vm, date, {{"UTC", Utc}});
    vm.Define(vm.Global(), QStringLiteral("Date"), date);
}

} // namespace flash
