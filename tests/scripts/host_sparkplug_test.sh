#!/usr/bin/env bash
# The Sparkplug B 3.0 edge node against a mosquitto started here, read by a
# decoder that is not ours (tests/sparkplug: the npm package
# sparkplug-payload with its own copy of the schema): births and their
# metrics, is_null before the first read, DDEATH and DBIRTH as stations stop
# and start answering, DDATA by alias, seq 0..255 and round, Rebirth without
# a reconnect, DCMD writes landing, refused and bad commands writing nothing
# and counted, bdSeq across a broker restart, a kill -9 (the will carries
# the last NBIRTH's) and a restart (kept in --state-dir, 255 to 0), a
# primary host application offline and online, a clean stop's NDEATH.
source "$(dirname "$0")/host_common.sh" "$1"
npm_deps sparkplug || { echo "FAIL: npm ci"; exit 1; }
SP="$SOURCE_DIR/tests/sparkplug/sparkplug.js"

PORT=$(free_port)
M=(-h 127.0.0.1 -p "$PORT")
start_broker b "$PORT" "allow_anonymous true"
# spsub NAME: every Sparkplug message, "TOPIC HEX" a line, into NAME.sub (SUB_PID).
spsub() { sub "$1" "${M[@]}" -q 1 -F '%t %x' -t 'spBv1.0/#'; SUB_PID=$!; }
# sp NAME TOPIC_END: the decoded payloads of the messages whose topic ends so, in order
# (the births too, for the datatypes of the aliases).
sp() { grep -aE "BIRTH/|$2 " "$WORK/$1.sub" | node "$SP" decode | awk -v e="$2" 'substr($1, length($1) - length(e) + 1) == e { sub(/^[^ ]* /, ""); print }'; }
# last NAME TOPIC_END FILTER: the last such payload passes jq's FILTER.
last() { sp "$1" "$2" | tail -n 1 | jq -e "$3" >/dev/null; }
seen() { sp "$1" "$2" | jq -s -e "any(.[]; $3)" >/dev/null; }
many() { [ "$(sp "$1" "$2" | wc -l)" -ge "$3" ]; }
# cmd TOPIC_END JSON: a command encoded by the decoder's package.
cmd() { node "$SP" encode "$2" | mosquitto_pub "${M[@]}" -q 1 -t "spBv1.0/plant/$1" -s; }
# metric NAME: a metric's counters of the node, from its last NBIRTH.
counter() { sp main NBIRTH/edge1 | tail -n 1 | jq -r ".metrics[] | select(.name == \"$1\") | .value"; }

cat >"$WORK/line.tags" <<'TAGS'
speed = 1:w16:11 rw scale=0.1 unit=rpm
cnt = 1:d32:24
al = 1:bit:12 rw
sp = 1:float:50 rw
ro = 1:w16:13 type=u16
s2 = 2:w16:10 rw
TAGS
start_sim line --tcp 127.0.0.1:0 --stations 1,2 --set 1:1:11=1234 --set 1:5:50=12.5 --set 1:0:12=1 \
    --set 1:1:13=65535 --set 2:1:10=-7 --animate 1:2:24=counter --tick 10 --trace --dump-on-exit "$WORK/sim.dump"
mkdir -p "$WORK/state"
G=(--sparkplug plant/edge1 --mqtt "mqtt://127.0.0.1:$PORT" --state-dir "$WORK/state" --multi-station
   --tcp "127.0.0.1:$SIM_LINE" --timeout 400 --retries 1)
spsub main
kill -STOP "$SIM_PID"
gateway main "${G[@]}" --store "$WORK/main.db"
check "NBIRTH: seq 0, bdSeq 0 (Int64), Rebirth false, the node's metrics" wait_for last main NBIRTH/edge1 \
    '.seq == 0 and .metrics[0] == {name: "bdSeq", type: 4, value: 0} and
     (.metrics[1] | .name == "Node Control/Rebirth" and .type == 11 and .value == false) and
     ([.metrics[].name] | contains(["Link/Up", "Link/Exchanges", "Link/Give-ups", "Commands/Bad"]))'
