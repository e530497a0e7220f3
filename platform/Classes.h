#pragma once
// Small base classes for objects that can copy each other and for owned components.

#include <QString>
#include <vector>

namespace win {

class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies Source into this object; the base raises EConvertError "Cannot assign a %s to a %s".
    virtual void Assign(const TPersistent* Source);
    virtual QString ClassName() const { return QStringLiteral("TPersistent"); }
};

enum TOperation { opInsert, opRemove };

// A component optionally belongs to an owner, which destroys it; here ownership is kept by the
// owner's own members, so the owner pointer is only a back reference. Components that refer to one
// another ask to be told when the other is destroyed (FreeNotification → Notification opRemove).
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {}
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* GetOwner() const { return FOwner; }
    QString ClassName() const override { return QStringLiteral("TComponent"); }

    // AComponent's Notification(this, opRemove) runs when this component is destroyed (and the
    // other way round).
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    TComponent* FOwner;
    std::vector<TComponent*> FFreeNotifies;
};

} // namespace win
