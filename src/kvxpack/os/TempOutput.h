#pragma once
// TempOutput: a file written beside its target under a temporary name and moved into place
// only by commit(), so the target is never seen half-written and an existing one survives
// any failure. Without a commit the temporary file is removed.

#include <string>

#include "os/File.h"

namespace kvxpack {

class TempOutput {
public:
    TempOutput() = default;
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    [[nodiscard]] bool create(const std::string& target, std::string& error);
    File& file() { return file_; }
    // Closes the file, makes it executable and replaces the target with it.
    [[nodiscard]] bool commit(std::string& error);

private:
    File file_;
    std::string target_;
    std::string tempPath_;
};

}  // namespace kvxpack