check "DBIRTH before the first read: every metric is_null" wait_for last main DBIRTH/edge1/station1 'all(.metrics[]; .null)'
check "no station answers: DDEATH of both" wait_for many main DDEATH/edge1/station2 1
check "DDEATH of station1 too" many main DDEATH/edge1/station1 1
kill -CONT "$SIM_PID"
check "they answer again: DBIRTH of station1" wait_for many main DBIRTH/edge1/station1 2
check "DBIRTH of station2: Int16 -7" wait_for last main DBIRTH/edge1/station2 '.metrics == [.metrics[0]] and .metrics[0].type == 2 and .metrics[0].value == -7'
check "DDATA: by alias only, with the read time, only the changed counter" wait_for last main DDATA/edge1/station1 \
    '.metrics | length == 1 and .[0].name == null and .[0].type == null and .[0].alias == 101 and .[0].ts > 0'

# Commands: a write by name, one by alias, then refused and bad ones that write nothing.
cmd DCMD/edge1/station1 '{"metrics":[{"name":"speed","type":"Double","value":55.5}]}'
check "DCMD landed: DDATA speed 55.5" wait_for seen main DDATA/edge1/station1 'any(.metrics[]; .alias == 100 and .value == 55.5)'
cmd DCMD/edge1/station2 '{"metrics":[{"alias":105,"type":"Int16","value":-12}]}'
check "DCMD by alias: DDATA s2 -12" wait_for seen main DDATA/edge1/station2 '.metrics[0].value == -12'
cmd DCMD/edge1/station1 '{"metrics":[{"name":"speed","type":"Double","value":60},{"name":"ro","type":"UInt16","value":5}]}'
cmd DCMD/edge1/station1 '{"metrics":[{"name":"speed","type":"Double","value":1e9}]}'
cmd DCMD/edge1/station1 '{"metrics":[{"name":"speed","type":"String","value":"fast"}]}'
cmd DCMD/edge1/station1 '{"metrics":[{"name":"nope","type":"Double","value":1}]}'
cmd DCMD/edge1/station9 '{"metrics":[{"name":"speed","type":"Double","value":1}]}'
node "$SP" encode '{"metrics":[{"name":"speed","type":"Double","value":61}]}' | head -c -3 |
    mosquitto_pub "${M[@]}" -t spBv1.0/plant/DCMD/edge1/station1 -s
head -c 70000 /dev/zero | tr '\0' 'x' | mosquitto_pub "${M[@]}" -t spBv1.0/plant/NCMD/edge1 -s
sleep 1
cmd NCMD/edge1 '{"metrics":[{"name":"Node Control/Rebirth","type":"Boolean","value":true}]}'
check "Rebirth: NBIRTH again with bdSeq 0, seq 0" wait_for many main NBIRTH/edge1 2
check "  ... and DBIRTH after it, without a reconnect" wait_for many main DBIRTH/edge1/station1 3
check "DBIRTH: name, alias, datatype (Double when scaled), value, timestamp" last main DBIRTH/edge1/station1 \
    '(.metrics | map({(.name): [.type, .value]}) | add | del(.cnt)) ==
     {speed: [10, 55.5], al: [11, true], sp: [9, 12.5], ro: [6, 65535]} and all(.metrics[]; .alias and .ts)'
check "  ... one MQTT session" [ "$(grep -c 'MQTT connected' "$WORK/main.out")" -eq 1 ]
check "bad payloads counted: 5 ($(counter Commands/Bad)), refused writes 2 ($(counter 'Commands/Writes refused'))" \
    [ "$(counter Commands/Bad)/$(counter 'Commands/Writes refused')" = 5/2 ]
check "the refusals are notices" grep -q "Sparkplug: DCMD to station1 refused: tag 'ro' is not writable" "$WORK/main.out"
# seqs: [seq, whether NBIRTH] of every message of the node but NDEATH, in order.
seqs() {
    grep -avE '/(NDEATH|NCMD|DCMD)/' "$WORK/main.sub" | node "$SP" decode |
        awk '{ b = $1 ~ /NBIRTH/; sub(/^[^ ]* /, ""); print "[" $0 "," (b ? "true" : "false") "]" }' | jq -c -s '[.[] | [.[0].seq, .[1]]]'
}
# Enough for seq to pass 255 since the last NBIRTH (how many came before it depends on the machine's pace).
enough() { seqs | jq -e '(map(.[1]) | rindex(true)) as $b | length - $b > 260' >/dev/null; }
wait_for enough
seq_ok() {
    seqs | jq -e '. as $s | $s[0] == [0, true] and [range(1; length) | select($s[.][0] != (if $s[.][1] then 0 else ($s[. - 1][0] + 1) % 256 end))] == []
        and ([range(1; length) | select($s[.][0] == 0 and $s[. - 1][0] == 255)] | length > 0)' >/dev/null
}
check "seq: 0 at each NBIRTH, else one more, 255 to 0 ($(seqs | jq -c '[.[250:258][][0]]'))" seq_ok

