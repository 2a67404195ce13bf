// Whether a new output format is news to the consumer of the driver.
#ifndef QOR_OMX_FORMAT_CHANGE_H_
#define QOR_OMX_FORMAT_CHANGE_H_

#include <media/stagefright/MetaData.h>

namespace qor {

// True when the two formats differ in a way the consumer must hear about:
// presence, mime type, and for raw video the colour format, size and crop,
// for raw audio the channel count and sample rate.
bool formatHasNotablyChanged(const android::sp<android::MetaData>& from,
                             const android::sp<android::MetaData>& to);

}  // namespace qor

#endif  // QOR_OMX_FORMAT_CHANGE_H_
