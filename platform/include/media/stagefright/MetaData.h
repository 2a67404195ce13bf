/*
 * Typed key/value format description of the media framework. Keys are 32-bit
 * values written as four characters, most significant first.
 */
#ifndef META_DATA_H_
#define META_DATA_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <vector>

#include <utils/RefBase.h>

namespace android {

enum {
    kKeyMIMEType = 'mime',           // cstring
    kKeyWidth = 'widt',              // int32
    kKeyHeight = 'heig',             // int32
    kKeyDisplayWidth = 'dWid',       // int32
    kKeyDisplayHeight = 'dHgt',      // int32
    kKeyStride = 'strd',             // int32
    kKeySliceHeight = 'slht',        // int32
    kKeyColorFormat = 'colf',        // int32
    kKeyCropRect = 'crop',           // rect
    kKeyRotation = 'rotA',           // int32, degrees
    kKeyBitRate = 'brte',            // int32, bps
    kKeyFrameRate = 'frmR',          // int32, fps
    kKeyIFramesInterval = 'ifiv',    // int32, seconds
    kKeySampleRate = 'srte',         // int32, Hz
    kKeyChannelCount = '#chn',       // int32
    kKeyMaxInputSize = 'inpS',       // int32
    kKeyRealTimeRecording = 'rtrc',  // int32 (bool)
    kKeyTime = 'time',               // int64, us
    kKeyDecodingTime = 'decT',       // int64, us
    kKeyDriftTime = 'dftT',          // int64, us
    kKeyTrackTimeStatus = 'tktm',    // int64, us
    kKeyIsSyncFrame = 'sync',        // int32 (bool)
    kKeyIsCodecConfig = 'conf',      // int32 (bool)
    kKeyIsUnreadable = 'unre',       // int32 (bool)
    kKeyNumBuffers = 'nbbf',         // int32
    kKeyBufferID = 'bfID',           // int32 (levels 21, 23) or pointer (level 18)
    kKeyPlatformPrivate = 'priv',    // pointer (level 18)
    kKeyVideoProfile = 'vprf',       // int32
    kKeyVideoLevel = 'vlev',         // int32
    kKeyAACProfile = 'aacp',         // int32
    kKeyIsADTS = 'adts',             // int32 (bool)
    kKeyEncoderDelay = 'encd',       // int32, samples
    kKeyEncoderPadding = 'encp',     // int32, samples
    kKeyRequiresSecureBuffers = 'secu',  // int32 (bool)
    kKeyTimeScale = 'tmsl',          // int32
    kKey64BitFileOffset = 'fobt',    // int32 (bool)
    kKeyFileType = 'ftyp',           // int32
    kKey2ByteNalLength = '2NAL',     // int32 (bool)
    kKeyNalLengthFormat = 'NALf',    // int32
    kKeyESDS = 'esds',               // raw data
    kKeyAVCC = 'avcc',               // raw data
    kKeyVorbisInfo = 'vinf',         // raw data
    kKeyVorbisBooks = 'vboo',        // raw data
    kKeyDecoderComponent = 'decC',   // cstring
};

class MetaData : public RefBase {
public:
    MetaData();
    MetaData(const MetaData& from);

    enum Type {
        TYPE_NONE = 'none',
        TYPE_C_STRING = 'cstr',
        TYPE_INT32 = 'in32',
        TYPE_INT64 = 'in64',
        TYPE_FLOAT = 'floa',
        TYPE_POINTER = 'ptr ',
        TYPE_RECT = 'rect',
    };

    void clear();
    bool remove(uint32_t key);

    bool setCString(uint32_t key, const char* value);
    bool setInt32(uint32_t key, int32_t value);
    bool setInt64(uint32_t key, int64_t value);
    bool setFloat(uint32_t key, float value);
    bool setPointer(uint32_t key, void* value);
    bool setRect(uint32_t key, int32_t left, int32_t top, int32_t right, int32_t bottom);

    bool findCString(uint32_t key, const char** value) const;
    bool findInt32(uint32_t key, int32_t* value) const;
    bool findInt64(uint32_t key, int64_t* value) const;
    bool findFloat(uint32_t key, float* value) const;
    bool findPointer(uint32_t key, void** value) const;
    bool findRect(uint32_t key, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) const;

    // Returns true when an existing entry was replaced.
    bool setData(uint32_t key, uint32_t type, const void* data, size_t size);
    bool findData(uint32_t key, uint32_t* type, const void** data, size_t* size) const;
    bool hasData(uint32_t key) const;

    size_t countEntries() const { return mItems.size(); }
    void dumpToLog() const;

protected:
    virtual ~MetaData();

private:
    struct typed_data {
        uint32_t type = TYPE_NONE;
        std::vector<uint8_t> bytes;
    };
    std::map<uint32_t, typed_data> mItems;

    MetaData& operator=(const MetaData&) = delete;
};

}  // namespace android

#endif  // META_DATA_H_
