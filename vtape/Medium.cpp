#include "Medium.h"

#include <cstring>

namespace {

const uint32_t FILEMARK_ENTRY = 0xFFFFFFFFu;
const uint32_t NO_CONTENT = 0xFFFFFFFFu;
// Content ids and record numbers stay below the filemark marker.
const uint64_t MAX_OBJECTS = 0xFFFFFFF0u;

uint64_t HashBytes(const unsigned char* data, size_t length)
{
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof(word));
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 31;
    }
    for (; i < length; ++i) {
        hash = (hash ^ data[i]) * 0x100000001B3ull;
    }
    hash ^= hash >> 29;
    return hash;
}

}  // namespace

CTapeMedium::CTapeMedium(uint64_t capacityBytes) : m_lastContent(NO_CONTENT), m_capacityBytes(capacityBytes)
{}

uint32_t CTapeMedium::RecordLength(uint32_t entry) const
{
    return entry == FILEMARK_ENTRY ? 0 : m_contents[entry].length;
}

CTapeMedium::EObject CTapeMedium::ObjectAtPosition(const unsigned char*& bytes, uint32_t& length) const
{
    bytes = nullptr;
    length = 0;
    if (m_position >= m_records.size()) {
        return OBJECT_END_OF_DATA;
    }
    const uint32_t entry = m_records[m_position];
    if (entry == FILEMARK_ENTRY) {
        return OBJECT_FILEMARK;
    }
    const CContent& content = m_contents[entry];
    bytes = content.bytes.get();
    length = content.length;
    return OBJECT_RECORD;
}

void CTapeMedium::StepForward()
{
    if (m_position < m_records.size()) {
        m_positionBytes += RecordLength(m_records[m_position]);
        ++m_position;
    }
}

CTapeMedium::EObject CTapeMedium::StepBackward()
{
    if (m_position == 0) {
        return OBJECT_BEGINNING;
    }
    --m_position;
    const uint32_t entry = m_records[m_position];
    m_positionBytes -= RecordLength(entry);
    return entry == FILEMARK_ENTRY ? OBJECT_FILEMARK : OBJECT_RECORD;
}

void CTapeMedium::Rewind()
{
    m_position = 0;
    m_positionBytes = 0;
}

void CTapeMedium::SeekEndOfData()
{
    m_position = m_records.size();
    m_positionBytes = m_usedBytes;
}

void CTapeMedium::Truncate()
{
    if (m_position >= m_records.size()) {
        return;
    }
    for (size_t i = m_position; i < m_records.size(); ++i) {
        if (m_records[i] != FILEMARK_ENTRY) {
            ReleaseContent(m_records[i]);
        }
    }
    m_records.resize(m_position);
    m_usedBytes = m_positionBytes;
}

bool CTapeMedium::WriteRecord(const unsigned char* data, uint32_t length)
{
    Truncate();
    if (length > m_capacityBytes - m_usedBytes || m_records.size() >= MAX_OBJECTS) {
        return false;
    }
    if (m_records.size() == m_records.capacity()) {
        m_records.reserve(m_records.empty() ? 1024 : m_records.size() * 2);
    }
    m_records.push_back(StoreContent(data, length));
    ++m_position;
    m_usedBytes += length;
    m_positionBytes = m_usedBytes;
    return true;
}

void CTapeMedium::WriteFilemark()
{
    Truncate();
    if (m_records.size() >= MAX_OBJECTS) {
        return;
    }
    m_records.push_back(FILEMARK_ENTRY);
    ++m_position;
}

uint32_t CTapeMedium::StoreContent(const unsigned char* data, uint32_t length)
{
    // A tape is usually written with one block over and over: try the last
    // content first, before hashing anything.
    if (m_lastContent != NO_CONTENT) {
        CContent& last = m_contents[m_lastContent];
        if (last.length == length && std::memcmp(last.bytes.get(), data, length) == 0) {
            ++last.references;
            return m_lastContent;
        }
    }
    const uint64_t hash = HashBytes(data, length);
    auto range = m_contentIndex.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
        CContent& candidate = m_contents[it->second];
        if (it->second != m_lastContent && candidate.length == length &&
            std::memcmp(candidate.bytes.get(), data, length) == 0) {
            ++candidate.references;
            m_lastContent = it->second;
            return it->second;
        }
    }

    std::unique_ptr<unsigned char[]> bytes(new unsigned char[length]);
    std::memcpy(bytes.get(), data, length);
    uint32_t id;
    if (!m_freeContents.empty()) {
        id = m_freeContents.back();
        m_freeContents.pop_back();
    } else {
        m_contents.emplace_back();
        id = static_cast<uint32_t>(m_contents.size() - 1);
    }
    CContent& content = m_contents[id];
    content.bytes = std::move(bytes);
    content.hash = hash;
    content.length = length;
    content.references = 1;
    m_contentIndex.emplace(hash, id);
    ++m_liveContents;
    m_lastContent = id;
    return id;
}

void CTapeMedium::ReleaseContent(uint32_t id)
{
    CContent& content = m_contents[id];
    if (--content.references != 0) {
        return;
    }
    auto range = m_contentIndex.equal_range(content.hash);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == id) {
            m_contentIndex.erase(it);
            break;
        }
    }
    content.bytes.reset();
    content.length = 0;
    m_freeContents.push_back(id);
    --m_liveContents;
    if (m_lastContent == id) {
        m_lastContent = NO_CONTENT;
    }
}

size_t CTapeMedium::MemoryFootprint() const
{
    // Index nodes: key, value, next pointer and cached hash, plus buckets.
    const size_t indexNode = sizeof(uint64_t) + sizeof(uint32_t) + 2 * sizeof(void*);
    size_t total = m_records.capacity() * sizeof(uint32_t) + m_contents.capacity() * sizeof(CContent) +
                   m_freeContents.capacity() * sizeof(uint32_t) + m_contentIndex.size() * indexNode +
                   m_contentIndex.bucket_count() * sizeof(void*);
    for (const CContent& content : m_contents) {
        total += content.length;
    }
    return total;
}
