#!/usr/bin/env bash
# The fences between marovin-host's rooms hold: the real tree passes, and each
# kind of forbidden #include put into a copy of it is refused with its file,
# line and arrow.
source "$(dirname "$0")/host_common.sh" "$1"
fences() { cmake -DHOST_DIR="$1" -P "$SOURCE_DIR/cmake/HostFences.cmake" >"$WORK/out" 2>&1; }

check "the tree keeps its fences" fences "$SOURCE_DIR/tools/marovin-host"
# refused FILE LINE-TO-ADD PATTERN: a copy with the line added is refused with the pattern.
refused() {
    rm -rf "$WORK/copy" && mkdir -p "$WORK/copy/tools" && cp -r "$SOURCE_DIR/tools/marovin-host" "$WORK/copy/tools/"
    sed -i "1i $2" "$WORK/copy/tools/marovin-host/$1"
    ! fences "$WORK/copy/tools/marovin-host" && grep -q -- "$1:1: $3" "$WORK/out"
}
check "the loop knows no output" refused loop/Loop.cpp '#include "mqtt/MqttOutput.h"' 'loop/ must not include mqtt/'
check "the loop knows no option" refused loop/Exchange.cpp '#include "config/HostOptions.h"' 'loop/ must not include config/'
check "mqtt and web stay apart" refused mqtt/MqttOutput.cpp '#include "web/WebFeed.h"' 'mqtt/ must not include web/'
check "model includes nothing above it" refused model/Tag.cpp '#include "loop/Output.h"' 'model/ must not include loop/'
check "an output includes no other output" refused outputs/CsvOutput.cpp '#include "outputs/TableOutput.h"' 'an output includes no other output'
check "outputs see only the loop's door" refused web/WebOutput.cpp '#include "loop/Outputs.h"' 'web/ reaches the loop only through loop/Output.h'
check "only web/ sees cpp-httplib" refused outputs/TableOutput.cpp '#include <httplib.h>' 'only web may include httplib.h'
check "only driver/ sees the driver's header" refused loop/Loop.cpp '#include "Marovin.h"' 'only driver may include Marovin.h'
check "only config/ sees CLI11" refused app/Run.cpp '#include <CLI/CLI.hpp>' 'only config may include CLI/CLI.hpp'
check "only mqtt/ sees libmosquitto" refused web/WebOutput.cpp '#include <mosquitto.h>' 'only mqtt may include mosquitto.h'
finish
