#pragma once

#include <QVariant>
#include <QVariantList>

#include <cstdint>
#include <string_view>

class zozEZUdeZid;

// One member of the object's bus interface, as the generated table (zozEZUdeZidMembers.h, made
// from the interface XML at build time) lists it: get/put pairs are one property, put-only
// members write-only properties. The adaptor only translates between a bus message and these
// calls; the object's members themselves never fail towards the parent.
namespace bus {

enum class MemberKind { Method, Property };

enum class Access { None, Read, Write, ReadWrite };

struct Member
{
    std::string_view name;
    MemberKind kind;
    // Methods: the in and out signatures. Properties: the value's type in inSignature.
    std::string_view inSignature;
    std::string_view outSignature;
    Access access;
    std::uint32_t dispId; // 0 for the bus layer's own member
    QVariant (*get)(zozEZUdeZid &object);
    void (*set)(zozEZUdeZid &object, const QVariant &value);
    // Arguments already checked against inSignature. Null for the bus layer's own member
    // (Advise, the one without a dispatch id), which the adaptor serves itself.
    QVariant (*invoke)(zozEZUdeZid &object, const QVariantList &arguments);
};

inline constexpr bool canRead(Access a)
{
    return a == Access::Read || a == Access::ReadWrite;
}
inline constexpr bool canWrite(Access a)
{
    return a == Access::Write || a == Access::ReadWrite;
}

} // namespace bus
