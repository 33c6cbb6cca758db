// marovin-host's --config file, read as the host reads it: its own check of
// names and places (tools/port/ConfigFile), then CLI11's config parser and every
// option's own check, through parseOptions. Any text ends in options, a usage
// error (exit status 2) or help, never in an exception or a crash.
#include <cstdint>
#include <cstdio>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "config/HostOptions.h"

namespace {

int file = -1;
std::string path;
std::FILE *sink = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    file = memfd_create("config", 0);
    path = "/proc/self/fd/" + std::to_string(file);
    sink = std::fopen("/dev/null", "w");
    return file >= 0 && sink ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(ftruncate(file, 0) == 0);
    check(pwrite(file, data, size, 0) == static_cast<ssize_t>(size));
    char program[] = "marovin-host";
    char option[] = "--config";
    char *argv[] = {program, option, &path[0], nullptr};
    marovin_host::HostOptions options;
    const int code = marovin_host::parseOptions(3, argv, &options, sink, sink);
    check(code == -1 || code == 0 || code == 2);
    return 0;
}
