// The birth-death sequence number (bdSeq) of the last MQTT session, kept in
// the state folder so that a restarted edge node goes on from it: a host
// application then never takes the will of an older session for the new one.
#ifndef MAROVIN_HOST_SPARKPLUG_BD_SEQ_FILE_H
#define MAROVIN_HOST_SPARKPLUG_BD_SEQ_FILE_H

#include <string>

namespace marovin_host {

class BdSeqFile {
public:
    // dir empty: nothing is kept, the first session has bdSeq 0.
    BdSeqFile(const std::string &dir, const std::string &group, const std::string &node);
    // The bdSeq for the next session: one more than the last kept, 255 to 0.
    int next();
    // Keeps value as the last session's; false with *error (the node goes
    // on, only a restart starts from 0 again).
    bool keep(int value, std::string *error);

private:
    std::string path_;
    int last_ = -1;
};

}  // namespace marovin_host

#endif
