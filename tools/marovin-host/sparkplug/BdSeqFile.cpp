#include "sparkplug/BdSeqFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace marovin_host {

BdSeqFile::BdSeqFile(const std::string &dir, const std::string &group, const std::string &node)
{
    if (dir.empty())
        return;
    path_ = dir + "/sparkplug-" + group + "-" + node + ".bdseq";
    std::ifstream in(path_);
    int value = -1;
    if (in >> value && value >= 0 && value <= 255)
        last_ = value;
}

int BdSeqFile::next()
{
    return (last_ + 1) % 256;
}

// Written beside and renamed: a crash leaves the old number or the new one.
bool BdSeqFile::keep(int value, std::string *error)
{
    last_ = value;
    if (path_.empty())
        return true;
    const std::string temporary = path_ + ".new";
    std::FILE *f = std::fopen(temporary.c_str(), "w");
    bool ok = f && std::fprintf(f, "%d\n", value) > 0;
    ok = f && std::fclose(f) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path_.c_str()) == 0;
    if (!ok)
        *error = "Sparkplug: cannot keep bdSeq in " + path_ + ": " + std::strerror(errno);
    return ok;
}

}  // namespace marovin_host
