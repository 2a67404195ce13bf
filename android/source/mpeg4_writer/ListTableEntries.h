/*
 * A growing sample table. Recordings run for hours without knowing their
 * final size, so values are kept in fixed-size blocks that are never moved,
 * already in file byte order: writing the table is one copy per block.
 */
#ifndef QOR_LIST_TABLE_ENTRIES_H_
#define QOR_LIST_TABLE_ENTRIES_H_

#include <stdint.h>

#include <memory>
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
          mNumValuesInCurrEntry(0) {
        CHECK_GT(mElementCapacity, 0u);
        CHECK_GT(mEntryCapacity, 0u);
    }

    // Adds one value of the entry being filled; the value must already be
    // in file byte order.
    void add(const TYPE& value) {
        CHECK_LT(mNumValuesInCurrEntry, mElementCapacity);
        uint32_t nEntries = mTotalNumTableEntries % mElementCapacity;
        uint32_t nValues = mNumValuesInCurrEntry % mEntryCapacity;
        if (nEntries == 0 && nValues == 0) {
            mBlocks.push_back(std::make_unique<TYPE[]>(mElementCapacity * mEntryCapacity));
        }
        uint32_t pos = nEntries * mEntryCapacity + nValues;
        mBlocks.back()[pos] = value;
        ++mNumValuesInCurrEntry;
        if ((mNumValuesInCurrEntry % mEntryCapacity) == 0) {
            ++mTotalNumTableEntries;
            mNumValuesInCurrEntry = 0;
        }
    }

    bool get(TYPE& value, uint32_t pos) const {
        if (pos >= mTotalNumTableEntries * mEntryCapacity) return false;
        value = *locate(pos);
        return true;
    }

    uint32_t count() const { return mTotalNumTableEntries; }

    // Writes the entry count, then every entry, through the writer's
    // primitives.
    template <typename WRITER>
    void write(WRITER* writer) const {
        CHECK_EQ(mNumValuesInCurrEntry % mEntryCapacity, 0u);
        uint32_t nEntries = mTotalNumTableEntries;
        writer->writeInt32(nEntries);
        for (const std::unique_ptr<TYPE[]>& block : mBlocks) {
            CHECK_GT(nEntries, 0u);
            if (nEntries >= mElementCapacity) {
                writer->write(block.get(), sizeof(TYPE) * mElementCapacity * mEntryCapacity);
                nEntries -= mElementCapacity;
            } else {
                writer->write(block.get(), sizeof(TYPE) * nEntries * mEntryCapacity);
                break;
            }
        }
    }

    // Like write(), with every value passed through `change(pos, value)`
    // on the way out; the table itself stays as it is.
    template <typename WRITER, typename CHANGE>
    void writeChanged(WRITER* writer, CHANGE change) const {
        CHECK_EQ(mNumValuesInCurrEntry % mEntryCapacity, 0u);
        writer->writeInt32(mTotalNumTableEntries);
        const uint32_t nValues = mTotalNumTableEntries * mEntryCapacity;
        for (uint32_t pos = 0; pos < nValues; ++pos) {
            TYPE value = change(pos, *locate(pos));
            writer->write(&value, sizeof(TYPE));
        }
    }

    // Bytes held in blocks (allocated capacity).
    size_t allocatedBytes() const {
        return mBlocks.size() * sizeof(TYPE) * mElementCapacity * mEntryCapacity;
    }

private:
    TYPE* locate(uint32_t pos) const {
        uint32_t perBlock = mElementCapacity * mEntryCapacity;
        uint32_t blockIndex = pos / perBlock;
        CHECK_LT(blockIndex, (uint32_t)mBlocks.size());
        return mBlocks[blockIndex].get() + (pos % perBlock);
    }

    uint32_t mElementCapacity;
    uint32_t mEntryCapacity;
    uint32_t mTotalNumTableEntries;
    uint32_t mNumValuesInCurrEntry;
    std::vector<std::unique_ptr<TYPE[]>> mBlocks;

    ListTableEntries(const ListTableEntries&) = delete;
    ListTableEntries& operator=(const ListTableEntries&) = delete;
};

}  // namespace qor

#endif  // QOR_LIST_TABLE_ENTRIES_H_
