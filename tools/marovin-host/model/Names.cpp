// Words for the model's states, as people and feeds read them.
#include "model/LinkState.h"
#include "model/Notice.h"

namespace marovin_host {

const char *linkStateName(LinkState state)
{
    switch (state) {
    case LinkState::Up:
        return "up";
    case LinkState::Down:
        return "down";
    case LinkState::Reconnecting:
        return "reconnecting";
    }
    return "?";
}

const char *noticeKindName(Notice::Kind kind)
{
    switch (kind) {
    case Notice::Info:
        return "info";
    case Notice::LinkDown:
        return "link down";
    case Notice::LinkUp:
        return "link up";
    case Notice::GiveUp:
        return "give-up";
    case Notice::WriteFailed:
        return "write failed";
    case Notice::OnceRead:
        return "once-read";
    case Notice::Noise:
        return "noise";
    }
    return "?";
}

}  // namespace marovin_host
