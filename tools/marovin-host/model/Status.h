// The driver's status codes taken apart into kind, link and owner offset.
#ifndef MAROVIN_HOST_MODEL_STATUS_H
#define MAROVIN_HOST_MODEL_STATUS_H

#include <string>

namespace marovin_host {

struct StatusInfo {
    enum Kind { Repeat, Success, Accepted, CheckFailed, NoReply, WrongLength, Other } kind = Other;
    bool remote = false;
    int offset = 0;      // 1..12 for error codes
    int ownerType = -1;  // offset - 1 for offsets 2..12; -1 when offset 1 (ownerType 0 or out of 1..11)
};

// Takes a status code apart.
StatusInfo decodeStatus(int code);
// 1 and 100 are the driver's two success codes.
inline bool isSuccess(int code)
{
    return code == 1 || code == 100;
}
// Whether the code is an error (neither success nor a pending repeat).
inline bool isError(int code)
{
    return code != 0 && !isSuccess(code);
}
// Short text: "ok", "repeat", "no reply, local, ownerType 3", ...
std::string describeStatus(int code);
// One word for the table: ok, accepted, repeat, check, noreply, length, other.
const char *statusWord(int code);
// The word of a row's last status, or "pending" before its first exchange (-1).
inline const char *rowStatusWord(int lastStatus)
{
    return lastStatus < 0 ? "pending" : statusWord(lastStatus);
}

}  // namespace marovin_host

#endif
