// The run and the tags in the Prometheus text format, for /metrics.
#ifndef MAROVIN_HOST_WEB_ROUTES_METRICS_TEXT_H
#define MAROVIN_HOST_WEB_ROUTES_METRICS_TEXT_H

#include "web/WebFeed.h"

#include <string>

namespace marovin_host {

// A label value with backslash, double quote and line feed escaped.
std::string metricLabelValue(const std::string &text);
// Every marovin_ metric of the snapshot, with its HELP and TYPE lines.
std::string metricsText(const WebSnapshot &snapshot);

}  // namespace marovin_host

#endif
