#!/usr/bin/env bash
# The example hosts: examples/minimal_host against the simulator on a pty
# (values read, a write landed in the simulator's memory), and examples/linked
# built against an install tree through find_package(Marovin).
source "$(dirname "$0")/host_common.sh" "$1"

start_sim minimal --set 1:1:10=100 --set 1:1:11=7 --set 1:2:20=4000000000 --dump-on-exit "$WORK/sim.mem" || exit 1
timeout -k 5 30 "$BUILD_DIR/examples/minimal_host" "$SIM_LINE" "$BUILD_DIR/lib/libMarovin.so.1" \
    >"$WORK/minimal.out" 2>"$WORK/minimal.err"
check "minimal_host exits 0" [ $? -eq 0 ] || cat "$WORK/minimal.err"
check "minimal_host shows the values, writes, shows the value written" diff - "$WORK/minimal.out" <<'OUT'
1:1:10 = 100
1:1:11 = 7
1:2:20 = 4000000000
write 1:1:11 = 0x1234: status 1
1:1:10 = 100
1:1:11 = 4660
1:2:20 = 4000000000
OUT
stop_sim "$SIM_PID"
check "the write is in the simulator's memory" grep -qx '1:1:11=4660' "$WORK/sim.mem"

PREFIX="$WORK/prefix" MAN3="$WORK/prefix/share/man/man3"
quiet() { "$@" >>"$WORK/build.log" 2>&1 || { cat "$WORK/build.log"; return 1; }; }
check "cmake --install" quiet cmake --install "$BUILD_DIR" --prefix "$PREFIX"
check "a man page per entry point and callback" quiet ls "$MAN3"/{marovin,SetComInfo,FlashLocalRegister,\
RegistCallBackFuncIntf,OnceReadDoneFunc,OwnerNotifyFunc,PLCAddressChangeIntef,AddListReadVar,AddListWriteVar,\
AddListOnceReadVar,ReCreatReadVarList,ComCommunication,DataCom,GetRegisterData,SetRegisterData,QueryFinishFlag}.3
for page in "$MAN3"/*.3; do
    check "man $(basename "$page") renders without warnings" [ -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man -M "$PREFIX/share/man" \
        --warnings=w 3 "$(basename "$page" .3)" 2>&1 >/dev/null)" ]
done
# A sanitizer build's library wants its runtime in the program too.
SAN=$(sed -n 's/^MAROVIN_SANITIZE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
check "examples/linked configures against the install" quiet cmake -S "$SOURCE_DIR/examples/linked" -B "$WORK/linked" \
    -DCMAKE_PREFIX_PATH="$PREFIX" -DCMAKE_CXX_FLAGS="-Werror${SAN:+ -fsanitize=${SAN//;/,}}"
check "examples/linked builds warning-free" quiet cmake --build "$WORK/linked"
check "linked_host uses the installed library" quiet grep -q "$PREFIX/lib/libMarovin.so.1" <(ldd "$WORK/linked/linked_host")
check "linked_host runs against the installed library" diff - <("$WORK/linked/linked_host") <<'OUT'
word 0x10 = 0x1234
request 08 00 10 B0 04 00 11 00 10 ED, reply of 13 bytes expected
OUT
finish
