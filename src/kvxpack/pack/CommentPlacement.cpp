#include "pack/CommentPlacement.h"

#include "config/ConfigText.h"
#include "config/EmbeddedConfigText.h"

namespace kvxpack {

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
        // The zero byte ends the launcher's text: whatever a signing tool appends later (zero
        // padding, the certificate table) never becomes a line of it.
        // A text that fills the launcher's whole window has no room for it, and no room for a
        // signature after it either.
        const std::size_t terminator = comment.size() < CONFIG_TEXT_LIMIT ? 1 : 0;
        if (terminator) comment.push_back('\0');
        if (comment.size() > CONFIG_TEXT_LIMIT) break;
        const EndRecord placed = withCommentLength(record, comment.size());
        const std::string tail = std::string(placed.bytes.begin(), placed.bytes.end()) + comment;
        // The launcher's own reader: starting at or after the record's first byte but within
        // the padding reads the same lines.
        const kvx::AppString read =
            kvx::findEmbeddedConfig(reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
        const std::size_t readLength = static_cast<std::size_t>(read.length());
        if (readLength >= text.size() + terminator && readLength <= text.size() + terminator + padding &&
            tail.compare(tail.size() - readLength, readLength, read.c_str(), readLength) == 0) {
            return true;
        }
    }
    comment.clear();
    return false;
}

}  // namespace kvxpack

