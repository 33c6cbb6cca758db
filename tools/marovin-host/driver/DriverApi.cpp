// dlopen and dlsym of libMarovin.so.1 by plain symbol names.
#include "driver/DriverApi.h"

#include "util/OwnFolder.h"

#include <dlfcn.h>

#include <vector>

#ifndef MAROVIN_HOST_INSTALLED_LIBRARY
#define MAROVIN_HOST_INSTALLED_LIBRARY "../lib/libMarovin.so.1"
#endif
#ifndef MAROVIN_HOST_DEFAULT_LIBRARY
#define MAROVIN_HOST_DEFAULT_LIBRARY ""
#endif

namespace marovin_host {

namespace {

// Resolves one symbol into a typed pointer; records the first missing name.
template <typename F>
void resolve(void *handle, const char *name, F *target, std::string *missing)
{
    void *symbol = dlsym(handle, name);
    if (!symbol && missing->empty()) {
        const char *why = dlerror();
        *missing = std::string(name) + (why ? std::string(": ") + why : std::string());
    }
    *target = reinterpret_cast<F>(symbol);
}

}  // namespace

bool loadDriver(const std::string &explicitPath, DriverApi *api, std::string *error)
{
    std::vector<std::string> candidates;
    if (!explicitPath.empty()) {
        candidates.push_back(explicitPath);
    } else {
        const std::string built = MAROVIN_HOST_DEFAULT_LIBRARY;
        if (!built.empty() && runsInBuildTree())
            candidates.push_back(built);
        // Installed: bin/marovin-host beside lib/libMarovin.so.1.
        const std::string folder = ownFolder();
        if (!folder.empty())
            candidates.push_back(folder + "/" + MAROVIN_HOST_INSTALLED_LIBRARY);
        candidates.push_back("libMarovin.so.1");
    }

    std::string reasons;
    void *handle = nullptr;
    for (const std::string &candidate : candidates) {
        handle = dlopen(candidate.c_str(), RTLD_NOW);
        if (handle) {
            api->path = candidate;
            break;
        }
        const char *why = dlerror();
        reasons += (reasons.empty() ? "" : "; ") + std::string(why ? why : candidate.c_str());
    }
    if (!handle) {
        *error = "cannot load the driver library: " + reasons;
        return false;
    }

    dlerror();
    std::string missing;
    resolve(handle, "SetComInfo", &api->setComInfo, &missing);
    resolve(handle, "FlashLocalRegister", &api->flashLocalRegister, &missing);
    resolve(handle, "RegistCallBackFuncIntf", &api->registCallBackFuncIntf, &missing);
    resolve(handle, "PLCAddressChangeIntef", &api->plcAddressChangeIntef, &missing);
    resolve(handle, "AddListReadVar", &api->addListReadVar, &missing);
    resolve(handle, "AddListWriteVar", &api->addListWriteVar, &missing);
    resolve(handle, "AddListOnceReadVar", &api->addListOnceReadVar, &missing);
    resolve(handle, "ReCreatReadVarList", &api->reCreatReadVarList, &missing);
    resolve(handle, "ComCommunication", &api->comCommunication, &missing);
    resolve(handle, "DataCom", &api->dataCom, &missing);
    resolve(handle, "GetRegisterData", &api->getRegisterData, &missing);
    resolve(handle, "SetRegisterData", &api->setRegisterData, &missing);
    resolve(handle, "QueryFinishFlag", &api->queryFinishFlag, &missing);
    if (!missing.empty()) {
        dlclose(handle);
        *error = "the driver library " + api->path + " lacks an entry point: " + missing;
        return false;
    }
    api->handle = handle;
    return true;
}

}  // namespace marovin_host
