// System properties (host stand-in: answered from the device profile).
#ifndef SYS_SYSTEM_PROPERTIES_H
#define SYS_SYSTEM_PROPERTIES_H

#define PROP_NAME_MAX 32
#define PROP_VALUE_MAX 92

#ifdef __cplusplus
extern "C" {
#endif

// Copies the value (at most PROP_VALUE_MAX bytes with its NUL) into `value`
// and returns its length; 0 and an empty string when the property is unset.
int __system_property_get(const char* name, char* value);

#ifdef __cplusplus
}
#endif

#endif  // SYS_SYSTEM_PROPERTIES_H