# bdSeq: one more after a broker restart; the will of a killed node carries it.
kill "$SUB_PID"
GONE=$(date +%s%3N)
kill -KILL "$BROKER_PID" && wait "$BROKER_PID" 2>/dev/null
sleep 0.7
start_broker b "$PORT" "allow_anonymous true"
spsub again
check "a restarted broker: NBIRTH with bdSeq 1, seq 0" wait_for last again NBIRTH/edge1 '.metrics[0].value == 1 and .seq == 0'
check "  ... and the DBIRTHs" wait_for many again DBIRTH/edge1/station2 1
# The counter's values in the store read after the broker went and before the first live one
# came again, against the historical metrics: all there, in read order, none live.
history_kept() {
    sp again DDATA/edge1/station1 | jq -c '.metrics[] | select(.alias == 101) | [.ts, .value, .hist == true]' >"$WORK/cnt.got"
    python3 - "$WORK/main.db" "$WORK/cnt.got" "$GONE" <<'PY'
import json, sqlite3, sys
got = [json.loads(l) for l in open(sys.argv[2])]
hist = [(t, v) for t, v, h in got if h]
back = min([t for t, v, h in got if not h] or [0])
kept = sqlite3.connect(sys.argv[1]).execute("select at, value from entries e join tags t on t.id = e.tag where "
    "t.name = 'cnt' and status in (1, 100) and at >= ? and at < ? order by seq", (int(sys.argv[3]), back)).fetchall()
sys.exit(not (back and len(kept) > 20 and set(kept) <= set(hist) and hist == sorted(hist)))
PY
}
check "history: the counter as read while the broker was away, in order, is_historical" wait_for history_kept
kill -KILL "$GW_PID" && wait "$GW_PID" 2>/dev/null
check "kill -9: the broker's NDEATH carries bdSeq 1" wait_for last again NDEATH/edge1 '.metrics == [{name: "bdSeq", type: 4, value: 1}]'
check "births and deaths are not retained" [ -z "$(mosquitto_sub "${M[@]}" -C 1 -W 1 -t 'spBv1.0/plant/#')" ]

# A primary host application: births only while its STATE says online.
state() { mosquitto_pub "${M[@]}" -q 1 -r -t spBv1.0/STATE/scada -m "{\"online\":$1,\"timestamp\":$2}"; }
state false 1000
gateway primary "${G[@]}" --sparkplug-primary scada
sleep 2
check "primary offline: no birth" [ "$(sp again NBIRTH/edge1 | wc -l)" -eq 1 ]
state true 2000
check "primary online: NBIRTH with bdSeq 2 (kept across the restart)" wait_for last again NBIRTH/edge1 '.metrics[0].value == 2'
state false 3000
check "primary offline again: NDEATH with bdSeq 2" wait_for last again NDEATH/edge1 '.metrics[0].value == 2'
state true 2500
sleep 1
check "  ... an older STATE is left alone" [ "$(sp again NBIRTH/edge1 | wc -l)" -eq 2 ]
state true 4000
check "online again: a new session, bdSeq 3" wait_for last again NBIRTH/edge1 '.metrics[0].value == 3'
stop_gateway primary
check "a clean stop: NDEATH with bdSeq 3" wait_for last again NDEATH/edge1 '.metrics[0].value == 3'
echo 255 >"$WORK/state/sparkplug-plant-edge1.bdseq"
run_host wrap "${G[@]}" --quiet --tags "$WORK/line.tags" --duration 2
check "bdSeq 255 kept: the next session has 0" last again NBIRTH/edge1 '.metrics[0].value == 0'
stop_sim "$SIM_PID"
check "one DCMD write of speed landed, the refused ones none" grep -qx '1:1:11=555' "$WORK/sim.dump"
check "ro unchanged" grep -qx '1:1:13=65535' "$WORK/sim.dump"
check "s2 written" grep -qx '2:1:10=65524' "$WORK/sim.dump"
finish
