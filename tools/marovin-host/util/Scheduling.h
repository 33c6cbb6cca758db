// The exchange thread's real-time priority: a line keeps its pace on a busy
// box only if its thread runs when a reply is due.
#ifndef MAROVIN_HOST_UTIL_SCHEDULING_H
#define MAROVIN_HOST_UTIL_SCHEDULING_H

#include <string>

namespace marovin_host {

// Gives the calling thread SCHED_FIFO at priority (1..99); false with why
// (and what would allow it) when the system refuses.
bool raiseThreadPriority(int priority, std::string *why);
// Puts the calling thread back to ordinary scheduling: threads started by a
// real-time thread inherit its policy, and only the exchange needs it.
void ordinaryThread();

}  // namespace marovin_host

#endif
