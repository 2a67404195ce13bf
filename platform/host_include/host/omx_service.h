// Host-only: the in-process OpenMAX IL service behind OMXClient.
#ifndef HOST_OMX_SERVICE_H
#define HOST_OMX_SERVICE_H

#include <media/IOMX.h>

namespace host {

// The process's service object (created on first use).
android::sp<android::IOMX> omxService();

}  // namespace host

#endif  // HOST_OMX_SERVICE_H
