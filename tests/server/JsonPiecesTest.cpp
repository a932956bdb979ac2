// The -json document on its way out: nothing in it can end a wire message
// early, and a line too long for one message leaves in pieces that join up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JsonOutput.h"

namespace {

TEST(JsonPieces, DocumentCrossesTheWireWholeInPieces)
{
    const std::string longLine(9000, 'x');
    const std::vector<std::string> lines = {"<tag> and > alone", longLine};
    const CCommandReport report;
    const std::string document = JsonDocument({"trace", false, nullptr, lines, report, nullptr});
    EXPECT_EQ(document.find_first_of("<>"), std::string::npos);
    EXPECT_NE(document.find(R"("\u003ctag\u003e and \u003e alone")"), std::string::npos) << document;

    std::string joined;
    std::vector<size_t> lengths;
    for (const COutputPiece& piece : OutputPieces(document)) {
        EXPECT_LE(piece.text.size(), MAX_PIECE_LENGTH);
        joined += piece.text + (piece.newline ? "\n" : "");
        if (piece.text.find('x') != std::string::npos)
            lengths.push_back(piece.text.size());
    }
    EXPECT_EQ(joined, document + "\n");
    EXPECT_EQ(lengths.size(), 3u) << "the long line in three pieces";
}

}  // namespace
