#include "platform/Classes.h"

#include "platform/SysUtils.h"

void TPersistent::Assign(const TPersistent* Source) {
    const QString sourceName = Source ? Source->ClassName() : QStringLiteral("nil");
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2").arg(sourceName, ClassName()));
}
