#pragma once
// LineReader: a cursor over zero-terminated configuration text. Lines end at CR, LF,
// CR LF, LF CR or the zero byte. Owns nothing: the text must outlive the reader.

#include "base/AppString.h"

namespace kvx {

class LineReader {
public:
    explicit LineReader(const char* position) : position_(position) {}
    virtual ~LineReader() = default;

    // Fills `line` with the next line and returns true; false when the text is exhausted.
    bool next(AppString& line);

private:
    const char* position_;
};

}  // namespace kvx
