#include "json/WritePayload.h"
#include "json/JsonText.h"

#include "model/ValueText.h"

namespace marovin_host {

bool writeValueOf(const nlohmann::json &j, WriteValue *out)
{
    if (j.is_boolean()) {
        out->kind = WriteValue::Boolean;
        out->boolean = j.get<bool>();
        out->text = out->boolean ? "1" : "0";
        return true;
    }
    if (!j.is_number())
        return false;
    out->kind = WriteValue::Number;
    out->number = j.get<double>();
    out->text = j.is_number_float() ? formatNumber(out->number) : j.dump();
    return true;
}

bool parseWritePayload(const std::string &payload, WriteValue *value, std::string *error, nlohmann::json *id)
{
    if (id)
        *id = nullptr;
    if (payload.size() > kMaxWritePayload) {
        *error = "payload longer than " + std::to_string(kMaxWritePayload) + " bytes";
        return false;
    }
    bool twice = false;
    nlohmann::json j = parseJsonText(payload, &twice);
    if (twice) {
        *error = "a name is given twice";
        return false;
    }
    if (id && j.is_object() && j.contains("id")) {
        const nlohmann::json &given = j["id"];
        if (!given.is_number_integer() && !(given.is_string() && given.get_ref<const std::string &>().size() <= 64)) {
            *error = "\"id\" must be an integer or a string of at most 64 characters";
            return false;
        }
        *id = given;
        j.erase("id");
    }
    if (j.is_object() && j.size() == 1 && j.contains("value"))
        j = j["value"];
    if (!writeValueOf(j, value)) {
        *error = "expected a number or {\"value\": number}";
        return false;
    }
    return true;
}

}  // namespace marovin_host
