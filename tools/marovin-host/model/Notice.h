// Something people should hear about: a give-up, a failed write, a link change.
#ifndef MAROVIN_HOST_MODEL_NOTICE_H
#define MAROVIN_HOST_MODEL_NOTICE_H

#include <string>
#include <utility>

namespace marovin_host {

struct Notice {
    enum Kind { Info, LinkDown, LinkUp, GiveUp, WriteFailed, OnceRead, Noise };
    Notice(Kind k, std::string t) : kind(k), text(std::move(t)) {}
    Kind kind;
    std::string text;
};

// The kind as a word for pages and feeds: "info", "link down", ...
const char *noticeKindName(Notice::Kind kind);

}  // namespace marovin_host

#endif
