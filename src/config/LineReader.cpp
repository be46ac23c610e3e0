#include "config/LineReader.h"

namespace kvx {

bool LineReader::next(AppString& line) {
    if (!position_ || *position_ == '\0') return false;
    const char* end = position_;
    while (*end != '\0' && *end != '\r' && *end != '\n') ++end;
    line.setLength(0);
    line.append(position_, static_cast<int32_t>(end - position_));
    // CR LF and LF CR are one line end each; CR CR is two, with an empty line between.
    if ((end[0] == '\r' && end[1] == '\n') || (end[0] == '\n' && end[1] == '\r')) {
        end += 2;
    } else if (*end != '\0') {
        ++end;
    }
    position_ = end;
    return true;
}

}  // namespace kvx
