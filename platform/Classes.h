#pragma once
// Small base classes for objects that can copy each other and for owned components.

#include <QString>

class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies Source into this object; the base raises EConvertError "Cannot assign a %s to a %s".
    virtual void Assign(const TPersistent* Source);
    virtual QString ClassName() const { return QStringLiteral("TPersistent"); }
};

// A component optionally belongs to an owner, which destroys it; here ownership is kept by the
// owner's own members, so the owner pointer is only a back reference.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {}
    TComponent* GetOwner() const { return FOwner; }
    QString ClassName() const override { return QStringLiteral("TComponent"); }

private:
    TComponent* FOwner;
};
