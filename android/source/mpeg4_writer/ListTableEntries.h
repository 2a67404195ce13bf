/*
 * A growing sample table. Recordings run for hours without knowing their
 * final size, so values are kept in fixed-size blocks that are never moved,
 * already in file byte order: writing the table is one copy per block.
 */
#ifndef QOR_LIST_TABLE_ENTRIES_H_
#define QOR_LIST_TABLE_ENTRIES_H_

#include <stdint.h>

#include <new>
#include <vector>

#include <media/stagefright/foundation/ADebug.h>

namespace qor {

template <typename TYPE>
class ListTableEntries {
public:
    ListTableEntries(uint32_t elementCapacity, uint32_t entryCapacity)
        : mElementCapacity(elementCapacity),
          mEntryCapacity(entryCapacity),
          mTotalNumTableEntries(0),
          mNumValuesInCurrEntry(0),
          mCurrTableEntriesElement(nullptr) {
        CHECK_GT(mElementCapacity, 0u);
        CHECK_GT(mEntryCapacity, 0u);
    }

    ~ListTableEntries() {
        for (TYPE* block : mTableEntryList) delete[] block;
    }

    // Adds one value of the entry being filled; the value must already be
    // in file byte order.
    void add(const TYPE& value) {
        CHECK_LT(mNumValuesInCurrEntry, mElementCapacity);
        uint32_t nEntries = mTotalNumTableEntries % mElementCapacity;
        uint32_t nValues = mNumValuesInCurrEntry % mEntryCapacity;
        if (nEntries == 0 && nValues == 0) {
            mCurrTableEntriesElement = new (std::nothrow) TYPE[mElementCapacity * mEntryCapacity];
            CHECK(mCurrTableEntriesElement != NULL);
            mTableEntryList.push_back(mCurrTableEntriesElement);
        }
        uint32_t pos = nEntries * mEntryCapacity + nValues;
        mCurrTableEntriesElement[pos] = value;
        ++mNumValuesInCurrEntry;
        if ((mNumValuesInCurrEntry % mEntryCapacity) == 0) {
            ++mTotalNumTableEntries;
            mNumValuesInCurrEntry = 0;
        }
    }

    // Overwrites value number `pos`, counted over the whole table.
    void set(const TYPE& value, uint32_t pos) {
        CHECK_LT(pos, mTotalNumTableEntries * mEntryCapacity);
        *locate(pos) = value;
    }

    bool get(TYPE& value, uint32_t pos) const {
        if (pos >= mTotalNumTableEntries * mEntryCapacity) return false;
        value = *locate(pos);
        return true;
    }

    uint32_t count() const { return mTotalNumTableEntries; }

    // Writes the entry count, then every entry, through the writer's
    // primitives (so the bytes land in the moov buffer or the file).
    template <typename WRITER>
    void write(WRITER* writer) const {
        CHECK_EQ(mNumValuesInCurrEntry % mEntryCapacity, 0u);
        uint32_t nEntries = mTotalNumTableEntries;
        writer->writeInt32(nEntries);
        for (TYPE* block : mTableEntryList) {
            CHECK_GT(nEntries, 0u);
            if (nEntries >= mElementCapacity) {
                writer->write(block, sizeof(TYPE) * mElementCapacity * mEntryCapacity);
                nEntries -= mElementCapacity;
            } else {
                writer->write(block, sizeof(TYPE) * nEntries * mEntryCapacity);
                break;
            }
        }
    }

    // Bytes held in blocks (allocated capacity).
    size_t allocatedBytes() const {
        return mTableEntryList.size() * sizeof(TYPE) * mElementCapacity * mEntryCapacity;
    }

private:
    TYPE* locate(uint32_t pos) const {
        uint32_t perBlock = mElementCapacity * mEntryCapacity;
        uint32_t blockIndex = pos / perBlock;
        CHECK_LT(blockIndex, (uint32_t)mTableEntryList.size());
        return mTableEntryList[blockIndex] + (pos % perBlock);
    }

    uint32_t mElementCapacity;
    uint32_t mEntryCapacity;
    uint32_t mTotalNumTableEntries;
    uint32_t mNumValuesInCurrEntry;
    TYPE* mCurrTableEntriesElement;
    std::vector<TYPE*> mTableEntryList;

    ListTableEntries(const ListTableEntries&) = delete;
    ListTableEntries& operator=(const ListTableEntries&) = delete;
};

}  // namespace qor

#endif  // QOR_LIST_TABLE_ENTRIES_H_
