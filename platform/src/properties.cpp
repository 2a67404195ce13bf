#include <cutils/properties.h>
#include <host/device_profile.h>

#include <string.h>

extern "C" int __system_property_get(const char* name, char* value) {
    value[0] = '\0';
    if (name == nullptr) return 0;
    std::string v = host::currentDeviceProfile()->get(name);
    size_t n = v.size() < PROP_VALUE_MAX - 1 ? v.size() : PROP_VALUE_MAX - 1;
    memcpy(value, v.data(), n);
    value[n] = '\0';
    return (int)n;
}

extern "C" int property_get(const char* key, char* value, const char* default_value) {
    int n = __system_property_get(key, value);
    if (n == 0 && default_value != nullptr) {
        strncpy(value, default_value, PROPERTY_VALUE_MAX - 1);
        value[PROPERTY_VALUE_MAX - 1] = '\0';
        n = (int)strlen(value);
    }
    return n;
}
