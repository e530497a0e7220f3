#pragma once
// Action code from a short text, for tests that write scripts: one token per push or action.
//
//     'text'      pushes a string (no quote inside)      12, -2.5    push a number
//     undefined, null, true, false                       r:1         pushes register 1
//     store:1     StoreRegister 1                        If:+12, Jump:-7   branches by bytes
//     Trace, GetMember, CallMethod ...                   an action by its name in action::Code
//
// An unknown token is a mistake in the test: Assemble throws std::invalid_argument naming it.
// Function bodies are assembled apart and joined with DefineFunction below.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace flash::writer {

// The records, without an end.
QByteArray Assemble(const QString& source);
// DefineFunction (version 1: parameters by name) followed by its body; an empty name pushes the
// function, a name defines it as a variable.
QByteArray DefineFunction(const QString& name, const QStringList& params, const QByteArray& body);
// for (name in object) { body }: the object on the stack goes to Enumerate2, each name to
// register 0 before body runs.
QByteArray ForIn(const QByteArray& body);

} // namespace flash::writer
