// marovin-host: loads the driver like a panel runtime, registers variables,
// runs the exchange loop and shows the values. Here it only parses, builds
// and runs; the rooms do the rest.
#include "app/Run.h"
#include "config/HostOptions.h"

int main(int argc, char **argv)
{
    marovin_host::HostOptions options;
    const int parsed = marovin_host::parseOptions(argc, argv, &options);
    if (parsed >= 0)
        return parsed;
    return marovin_host::runHost(options);
}
