// The movie reader on any bytes: a movie or an error every time, and a model whose style numbers
// stay inside their lists (the renderer indexes with them unchecked).
#include "fuzz/FuzzTargets.h"

#include "flash/swf/SwfReader.h"

#include <variant>

namespace fuzz {
namespace {

void CheckEdges(const std::vector<flash::ShapeEdge>& edges, std::size_t fills, std::size_t lines) {
    for (const flash::ShapeEdge& edge : edges) {
        Check(edge.fill0 >= -1 && edge.fill0 < int(fills), "fill style inside the shape's list");
        Check(edge.fill1 >= -1 && edge.fill1 < int(fills), "fill style inside the shape's list");
        Check(edge.line >= -1 && edge.line < int(lines), "line style inside the shape's list");
    }
}

} // namespace

int SwfReader(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const flash::ReadResult header = flash::ReadHeaderOnly(bytes);
    Check(header.movie || !header.error.isEmpty(), "a header or an error");
    const flash::ReadResult result = flash::ReadMovie(bytes);
    Check(result.movie || !result.error.isEmpty(), "a movie or an error");
    if (!result.movie)
        return 0;
    for (const auto& [id, character] : result.movie->dictionary) {
        Check(bool(character), "no empty dictionary entry");
        if (const auto* shape = std::get_if<flash::Shape>(character.get())) {
            CheckEdges(shape->edges, shape->fillStyles.size(), shape->lineStyles.size());
        } else if (const auto* morph = std::get_if<flash::MorphShape>(character.get())) {
            Check(morph->startEdges.size() == morph->endEdges.size(), "morph edges in pairs");
            Check(morph->startFillStyles.size() == morph->endFillStyles.size(), "morph fills in pairs");
            Check(morph->startLineStyles.size() == morph->endLineStyles.size(), "morph lines in pairs");
            CheckEdges(morph->startEdges, morph->startFillStyles.size(), morph->startLineStyles.size());
            CheckEdges(morph->endEdges, morph->startFillStyles.size(), morph->startLineStyles.size());
        }
    }
    return 0;
}

} // namespace fuzz
