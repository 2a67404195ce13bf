#define LOG_TAG "MetaData"
#include <media/stagefright/MetaData.h>

#include <string.h>

#include <string>

#include <utils/Log.h>

namespace android {

namespace {

struct Rect {
    int32_t left, top, right, bottom;
};

std::string fourcc(uint32_t key) {
    char s[5] = {(char)(key >> 24), (char)(key >> 16), (char)(key >> 8), (char)key, 0};
    return s;
}

}  // namespace

MetaData::MetaData() {}

MetaData::MetaData(const MetaData& from) : RefBase(), mItems(from.mItems) {}

MetaData::~MetaData() {}

void MetaData::clear() { mItems.clear(); }

bool MetaData::remove(uint32_t key) { return mItems.erase(key) > 0; }

bool MetaData::setCString(uint32_t key, const char* value) {
    return setData(key, TYPE_C_STRING, value, strlen(value) + 1);
}

bool MetaData::setInt32(uint32_t key, int32_t value) {
    return setData(key, TYPE_INT32, &value, sizeof(value));
}

bool MetaData::setInt64(uint32_t key, int64_t value) {
    return setData(key, TYPE_INT64, &value, sizeof(value));
}

bool MetaData::setFloat(uint32_t key, float value) {
    return setData(key, TYPE_FLOAT, &value, sizeof(value));
}

bool MetaData::setPointer(uint32_t key, void* value) {
    return setData(key, TYPE_POINTER, &value, sizeof(value));
}

bool MetaData::setRect(uint32_t key, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Rect r = {left, top, right, bottom};
    return setData(key, TYPE_RECT, &r, sizeof(r));
}

bool MetaData::findCString(uint32_t key, const char** value) const {
    uint32_t type;
    const void* data;
    size_t size;
    if (!findData(key, &type, &data, &size) || type != TYPE_C_STRING) return false;
    *value = (const char*)data;
    return true;
}

template <typename T>
static bool findFixed(const MetaData& meta, uint32_t key, uint32_t wanted, T* value) {
    uint32_t type;
    const void* data;
    size_t size;
    if (!meta.findData(key, &type, &data, &size) || type != wanted || size != sizeof(T)) {
        return false;
    }
    memcpy(value, data, sizeof(T));
    return true;
}

bool MetaData::findInt32(uint32_t key, int32_t* value) const {
    return findFixed(*this, key, TYPE_INT32, value);
}

bool MetaData::findInt64(uint32_t key, int64_t* value) const {
    return findFixed(*this, key, TYPE_INT64, value);
}

bool MetaData::findFloat(uint32_t key, float* value) const {
    return findFixed(*this, key, TYPE_FLOAT, value);
}

bool MetaData::findPointer(uint32_t key, void** value) const {
    return findFixed(*this, key, TYPE_POINTER, value);
}

bool MetaData::findRect(uint32_t key, int32_t* left, int32_t* top, int32_t* right,
                        int32_t* bottom) const {
    Rect r;
    if (!findFixed(*this, key, TYPE_RECT, &r)) return false;
    *left = r.left;
    *top = r.top;
    *right = r.right;
    *bottom = r.bottom;
    return true;
}

bool MetaData::setData(uint32_t key, uint32_t type, const void* data, size_t size) {
    bool replaced = mItems.count(key) > 0;
    typed_data& item = mItems[key];
    item.type = type;
    item.bytes.assign((const uint8_t*)data, (const uint8_t*)data + size);
    return replaced;
}

bool MetaData::findData(uint32_t key, uint32_t* type, const void** data, size_t* size) const {
    auto it = mItems.find(key);
    if (it == mItems.end()) return false;
    *type = it->second.type;
    *data = it->second.bytes.data();
    *size = it->second.bytes.size();
    return true;
}

bool MetaData::hasData(uint32_t key) const { return mItems.count(key) > 0; }

void MetaData::dumpToLog() const {
    for (const auto& kv : mItems) {
        ALOGI("%s: type %s, %zu bytes", fourcc(kv.first).c_str(), fourcc(kv.second.type).c_str(),
              kv.second.bytes.size());
    }
}

}  // namespace android
