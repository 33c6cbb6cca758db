// Integers travel in int_value (32 bits) or long_value (64), signed ones as
// their two's complement: the datatype says how to read them back.
#include "sparkplug/MetricValues.h"

#include "model/Areas.h"
#include "model/ValueText.h"

#include <cstdint>

namespace marovin_host {

namespace {

using marovin::sparkplug::DataType;

// Which value field a datatype uses.
SpMetric::ValueCase fieldOf(int type)
{
    switch (type) {
    case DataType::Int8:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::UInt8:
    case DataType::UInt16:
    case DataType::UInt32:
        return SpMetric::kIntValue;
    case DataType::Int64:
    case DataType::UInt64:
    case DataType::DateTime:
        return SpMetric::kLongValue;
    case DataType::Float:
        return SpMetric::kFloatValue;
    case DataType::Double:
        return SpMetric::kDoubleValue;
    case DataType::Boolean:
        return SpMetric::kBooleanValue;
    default:
        return SpMetric::VALUE_NOT_SET;
    }
}

// The number an integer field holds, read as the datatype means it.
double integerOf(const SpMetric &m, int type)
{
    if (m.value_case() == SpMetric::kIntValue) {
        const std::uint32_t v = m.int_value();
        const bool isSigned = type == DataType::Int8 || type == DataType::Int16 || type == DataType::Int32;
        return isSigned ? static_cast<double>(static_cast<std::int32_t>(v)) : static_cast<double>(v);
    }
    const std::uint64_t v = m.long_value();
    return type == DataType::Int64 ? static_cast<double>(static_cast<std::int64_t>(v)) : static_cast<double>(v);
}

}  // namespace

SpType tagDataType(const TagRow &row)
{
    const int area = row.ref.area;
    if (area == kBits)
        return DataType::Boolean;
    if (row.tag.scaled())
        return DataType::Double;
    if (area == kDecimalFloat)
        return DataType::Float;
    const bool word = wordsPerValue(area) == 1;
    if (row.tag.unsignedInt)
        return word ? DataType::UInt16 : DataType::UInt32;
    return word ? DataType::Int16 : DataType::Int32;
}

void setMetricNumber(SpMetric *m, double value, SpType type)
{
    switch (type) {
    case DataType::Boolean:
        m->set_boolean_value(value != 0);
        break;
    case DataType::Double:
        m->set_double_value(value);
        break;
    case DataType::Float:
        m->set_float_value(static_cast<float>(value));
        break;
    case DataType::Int16:
    case DataType::Int32:
        m->set_int_value(static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
        break;
    default:
        m->set_int_value(static_cast<std::uint32_t>(value));
        break;
    }
}

void setTagValue(SpMetric *m, const TagRow &row, SpType type)
{
    if (row.reads <= 0) {
        m->set_is_null(true);
        return;
    }
    const TagValue &v = row.value;
    const double value = type == DataType::Boolean ? (v.raw != 0 ? 1.0 : 0.0)
                         : type == DataType::Double ? publishedNumber(row.ref.area, row.tag, v)
                                                    : v.number;
    setMetricNumber(m, value, type);
}

bool commandValue(const SpMetric &m, SpType ownType, WriteValue *out, std::string *why)
{
    const int type = m.has_datatype() ? static_cast<int>(m.datatype()) : static_cast<int>(ownType);
    const SpMetric::ValueCase field = m.value_case();
    if (m.is_null() || field == SpMetric::VALUE_NOT_SET) {
        *why = "no value";
        return false;
    }
    if (fieldOf(type) != field) {
        *why = "a value that is no number or boolean, or not of its datatype " + std::to_string(type);
        return false;
    }
    out->kind = WriteValue::Number;
    if (field == SpMetric::kBooleanValue) {
        out->kind = WriteValue::Boolean;
        out->boolean = m.boolean_value();
        out->text = out->boolean ? "true" : "false";
        return true;
    }
    out->number = field == SpMetric::kFloatValue    ? static_cast<double>(m.float_value())
                  : field == SpMetric::kDoubleValue ? m.double_value()
                                                    : integerOf(m, type);
    out->text = formatNumber(out->number);
    return true;
}

}  // namespace marovin_host
