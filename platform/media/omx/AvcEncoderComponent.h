/*
 * H.264 baseline encoder component (openh264). Every AVC encoder that a
 * device profile lists is this component under the listed name, with the
 * colour formats, profile/levels and quirks of its profile entry.
 *
 * Input frames are read as the input port defines them (stride S, slice
 * height H, frame w x h, chroma rows (h+1)/2):
 *   planar (19, 0x7FA00000): Y rows of pitch S at 0; U plane at S*H with
 *     pitch (S+1)/2 and (H+1)/2 rows; V plane right after it, same shape.
 *   semi-planar (21, 0x7F000100, 0x7FA30C00, 0x7FA30C03, 0x7FA30C04,
 *     0x7FC00002): Y rows of pitch S at 0; one interleaved plane of U,V byte
 *     pairs (U first) at S*H with pitch S. The vendor formats are read in
 *     this linear layout, which is what the frame converter writes for them.
 * Only an input's filled range is read; one shorter than its layout needs
 * (the chroma plane's end) is refused with an error event, as a device's
 * component refuses it. With S = w and H = h the planar layout is tightly
 * packed I420. A negative
 * stride is taken by its magnitude; a stride or slice height of 0 means w or
 * h. An odd width or height is coded one pixel smaller (4:2:0 H.264 crops in
 * steps of two), the last column or row left out.
 *
 * Output: one codec-configuration buffer (SPS and PPS, 4-byte start codes,
 * flags CODECCONFIG|ENDOFFRAME) before the first frame, then one access unit
 * per input frame (ENDOFFRAME, plus SYNCFRAME on IDR frames), stamped with
 * the input's time. An empty input flagged EOS gives an empty EOS output.
 *
 * Vendor behaviours, by profile key of the entry (codec.N.<key>):
 *   slices=K          K slice NAL units per frame;
 *   aud=1             an access-unit delimiter and an SEI before each frame;
 *   inline-headers=1  SPS and PPS again at the head of each sync frame's
 *                     buffer (no codec-config flag; the first configuration
 *                     buffer still comes flagged);
 *   latency=K         the first output after K+1 inputs, outputs trailing
 *                     inputs by K until end of stream drains them.
 */
#ifndef PLATFORM_AVC_ENCODER_COMPONENT_H_
#define PLATFORM_AVC_ENCODER_COMPONENT_H_

#include <OMX_Video.h>

#include <deque>
#include <vector>

#include "omx/OmxComponent.h"

class ISVCEncoder;

namespace android {

class AvcEncoderComponent : public OmxComponent {
public:
    AvcEncoderComponent(const host::CodecEntry& entry, Listener* listener);
    ~AvcEncoderComponent() override;

    // Bytes a frame of this layout occupies (the input buffer's minimum).
    static size_t inputFrameExtent(OMX_U32 colorFormat, OMX_U32 width, OMX_U32 height,
                                   OMX_U32 stride, OMX_U32 sliceHeight);
    static bool isPlanar(OMX_U32 colorFormat);
    // A YUV 4:2:0 layout the encoder reads (planar or semi-planar above).
    static bool isReadable(OMX_U32 colorFormat);
    // OpenMAX AVC level bit to level_idc (0 for an unknown bit).
    static int levelIdc(OMX_U32 omxLevel);

protected:
    OMX_ERRORTYPE internalGetParameter(OMX_INDEXTYPE index, void* params, size_t size) override;
    OMX_ERRORTYPE internalSetParameter(OMX_INDEXTYPE index, const void* params,
                                       size_t size) override;
    OMX_ERRORTYPE internalGetConfig(OMX_INDEXTYPE index, void* params, size_t size) override;
    OMX_ERRORTYPE internalSetConfig(OMX_INDEXTYPE index, const void* params,
                                    size_t size) override;
    OMX_ERRORTYPE internalGetExtensionIndex(const char* name, OMX_INDEXTYPE* index) override;
    OMX_ERRORTYPE setPortDefinition(OMX_U32 port,
                                    const OMX_PARAM_PORTDEFINITIONTYPE& def) override;
    const char* role() const override { return "video_encoder.avc"; }

    void onQueueFilled(Lock& lock) override;
    OMX_ERRORTYPE onStart(Lock& lock) override;
    void onStop(Lock& lock) override;
    void onPortFlushed(OMX_U32 port, Lock& lock) override;

private:
    bool colorListed(OMX_U32 color) const;
    bool profileLevelListed(OMX_U32 profile, OMX_U32 level) const;
    void updateBufferSizes();
    void emitCodecConfig(OMX_BUFFERHEADERTYPE* out);
    // Encodes one frame (called without mLock); false on an encoder error.
    bool encodeFrame(const OMX_BUFFERHEADERTYPE* in, OMX_BUFFERHEADERTYPE* out, bool forceIdr,
                     bool* overflow);

    std::vector<std::pair<OMX_U32, OMX_U32>> mProfileLevels;
    OMX_VIDEO_PARAM_AVCTYPE mAvc;
    OMX_VIDEO_PARAM_BITRATETYPE mBitrate;
    OMX_BOOL mThumbnailMode;
    ISVCEncoder* mEncoder;
    bool mConfigSent;
    bool mForceIdr;
    bool mBitrateChanged;
    // Frame layout captured at start (ports cannot change while running).
    OMX_U32 mWidth, mHeight, mStride, mSliceHeight, mColorFormat;
    std::vector<uint8_t> mChroma;  // deinterleaved U and V of a semi-planar frame

    // Vendor behaviours of the profile entry, read at start.
    struct VendorBehaviour {
        int slices = 1;             // "slices": slice NAL units per frame
        bool aud = false;           // "aud": delimiter and SEI before the slices
        bool inlineHeaders = false; // "inline-headers": SPS/PPS in each sync frame
        size_t latency = 0;         // "latency": access units held before output
    };
    struct HeldUnit {
        std::vector<uint8_t> data;
        OMX_U32 flags = 0;
        OMX_TICKS timeUs = 0;
    };
    static size_t appendDelimiterAndSei(uint8_t* out, size_t room, bool* overflow);
    void holdOrReturn(OMX_BUFFERHEADERTYPE* out);
    bool releaseHeldUnit(OMX_BUFFERHEADERTYPE* out);

    VendorBehaviour mVendor;
    std::deque<HeldUnit> mHeldUnits;
    bool mDraining = false;  // end of stream seen: held units go out
};

}  // namespace android

#endif  // PLATFORM_AVC_ENCODER_COMPONENT_H_
