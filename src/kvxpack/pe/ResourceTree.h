#pragma once
// ResourceTree: the resources of an image as three levels (type, name, language), read from
// and written to the layout of a resource section.

#include <cstdint>
#include <map>
#include <string>

#include "pe/Bytes.h"

namespace kvxpack {

// Standard resource types.
constexpr std::uint16_t RT_ICON_TYPE = 3;
constexpr std::uint16_t RT_BITMAP_TYPE = 2;
constexpr std::uint16_t RT_STRING_TYPE = 6;
constexpr std::uint16_t RT_GROUP_ICON_TYPE = 14;
constexpr std::uint16_t RT_VERSION_TYPE = 16;
constexpr std::uint16_t RT_MANIFEST_TYPE = 24;

// A resource type or name: a number, or a text (kept as UTF-16, as the section stores it).
struct ResourceName {
    std::uint16_t id = 0;
    std::u16string text;  // non-empty for a named entry

    static ResourceName number(std::uint16_t id) { return ResourceName{id, {}}; }
    static ResourceName named(std::u16string text) { return ResourceName{0, std::move(text)}; }
    bool isText() const { return !text.empty(); }
};

// The order of the section's directories: named entries first (by code unit), then numbers
// ascending. The loader's binary search relies on it.
bool operator<(const ResourceName& a, const ResourceName& b);
bool operator==(const ResourceName& a, const ResourceName& b);

struct ResourceItem {
    std::uint32_t codePage = 0;
    Bytes data;
};

inline bool operator==(const ResourceItem& a, const ResourceItem& b) {
    return a.codePage == b.codePage && a.data == b.data;
}

using LanguageMap = std::map<std::uint16_t, ResourceItem>;
using NameMap = std::map<ResourceName, LanguageMap>;
using TypeMap = std::map<ResourceName, NameMap>;

class ResourceTree {
public:
    TypeMap& types() { return types_; }
    const TypeMap& types() const { return types_; }

    // Adds or replaces one resource.
    void put(const ResourceName& type, const ResourceName& name, std::uint16_t language, Bytes data);
    // Removes a name with all its languages (nothing when absent).
    void remove(const ResourceName& type, const ResourceName& name);
    // The languages of one name, or null.
    const LanguageMap* find(const ResourceName& type, const ResourceName& name) const;
    // Every icon image id in use, for handing out new ones.
    std::uint16_t unusedIconId() const;

private:
    TypeMap types_;
};

// Reads the tree from `section`, the bytes of the resource section that starts at relative
// virtual address `sectionRva`. Every offset is checked; a malformed tree fails with a reason.
[[nodiscard]] bool readResourceTree(const unsigned char* section, std::size_t sectionSize, std::uint32_t sectionRva,
                                    ResourceTree& tree, std::string& error);

// The section bytes for `tree` placed at `sectionRva`: directories, name texts, data entries,
// then the data, each piece 8-byte aligned. Time stamps are 0, so equal trees give equal bytes.
Bytes writeResourceTree(const ResourceTree& tree, std::uint32_t sectionRva);

}  // namespace kvxpack
