#ifndef CUTILS_PROPERTIES_H
#define CUTILS_PROPERTIES_H

#include <sys/system_properties.h>

#define PROPERTY_KEY_MAX PROP_NAME_MAX
#define PROPERTY_VALUE_MAX PROP_VALUE_MAX

#ifdef __cplusplus
extern "C" {
#endif

int property_get(const char* key, char* value, const char* default_value);

#ifdef __cplusplus
}
#endif

#endif  // CUTILS_PROPERTIES_H
