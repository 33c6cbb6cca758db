#!/usr/bin/env bash
# The JSON gateway's Home Assistant discovery and per-station truth, against
# a mosquitto started here: a config per tag with the fields Home Assistant
# requires of its component, a stale config removed, a write through a
# command_topic, the configs again on Home Assistant's "online"; a station
# that stops answering and a link that goes down shown in its tags' status
# and its availability topic, both back when it answers again.
source "$(dirname "$0")/host_common.sh" "$1"
PORT=$(free_port)
M=(-h 127.0.0.1 -p "$PORT")
P=plant/l1
start_broker b "$PORT" "allow_anonymous true"
cat >"$WORK/line.tags" <<'TAGS'
speed = 1:w16:11 rw scale=0.1 unit=rpm
cnt = 1:d32:20
al = 1:bit:12 rw
b2 = 1:bit:2
fl = 1:float:50 rw
s2 = 2:w16:10
TAGS
start_sim line --tcp 127.0.0.1:0 --stations 1,2 --set 1:1:11=1234 --set 1:2:20=9 --set 2:1:10=7 --dump-on-exit "$WORK/sim.dump"
SIM_PORT=$SIM_LINE
mosquitto_pub "${M[@]}" -r -t ha/sensor/plant_l1/gone/config -m '{"name":"gone"}'
mosquitto_pub "${M[@]}" -r -t ha/sensor/other/x/config -m '{"name":"x"}'
sub all "${M[@]}" -t "$P/#" -t 'ha/#'
gateway main --mqtt "mqtt://127.0.0.1:$PORT" --mqtt-prefix "$P" --ha-discovery ha --multi-station \
    --tcp "127.0.0.1:$SIM_PORT" --timeout 300 --retries 1
CONFIG='^ha/.*/plant_l1/.*/config {'
check "six configs" wait_for at_least 6 "$CONFIG" "$WORK/all.sub"
jqe() { jq -e "$@" >/dev/null; }
# TAG COMPONENT STATION JQ: the tag's config, with what its component requires.
while read -r tag component station more; do
    topic=$(grep -o "^ha/$component/plant_l1/$tag/config" "$WORK/all.sub" | head -n 1)
    check "$tag: $component${more:+, $more}" jqe --arg t "$P/$tag" --arg s "$P/station$station/availability" "
        .name == \"$tag\" and (.unique_id | test(\"^marovin_plant_l1_$tag\$\")) and .state_topic == \$t and
        .value_template == \"{{ value_json.value }}\" and .availability_mode == \"all\" and
        .availability == [{topic: \"$P/availability\"}, {topic: \$s}] and
        .device.identifiers == [\"marovin_plant_l1_station$station\"] and (.device.name | length > 0) and
        (if \"$component\" == \"number\" or \"$component\" == \"switch\" then .command_topic == \$t + \"/set\"
         else has(\"command_topic\") | not end) and ${more:-true}" <(mosquitto_sub "${M[@]}" -C 1 -W 3 -t "${topic:-none}")
done <<'EOF2'
speed number 1 .min == -3276.8 and .max == 3276.7 and .step == 0.1 and .unit_of_measurement == "rpm"
cnt sensor 1 .state_class == "measurement"
al switch 1 .payload_on == "1" and .payload_off == "0" and .state_on == "1" and .state_off == "0"
b2 binary_sensor 1 .payload_on == "1" and .payload_off == "0"
fl number 1 .step == 0.001 and .min < -1e38 and .max > 1e38
s2 sensor 2
EOF2
check "a config no tag has any more is removed" wait_for grep -qx 'ha/sensor/plant_l1/gone/config (null)' "$WORK/all.sub"
check "another node's config stays" retained_has x "${M[@]}" -t ha/sensor/other/x/config
mosquitto_pub "${M[@]}" -t "$P/speed/set" -m 55.5
check "a write through the command_topic is answered" wait_for grep -q "^$P/speed/set/result {\"ok\":true,\"value\":55.5}" "$WORK/all.sub"
mosquitto_pub "${M[@]}" -t ha/status -m online
check "Home Assistant online: the configs again" wait_for at_least 12 "$CONFIG" "$WORK/all.sub"
check "station availability online" wait_for grep -qx "$P/station2/availability online" "$WORK/all.sub"

kill -STOP "$SIM_PID"
check "stations that stop answering: offline" wait_for grep -qx "$P/station2/availability offline" "$WORK/all.sub"
check "  ... their tags given up" grep -q "^$P/s2 {\"status\":\"noreply\"" "$WORK/all.sub"
kill -CONT "$SIM_PID"
check "  ... online when they answer again" wait_for at_least 2 "^$P/station2/availability online" "$WORK/all.sub"
stop_sim "$SIM_PID"
check "the write landed" grep -qx '1:1:11=555' "$WORK/sim.dump"
for tag in speed s2; do
    check "link down: $tag says so" wait_for grep -q "^$P/$tag {\"status\":\"link down\",.*\"value\"" "$WORK/all.sub"
done
check "  ... and station1 is offline" retained_has '^offline$' "${M[@]}" -t "$P/station1/availability"
start_sim again --tcp "127.0.0.1:$SIM_PORT" --stations 1,2 --set 2:1:10=8
check "the link back: s2 ok with its value" wait_for grep -q "^$P/s2 {\"status\":\"ok\",.*\"value\":8}" "$WORK/all.sub"
check "  ... station2 online" wait_for at_least 3 "^$P/station2/availability online" "$WORK/all.sub"
# Given up while the simulator was stopped: 3.
stop_gateway main 3
finish
