// The parameter structures and buffer headers cross to the component as
// bytes, so the driver and every component must agree on their layout. The
// kit ships for 32-bit x86, where OMX_U32 and pointers are 4 bytes and 64-bit
// members are aligned to 4: the numbers of that ABI, written out.
#include <stddef.h>

#include <OMX_Component.h>
#include <OMX_Video.h>

#if defined(__i386__)
static_assert(sizeof(OMX_U32) == 4, "OMX_U32 must be 4 bytes on 32-bit x86");
static_assert(sizeof(OMX_PARAM_PORTDEFINITIONTYPE) == 96, "port definition layout");
static_assert(sizeof(OMX_VIDEO_PARAM_AVCTYPE) == 108, "AVC parameter layout");
static_assert(sizeof(OMX_BUFFERHEADERTYPE) == 72, "buffer header layout");
static_assert(offsetof(OMX_BUFFERHEADERTYPE, nTimeStamp) == 52, "buffer time stamp offset");
#endif
