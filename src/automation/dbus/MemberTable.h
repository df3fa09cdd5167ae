#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The members of the object's bus interface: the automation members (get/put pairs folded into
// one property) plus Advise. The adaptor dispatches through this table and the tests hold it
// against the shipped interface XML, so the two cannot drift apart.
namespace bus {

enum class MemberId {
    Maximize,
    EraseWebCam,
    Visible,
    hWndCam,
    Show,
    SetPosition,
    UpdateParticipant,
    Minimize,
    Height,
    CaptureInterval,
    Maximized,
    TransmitStatus,
    BeforeUnload,
    DebugFlag,
    TransmitPost,
    ParentHandle,
    Pause,
    MinHeight,
    MaxHeight,
    WebCamDefaultPic,
    CurrentTab,
    RecieveWebCamImages,
    Advise,
};

enum class MemberKind { Method, Property };

enum class Access { None, Read, Write, ReadWrite };

struct Member
{
    MemberId id;
    std::string_view name;
    MemberKind kind;
    // Methods: the in and out signatures. Properties: the value's type in inSignature.
    std::string_view inSignature;
    std::string_view outSignature;
    Access access;
    // 0 for Advise, which has no automation counterpart.
    std::uint32_t dispId;
};

inline constexpr bool canRead(Access a)
{
    return a == Access::Read || a == Access::ReadWrite;
}
inline constexpr bool canWrite(Access a)
{
    return a == Access::Write || a == Access::ReadWrite;
}

using enum MemberId;
using enum MemberKind;

inline constexpr std::array kMembers = {
    Member {Maximize, "Maximize", Method, "", "", Access::None, 0x60030005},
    Member {EraseWebCam, "EraseWebCam", Method, "", "", Access::None, 0x60030006},
    Member {Visible, "Visible", Property, "b", "", Access::ReadWrite, 0x68030004},
    Member {hWndCam, "hWndCam", Method, "", "i", Access::None, 0x60030007},
    Member {Show, "Show", Method, "", "", Access::None, 0x60030008},
    Member {SetPosition, "SetPosition", Method, "ii", "", Access::None, 0x60030009},
    Member {UpdateParticipant, "UpdateParticipant", Method, "iss", "", Access::None, 0x6003000a},
    Member {Minimize, "Minimize", Method, "", "", Access::None, 0x6003000b},
    Member {Height, "Height", Property, "i", "", Access::ReadWrite, 0x68030003},
    Member {CaptureInterval, "CaptureInterval", Property, "i", "", Access::ReadWrite, 0x68030002},
    Member {Maximized, "Maximized", Property, "b", "", Access::Read, 0x68030001},
    Member {TransmitStatus, "TransmitStatus", Property, "b", "", Access::ReadWrite, 0x68030000},
    Member {BeforeUnload, "BeforeUnload", Method, "", "", Access::None, 0x6003000c},
    Member {DebugFlag, "DebugFlag", Property, "b", "", Access::Write, 0x6803000d},
    Member {TransmitPost, "TransmitPost", Property, "b", "", Access::Write, 0x6803000e},
    Member {ParentHandle, "ParentHandle", Property, "i", "", Access::Write, 0x6803000f},
    Member {Pause, "Pause", Property, "b", "", Access::Write, 0x68030010},
    Member {MinHeight, "MinHeight", Property, "i", "", Access::Read, 0x68030012},
    Member {MaxHeight, "MaxHeight", Property, "i", "", Access::Read, 0x68030011},
    Member {WebCamDefaultPic, "WebCamDefaultPic", Method, "s", "", Access::None, 0x60030013},
    Member {CurrentTab, "CurrentTab", Property, "i", "", Access::ReadWrite, 0x68030014},
    Member {RecieveWebCamImages, "RecieveWebCamImages", Method, "b", "", Access::None, 0x60030019},
    Member {Advise, "Advise", Method, "o", "", Access::None, 0},
};

// The table is in MemberId order, so an id indexes it.
consteval bool tableIsInIdOrder()
{
    for (std::size_t i = 0; i < kMembers.size(); ++i) {
        if (kMembers[i].id != MemberId(i))
            return false;
    }
    return true;
}
static_assert(tableIsInIdOrder());

constexpr const Member &memberOf(MemberId id)
{
    return kMembers[std::size_t(id)];
}

// Looks a member up by name and kind; names are case-sensitive, as on the bus.
constexpr std::optional<Member> findMember(std::string_view name, MemberKind kind)
{
    for (const Member &m : kMembers) {
        if (m.kind == kind && m.name == name)
            return m;
    }
    return std::nullopt;
}

// The events of the sink interface, with the signature of the call and of its reply (the in-out
// byte array comes back in the reply).
struct SinkEvent
{
    std::string_view name;
    std::string_view inSignature;
    std::string_view outSignature;
    std::uint32_t dispId;
};

inline constexpr std::array kSinkEvents = {
    SinkEvent {"MinMaxResize", "bi", "", 1},
    SinkEvent {"WebCamSnapShot", "ayi", "ay", 2},
    SinkEvent {"WebCamClientPicture", "ayiiiii", "ay", 3},
    SinkEvent {"EraseWebCam", "", "", 4},
    SinkEvent {"ReceiveCamImages", "b", "", 5},
};

} // namespace bus
