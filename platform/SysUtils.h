#pragma once
// The exception family of the program: every error class carries a user-readable message.

#include <QByteArray>
#include <QString>
#include <exception>

namespace win {

class Exception : public std::exception {
public:
    explicit Exception(const QString& message) : FMessage(message), FUtf8(message.toUtf8()) {}
    const QString& Message() const { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A value could not be converted or assigned.
class EConvertError : public Exception {
    using Exception::Exception;
};

// Text of an operating-system error number, as the C library gives it.
QString SysErrorMessage(int errorNumber);

} // namespace win
