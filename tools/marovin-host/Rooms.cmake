# The rooms of marovin-host and the arrows between them: each room is a
# static library that links the rooms it USES, and an #include "room/..." is
# allowed only along those links (checked by cmake/HostFences.cmake when the
# build is configured, and by the host_fences test).
set(MAROVIN_HOST_ROOMS util model config driver line writes json hadiscovery loop outputs store historian mqtt sparkplug web app)

set(MAROVIN_HOST_USES_util "")
set(MAROVIN_HOST_USES_model util)
set(MAROVIN_HOST_USES_config model util)
set(MAROVIN_HOST_USES_driver model util)
set(MAROVIN_HOST_USES_line model util)
set(MAROVIN_HOST_USES_writes model util)
set(MAROVIN_HOST_USES_json model util)
set(MAROVIN_HOST_USES_hadiscovery json model util)
set(MAROVIN_HOST_USES_loop model util driver line writes)
set(MAROVIN_HOST_USES_outputs loop model util)
# The outbox: MQTT, Sparkplug, the historian and the web reach it through store/Outbox.h.
set(MAROVIN_HOST_USES_store loop config model util)
set(MAROVIN_HOST_USES_historian loop store config model util)
set(MAROVIN_HOST_USES_mqtt loop store writes json hadiscovery config model util)
set(MAROVIN_HOST_USES_sparkplug loop store writes json config model util mqtt)
set(MAROVIN_HOST_USES_web loop store writes json config model util)
set(MAROVIN_HOST_USES_app config driver line loop outputs store historian writes mqtt sparkplug web json hadiscovery model util)

# Of the loop, the rooms of outputs and write sources see only the Output
# interface: the fan-out and the loop's insides are the loop's and the
# wiring's.
set(MAROVIN_HOST_LOOP_DOOR "loop/Output.h")
set(MAROVIN_HOST_BEHIND_LOOP_DOOR outputs store historian mqtt sparkplug web)
# Rooms whose files are separate outputs: none includes another's header.
set(MAROVIN_HOST_SEPARATE_FILES outputs)
# Outside headers that only some rooms may include (header=rooms).
set(MAROVIN_HOST_OWNED_HEADERS
  "Marovin.h=driver"
  "marovin/Marovin.h=driver"
  "httplib.h=web"
  "mosquitto.h=mqtt"
  "sqlite3.h=store"
  "libpq-fe.h=historian"
  "CLI/CLI.hpp=config"
  "CliChecks.h=config"
  "nlohmann/json.hpp=json hadiscovery mqtt web sparkplug"
  "SparkplugB.pb.h=sparkplug"
  "Port.h=line loop config app"
  "MonotonicClock.h=util"
  "HostPort.h=config"
  "openssl/ssl.h=web"
  "openssl/err.h=web")
