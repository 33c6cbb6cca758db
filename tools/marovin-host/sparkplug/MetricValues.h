// A tag as a Sparkplug B 3.0 metric: its datatype from the area (Double
// where a scale or offset applies), its value into the metric, and a
// command's value back into a write.
#ifndef MAROVIN_HOST_SPARKPLUG_METRIC_VALUES_H
#define MAROVIN_HOST_SPARKPLUG_METRIC_VALUES_H

#include "model/Entries.h"
#include "model/TagRow.h"

#include "SparkplugB.pb.h"

#include <string>

namespace marovin_host {

using SpPayload = marovin::sparkplug::Payload;
using SpMetric = marovin::sparkplug::Payload_Metric;
using SpType = marovin::sparkplug::DataType;

// The metric's datatype for the tag.
SpType tagDataType(const TagRow &row);
// A number into the field the datatype uses (a boolean: not 0).
void setMetricNumber(SpMetric *metric, double value, SpType type);
// The row's last value into the metric as its datatype holds it, or is_null
// before the first good read.
void setTagValue(SpMetric *metric, const TagRow &row, SpType type);
// A command's value as the write check takes it; false with the reason for a
// value of no number or boolean, null, or in a field its datatype does not
// use. ownType stands in for a metric that names no datatype.
bool commandValue(const SpMetric &metric, SpType ownType, WriteValue *out, std::string *why);

}  // namespace marovin_host

#endif
