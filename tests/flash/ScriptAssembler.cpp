// Action code from text for tests: tokens to records through the test writer.
#include "ScriptAssembler.h"

#include "SwfWriter.h"

#include <QRegularExpression>
#include <map>
#include <stdexcept>

namespace flash::writer {

namespace {

const std::map<QString, action::Code>& Codes() {
    static const std::map<QString, action::Code> codes = {
        {"Add", action::Add},
        {"Add2", action::Add2},
        {"CallFunction", action::CallFunction},
        {"CallMethod", action::CallMethod},
        {"CastOp", action::CastOp},
        {"Decrement", action::Decrement},
        {"DefineLocal", action::DefineLocal},
        {"Delete", action::Delete},
        {"Delete2", action::Delete2},
        {"Divide", action::Divide},
        {"Enumerate", action::Enumerate},
        {"Enumerate2", action::Enumerate2},
        {"Equals2", action::Equals2},
        {"Extends", action::Extends},
        {"GetMember", action::GetMember},
        {"GetTime", action::GetTime},
        {"GetVariable", action::GetVariable},
        {"Greater", action::Greater},
        {"ImplementsOp", action::ImplementsOp},
        {"Increment", action::Increment},
        {"InitArray", action::InitArray},
        {"InitObject", action::InitObject},
        {"InstanceOf", action::InstanceOf},
        {"Less2", action::Less2},
        {"Multiply", action::Multiply},
        {"NewMethod", action::NewMethod},
        {"NewObject", action::NewObject},
        {"Not", action::Not},
        {"Pop", action::Pop},
        {"PushDuplicate", action::PushDuplicate},
        {"Return", action::Return},
        {"SetMember", action::SetMember},
        {"SetVariable", action::SetVariable},
        {"StackSwap", action::StackSwap},
        {"StrictEquals", action::StrictEquals},
        {"StringAdd", action::StringAdd},
        {"Subtract", action::Subtract},
        {"ToNumber", action::ToNumber},
        {"ToString", action::ToString},
        {"Trace", action::Trace},
        {"TypeOf", action::TypeOf},
    };
    return codes;
}

ActionCode& Token(ActionCode& code, const QString& token) {
    if (token.startsWith(u'\''))
        return code.PushString(token.mid(1, token.size() - 2));
    if (token == u"undefined")
        return code.Op(action::Push, QByteArray(1, 3));
    if (token == u"null")
        return code.Op(action::Push, QByteArray(1, 2));
    if (token == u"true" || token == u"false")
        return code.PushBool(token == u"true");
    if (token.startsWith(u"r:"))
        return code.Op(action::Push, QByteArray(1, 4) + char(token.mid(2).toInt()));
    if (token.startsWith(u"store:"))
        return code.Op(action::StoreRegister, QByteArray(1, char(token.mid(6).toInt())));
    if (token.startsWith(u"If:"))
        return code.If(std::int16_t(token.mid(3).toInt()));
    if (token.startsWith(u"Jump:"))
        return code.Jump(std::int16_t(token.mid(5).toInt()));
    bool isNumber = false;
    const double number = token.toDouble(&isNumber);
    if (isNumber)
        return number == std::int32_t(number) && !token.contains(u'.') ? code.PushInt(std::int32_t(number))
                                                                       : code.PushDouble(number);
    const auto found = Codes().find(token);
    if (found == Codes().end())
        throw std::invalid_argument("unknown token: " + token.toStdString());
    return code.Op(found->second);
}

} // namespace

QByteArray Assemble(const QString& source) {
    static const QRegularExpression Tokens(QStringLiteral(R"('[^']*'|\S+)"));
    ActionCode code;
    for (const QRegularExpressionMatch& match : Tokens.globalMatch(source))
        Token(code, match.captured(0));
    return code.Data().chopped(1);
}

QByteArray DefineFunction(const QString& name, const QStringList& params, const QByteArray& body) {
    Bits payload;
    payload.String(name).U16(std::uint32_t(params.size()));
    for (const QString& param : params)
        payload.String(param);
    payload.U16(std::uint32_t(body.size()));
    return ActionCode().Op(action::DefineFunction, payload.Data()).Data().chopped(1) + body;
}

QByteArray ForIn(const QByteArray& body) {
    constexpr int JumpSize = 5;
    const QByteArray test = Assemble(QStringLiteral("store:0 null Equals2"));
    const QByteArray ifSize = Assemble(QStringLiteral("If:0"));
    const int loopSize = int(test.size() + ifSize.size() + body.size() + JumpSize);
    return Assemble(QStringLiteral("Enumerate2")) + test +
           Assemble(QStringLiteral("If:%1").arg(body.size() + JumpSize)) + body +
           Assemble(QStringLiteral("Jump:%1").arg(-loopSize));
}

} // namespace flash::writer
