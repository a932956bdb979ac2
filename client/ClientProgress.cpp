#include "ClientProgress.h"

#include <climits>
#include <cstdlib>

namespace {

const unsigned long long BYTES_PER_BLOCK = 1048576ULL / TAPE_TEST_BLOCKS_PER_MEGABYTE;

// Catalogue lines that announce a phase: text `before`, the size in
// megabytes, text `after`.
const CatalogueId WRITE_BEGINS = CAT_ISSUED_WRITE;
const CatalogueId WRITE_BEGINS_UNIT = CAT_MB_TO_TAPE;
const CatalogueId READ_BEGINS = CAT_ISSUED_READ_AND_COMPARE;
const CatalogueId READ_BEGINS_UNIT = CAT_MB_FROM_TAPE;
// Catalogue lines that tell a phase stopped short: a failed write, a failed
// read, data that read back wrong.
const CatalogueId WRITE_FAILED = CAT_FAILURE_WRITE_DATA;
const CatalogueId READ_FAILED = CAT_FAILURE_READ_DATA;
const CatalogueId COMPARE_FAILED = CAT_READ_COMPARE_FAILED;

// The size a phase announcement names, or 0 when text is no announcement
// built from the two catalogue texts.
unsigned long long AnnouncedMegabytes(const CVString& text, CatalogueId before, CatalogueId after)
{
    const CVString head = CatalogueText(before);
    const CVString tail = CatalogueText(after);
    const int numberLength = text.GetLength() - head.GetLength() - tail.GetLength();
    if (numberLength < 1 || text.Left(head.GetLength()) != head || text.Right(tail.GetLength()) != tail)
        return 0;
    CVString number = text.Mid(head.GetLength(), numberLength);
    number.Trim();
    // A test size is an int; anything else is no announcement of this server.
    if (number.IsEmpty() || number.GetLength() > 10)
        return 0;
    for (int i = 0; i < number.GetLength(); ++i) {
        if (number[i] < '0' || number[i] > '9')
            return 0;
    }
    unsigned long long megabytes = std::strtoull(number, nullptr, 10);
    return megabytes > static_cast<unsigned long long>(INT_MAX) ? 0 : megabytes;
}

bool Is(const CVString& text, CatalogueId id)
{
    return text == CatalogueText(id);
}

}  // namespace

CClientProgress::CClientProgress(int fd, bool enabled) : m_enabled(enabled), m_display(fd)
{}

void CClientProgress::BeforeText(const CVString& text, long now)
{
    if (!m_enabled)
        return;
    if (m_phase != NONE && m_tokens > 0) {
        bool stoppedShort =
            m_phase == WRITE ? Is(text, WRITE_FAILED) : Is(text, READ_FAILED) || Is(text, COMPARE_FAILED);
        if (!stoppedShort)
            Draw(m_blocks, now);
    }
    Finish();

    if (unsigned long long megabytes = AnnouncedMegabytes(text, WRITE_BEGINS, WRITE_BEGINS_UNIT)) {
        m_phase = WRITE;
        m_blocks = megabytes * TAPE_TEST_BLOCKS_PER_MEGABYTE;
    } else if (unsigned long long megabytes = AnnouncedMegabytes(text, READ_BEGINS, READ_BEGINS_UNIT)) {
        m_phase = READ;
        m_blocks = megabytes * TAPE_TEST_BLOCKS_PER_MEGABYTE;
    }
}

void CClientProgress::Token(bool write, long now)
{
    if (!m_enabled || m_phase != (write ? WRITE : READ) || m_blocks == 0)
        return;
    // Token n comes after block (n - 1) * interval; the phase is complete
    // only when the next line says so.
    unsigned long long interval = m_blocks / TAPE_TEST_PROGRESS_STEPS;
    if (interval == 0)
        interval = 1;
    unsigned long long done = m_tokens * interval + 1;
    ++m_tokens;
    if (done >= m_blocks)
        done = m_blocks - 1;
    Draw(done, now);
}

void CClientProgress::Finish()
{
    m_display.EndLine();
    m_phase = NONE;
    m_blocks = 0;
    m_tokens = 0;
}

void CClientProgress::Draw(unsigned long long blocksDone, long now)
{
    m_display.Show(m_phase == WRITE ? "Write" : "Read", blocksDone * BYTES_PER_BLOCK, m_blocks * BYTES_PER_BLOCK, now);
}
