// libFuzzer target: kvxpack's PE reader and resource-tree reader on arbitrary bytes. A tree
// that reads must write and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pe/PeImage.h"
#include "pe/ResourceTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    // The input as a resource section at a fixed address.
    kvxpack::ResourceTree tree;
    if (kvxpack::readResourceTree(data, size, 0x1000, tree, error)) {
        const kvxpack::Bytes written = kvxpack::writeResourceTree(tree, 0x1000);
        kvxpack::ResourceTree again;
        if (!kvxpack::readResourceTree(written.data(), written.size(), 0x1000, again, error) ||
            again.types() .size() != tree.types().size()) {
            std::abort();
        }
    }
    // The input as a whole image.
    kvxpack::PeImage image;
    if (image.parse(kvxpack::Bytes(data, data + size), error) && image.readResources(tree, error)) {
        (void)image.writeResources(tree, error);
    }
    return 0;
}
