// Parser of an MPEG-4 ES descriptor (the body of an 'esds' box, starting at
// the ES_Descriptor tag 0x03).
#ifndef ESDS_H_
#define ESDS_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <utils/Errors.h>

namespace android {

class ESDS {
public:
    ESDS(const void* data, size_t size);

    status_t InitCheck() const { return mInitCheck; }
    status_t getObjectTypeIndication(uint8_t* objectTypeIndication) const;
    status_t getStreamType(uint8_t* streamType) const;
    status_t getCodecSpecificInfo(const void** data, size_t* size) const;
    status_t getBitRate(uint32_t* brateMax, uint32_t* brateAvg) const;

private:
    status_t parse();
    status_t readLength(size_t* offset, size_t end, size_t* length) const;

    std::vector<uint8_t> mData;
    status_t mInitCheck;
    uint8_t mObjectTypeIndication = 0;
    uint8_t mStreamType = 0;
    uint32_t mMaxBitrate = 0;
    uint32_t mAvgBitrate = 0;
    size_t mDecoderSpecificOffset = 0;
    size_t mDecoderSpecificLength = 0;
};

}  // namespace android

#endif  // ESDS_H_
