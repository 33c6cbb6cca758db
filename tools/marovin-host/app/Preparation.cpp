// From the option texts to checked variables, once-reads and encoded writes.
#include "app/Wiring.h"

#include "config/DemoVariables.h"
#include "config/TagFile.h"
#include "config/VariableText.h"
#include "writes/CommandLineWrites.h"

namespace marovin_host {

namespace {

// Parses -v, --vars, --tags, -o and -w into their records.
bool parseSpecs(const HostOptions &o, std::vector<VariableSpec> *variables, std::vector<VariableSpec> *onceReads,
                std::vector<WriteSpec> *writes, std::string *error)
{
    for (const std::string &text : o.variables) {
        VariableSpec spec;
        if (!parseVariable(text, &spec, error))
            return false;
        variables->push_back(spec);
    }
    for (const std::string &path : o.variableFiles) {
        if (!readVariableFile(path, variables, error))
            return false;
    }
    for (const std::string &path : o.tagFiles) {
        if (!readTagFile(path, variables, error))
            return false;
    }
    for (const std::string &text : o.onceReads) {
        VariableSpec spec;
        if (!parseVariable(text, &spec, error, "once-read"))
            return false;
        onceReads->push_back(spec);
    }
    for (const std::string &text : o.writes) {
        WriteSpec spec;
        if (!parseWrite(text, &spec, error))
            return false;
        writes->push_back(spec);
    }
    return true;
}

// Sets the failure and says no.
bool fail(Failure *failure, int code, const std::string &message)
{
    failure->code = code;
    failure->message = message;
    return false;
}

}  // namespace

DriverSettings driverSettings(const HostOptions &o)
{
    DriverSettings s;
    s.station = o.station;
    s.multiStation = o.multiStation;
    s.retries = o.retries;
    s.maxUnits = o.maxUnits;
    s.writeMode = o.writeMode;
    s.remote = o.remote;
    s.linkNo = o.linkNo;
    return s;
}

LoopSettings loopSettings(const HostOptions &o, const std::string &portText)
{
    LoopSettings s;
    s.timeoutMs = o.timeoutMs;
    s.interByteMs = o.interByteMs;
    s.turnaroundMs = o.turnaroundMs;
    s.refreshMs = o.refreshMs;
    s.cycles = o.cycles;
    s.durationS = o.durationS;
    s.linkTimeoutS = o.linkTimeoutS;
    s.multiStation = o.multiStation;
    s.cacheWrites = o.writeMode != 2;
    s.rtPriority = o.rtPriority;
    s.portText = portText;
    return s;
}

bool prepareVariables(const HostOptions &o, std::unique_ptr<Driver> *driver, HostVariables *vars,
                      std::vector<WriteRequest> *writes, Failure *failure)
{
    std::string error;
    std::vector<VariableSpec> variables;
    std::vector<VariableSpec> onceReads;
    std::vector<WriteSpec> writeSpecs;
    if (!parseSpecs(o, &variables, &onceReads, &writeSpecs, &error))
        return fail(failure, kUsage, error);
    if (variables.empty()) {
        if (o.portKind == PortKind::Simulator)
            variables = demoVariables();
        else if (onceReads.empty() && writeSpecs.empty())
            return fail(failure, kUsage, "no variables: give -v STATION:AREA:ADDR, --vars FILE, --tags FILE, -w or -o");
    }
    *driver = Driver::load(o.libraryPath, &error);
    if (!*driver)
        return fail(failure, kRuntimeFailure, error);
    const DriverSettings settings = driverSettings(o);
    if (!setUpVariables(**driver, settings, variables, onceReads, writeSpecs, vars, &error))
        return fail(failure, kUsage, error);
    if (!encodeCommandLineWrites(vars->writes, o.writeMode == 2, o.maxUnits, writes, &error))
        return fail(failure, kUsage, error);
    return true;
}

}  // namespace marovin_host
