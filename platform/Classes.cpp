#include "platform/Classes.h"

#include "platform/SysUtils.h"

#include <algorithm>

namespace win {

void TPersistent::Assign(const TPersistent* Source) {
    const QString sourceName = Source ? Source->ClassName() : QStringLiteral("nil");
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2").arg(sourceName, ClassName()));
}

TComponent::~TComponent() {
    // Copied first: the notified components unregister themselves while they are told.
    const std::vector<TComponent*> notifies = std::move(FFreeNotifies);
    FFreeNotifies.clear();
    for (TComponent* component : notifies) {
        std::erase(component->FFreeNotifies, this);
        component->Notification(this, opRemove);
    }
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this)
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(AComponent);
        AComponent->FFreeNotifies.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (!AComponent)
        return;
    std::erase(FFreeNotifies, AComponent);
    std::erase(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

} // namespace win
