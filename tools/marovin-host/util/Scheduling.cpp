#include "util/Scheduling.h"

#include <pthread.h>
#include <sched.h>

#include <cstring>

namespace marovin_host {

bool raiseThreadPriority(int priority, std::string *why)
{
    sched_param param{};
    param.sched_priority = priority;
    const int rc = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (rc == 0)
        return true;
    *why = std::string(std::strerror(rc)) +
           (rc == EPERM ? " (run as root, with CAP_SYS_NICE, or with LimitRTPRIO in the service's unit)" : "");
    return false;
}

void ordinaryThread()
{
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0 || policy == SCHED_OTHER)
        return;
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

}  // namespace marovin_host
