#include "platform/SysUtils.h"

#include <cstring>

namespace win {

QString SysErrorMessage(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

} // namespace win
