// Device models on which recording is known not to work.
#ifndef QOR_DEVICE_CHECK_H_
#define QOR_DEVICE_CHECK_H_

namespace qor {

// False when ro.product.model starts with a model of the list (any case).
bool deviceModelSupported();

}  // namespace qor

#endif  // QOR_DEVICE_CHECK_H_
