#include "pack/CommentPlacement.h"

#include "config/ConfigText.h"

namespace kvxpack {

namespace {

constexpr std::size_t LAUNCHER_WINDOW = END_RECORD_SIZE + CONFIG_TEXT_LIMIT;
constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);

// Where the launcher's backward search stops within `tail` (record followed by comment).
std::size_t launcherMatch(const std::string& tail) {
    const std::size_t lowest = tail.size() > LAUNCHER_WINDOW ? tail.size() - LAUNCHER_WINDOW : 0;
    for (std::size_t at = tail.size() - END_RECORD_SIZE;; --at) {
        if (readLe32(reinterpret_cast<const unsigned char*>(tail.data() + at)) == END_SIGNATURE) return at;
        if (at == lowest) return NOT_FOUND;
    }
}

}  // namespace

EndRecord withCommentLength(EndRecord record, std::size_t length) {
    writeLe16(record.bytes.data() + END_COMMENT_LENGTH_AT, static_cast<std::uint16_t>(length));
    return record;
}

bool placeComment(const EndRecord& record, const std::string& text, std::string& comment) {
    // A false match can only start inside the record, so fewer than END_RECORD_SIZE bytes of padding do.
    for (std::size_t padding = 0; padding < END_RECORD_SIZE; ++padding) {
        comment.clear();
        for (std::size_t i = 0; i < padding; ++i) comment.push_back(i % 2 == 0 ? '\r' : '\n');
        comment += text;
        if (comment.size() > CONFIG_TEXT_LIMIT) break;
        const EndRecord placed = withCommentLength(record, comment.size());
        const std::string tail = std::string(placed.bytes.begin(), placed.bytes.end()) + comment;
        // Starting at or after the record's first byte but within the padding reads the same lines.
        if (launcherMatch(tail) <= padding) return true;
    }
    comment.clear();
    return false;
}

}  // namespace kvxpack

