// OpenMAX IL 1.1 parameter structures are passed with their size and
// version 1.0.0.0.
#ifndef QOR_OMX_PARAMS_H_
#define QOR_OMX_PARAMS_H_

#include <string.h>

#include <OMX_Core.h>

namespace qor {

template <class T>
void InitOMXParams(T* params) {
    memset(params, 0, sizeof(T));
    params->nSize = sizeof(T);
    params->nVersion.s.nVersionMajor = 1;
    params->nVersion.s.nVersionMinor = 0;
    params->nVersion.s.nRevision = 0;
    params->nVersion.s.nStep = 0;
}

}  // namespace qor

#endif  // QOR_OMX_PARAMS_H_
