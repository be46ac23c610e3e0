#pragma once
// How the configuration text goes behind the end record so that the launcher reads it back.
//
// The launcher does not parse the record: it takes what follows the last "PK\5\6" it meets
// within the final 22 + 51200 bytes of the file. Fields of the record (entry count, directory
// size and offset, comment length) can form those bytes together with the first bytes of the
// text, and the launcher would then start reading inside the record. It is rare (for example
// a directory offset of 0x054B50xx with a text length of 6 modulo 256), but it loses lines.

#include <string>

#include "zip/EndRecord.h"

namespace kvxpack {

// Gives the comment to write: normally `text` followed by one zero byte, which ends the text for
// the launcher whatever comes after it. When the record's fields would mislead
// the launcher, the text behind a few empty lines (CR LF), so that wherever the launcher starts
// it reads only empty lines before the text. Fails when no such padding keeps the text within
// the launcher's limit.
[[nodiscard]] bool placeComment(const EndRecord& record, const std::string& text, std::string& comment);

// The record with its comment-length field set.
EndRecord withCommentLength(EndRecord record, std::size_t length);

}  // namespace kvxpack
