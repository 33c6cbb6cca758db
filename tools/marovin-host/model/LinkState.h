// Whether the line's link is up, as the loop and its outputs see it.
#ifndef MAROVIN_HOST_MODEL_LINK_STATE_H
#define MAROVIN_HOST_MODEL_LINK_STATE_H

namespace marovin_host {

enum class LinkState { Up, Down, Reconnecting };

const char *linkStateName(LinkState state);

}  // namespace marovin_host

#endif
