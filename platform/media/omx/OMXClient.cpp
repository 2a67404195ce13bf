#include <media/stagefright/OMXClient.h>

#include <host/omx_service.h>

namespace android {

OMXClient::OMXClient() {}

status_t OMXClient::connect() {
    mOMX = host::omxService();
    return mOMX != nullptr ? OK : NO_INIT;
}

void OMXClient::disconnect() { mOMX.clear(); }

}  // namespace android
