#include "platform/SysUtils.h"

#include <cstring>

QString SysErrorMessage(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}
