// Status codes are a base per error kind and link plus an offset from ownerType.
#include "model/Status.h"

namespace marovin_host {

namespace {

struct Base {
    int base;
    StatusInfo::Kind kind;
    bool remote;
};

const Base kBases[] = {
    {10, StatusInfo::CheckFailed, false}, {40, StatusInfo::NoReply, false},  {70, StatusInfo::WrongLength, false},
    {110, StatusInfo::CheckFailed, true}, {140, StatusInfo::NoReply, true}, {170, StatusInfo::WrongLength, true},
};

}  // namespace

StatusInfo decodeStatus(int code)
{
    StatusInfo info;
    if (code == 0) {
        info.kind = StatusInfo::Repeat;
        return info;
    }
    if (code == 1) {
        info.kind = StatusInfo::Success;
        return info;
    }
    if (code == 100) {
        info.kind = StatusInfo::Accepted;
        info.remote = true;
        return info;
    }
    for (const Base &b : kBases) {
        if (code > b.base && code <= b.base + 12) {
            info.kind = b.kind;
            info.remote = b.remote;
            info.offset = code - b.base;
            info.ownerType = info.offset >= 2 ? info.offset - 1 : -1;
            return info;
        }
    }
    info.kind = StatusInfo::Other;
    return info;
}

std::string describeStatus(int code)
{
    const StatusInfo info = decodeStatus(code);
    std::string kind;
    switch (info.kind) {
    case StatusInfo::Repeat:
        return "repeat pending";
    case StatusInfo::Success:
        return "ok";
    case StatusInfo::Accepted:
        return "accepted (remote)";
    case StatusInfo::CheckFailed:
        kind = "check failed";
        break;
    case StatusInfo::NoReply:
        kind = "no reply";
        break;
    case StatusInfo::WrongLength:
        kind = "wrong length";
        break;
    case StatusInfo::Other:
        return "other outcome";
    }
    const std::string owner = info.ownerType >= 0 ? "ownerType " + std::to_string(info.ownerType) : "ownerType 0";
    return kind + ", " + (info.remote ? "remote" : "local") + ", " + owner;
}

const char *statusWord(int code)
{
    switch (decodeStatus(code).kind) {
    case StatusInfo::Repeat:
        return "repeat";
    case StatusInfo::Success:
        return "ok";
    case StatusInfo::Accepted:
        return "accepted";
    case StatusInfo::CheckFailed:
        return "check";
    case StatusInfo::NoReply:
        return "noreply";
    case StatusInfo::WrongLength:
        return "length";
    case StatusInfo::Other:
        break;
    }
    return "other";
}

}  // namespace marovin_host
