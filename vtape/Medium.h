// The cartridge: a sequence of records and filemarks ending at end of data,
// a capacity in bytes and a position. Knows nothing of SCSI.
//
// Each record is a 4-byte entry naming a stored content; identical record
// contents are stored once. Writing the same block again costs one compare
// against the last stored content and no allocation.
#ifndef VTAPE_MEDIUM_H
#define VTAPE_MEDIUM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class CTapeMedium {
public:
    enum EObject {
        OBJECT_RECORD,
        OBJECT_FILEMARK,
        OBJECT_END_OF_DATA,  // at the position: nothing recorded here
        OBJECT_BEGINNING     // StepBackward at the beginning: no move
    };

    explicit CTapeMedium(uint64_t capacityBytes);
    CTapeMedium(const CTapeMedium&) = delete;
    CTapeMedium& operator=(const CTapeMedium&) = delete;

    // Object number of the position (records and filemarks both count).
    uint64_t Position() const { return m_position; }
    uint64_t ObjectCount() const { return m_records.size(); }
    bool AtBeginning() const { return m_position == 0; }
    uint64_t CapacityBytes() const { return m_capacityBytes; }
    uint64_t UsedBytes() const { return m_usedBytes; }
    // Record bytes between the beginning and the position.
    uint64_t BytesBeforePosition() const { return m_positionBytes; }

    // What lies at the position; for a record, its bytes and length.
    EObject ObjectAtPosition(const unsigned char*& bytes, uint32_t& length) const;

    // Moves past the object at the position (no move at end of data).
    void StepForward();
    // Moves back over the object before the position and says what it was.
    EObject StepBackward();
    void Rewind();
    void SeekEndOfData();

    // Discards everything from the position on: the position becomes end of
    // data. Writing does this first.
    void Truncate();

    // Truncates, then records `length` (> 0) bytes. Returns false, recording
    // nothing, when the record does not fit in the remaining capacity.
    bool WriteRecord(const unsigned char* data, uint32_t length);
    void WriteFilemark();

    // Distinct contents stored.
    long StoredContents() const { return m_liveContents; }
    // Heap bytes held by records, contents and the content index.
    size_t MemoryFootprint() const;

private:
    struct CContent {
        std::unique_ptr<unsigned char[]> bytes;
        uint64_t hash = 0;
        uint32_t length = 0;
        uint32_t references = 0;
    };

    uint32_t StoreContent(const unsigned char* data, uint32_t length);
    void ReleaseContent(uint32_t id);
    uint32_t RecordLength(uint32_t entry) const;

    std::vector<uint32_t> m_records;  // content id, or a filemark marker
    std::vector<CContent> m_contents;
    std::vector<uint32_t> m_freeContents;                        // ids of released contents
    std::unordered_multimap<uint64_t, uint32_t> m_contentIndex;  // hash -> id
    uint32_t m_lastContent;
    long m_liveContents = 0;
    uint64_t m_position = 0;
    uint64_t m_positionBytes = 0;
    uint64_t m_usedBytes = 0;
    uint64_t m_capacityBytes;
};

#endif
