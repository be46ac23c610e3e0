#include "pe/ResourceTree.h"

#include <vector>

namespace kvxpack {

namespace {

constexpr std::size_t DIRECTORY_SIZE = 16;
constexpr std::size_t ENTRY_SIZE = 8;
constexpr std::size_t DATA_ENTRY_SIZE = 16;
constexpr std::uint32_t HIGH_BIT = 0x80000000u;
// Bounds on the work a malformed section can cause: entries of one directory may all point
// at the same sub-directory, which multiplies across the three levels.
constexpr std::size_t MAX_ENTRIES_VISITED = 200000;
constexpr std::size_t MAX_DATA_BYTES = 256u << 20;

struct Reader {
    const unsigned char* section;
    std::size_t size;
    std::uint32_t rva;
    std::size_t visited = 0;
    std::size_t dataBytes = 0;
    std::string& error;

    bool fail(const std::string& why) {
        error = why;
        return false;
    }

    bool readName(std::uint32_t field, ResourceName& name) {
        if (!(field & HIGH_BIT)) {
            if (field > 0xFFFF) return fail("resource id larger than 65535");
            name = ResourceName::number(static_cast<std::uint16_t>(field));
            return true;
        }
        const std::uint32_t at = field & ~HIGH_BIT;
        if (!fits(at, 2, size)) return fail("resource name outside the resource section");
        const std::uint16_t length = le16(section + at);
        if (length == 0 || !fits(at + 2u, 2u * length, size)) return fail("resource name is empty or cut off");
        std::u16string text;
        for (std::uint32_t i = 0; i < length; ++i) text.push_back(static_cast<char16_t>(le16(section + at + 2 + 2 * i)));
        name = ResourceName::named(std::move(text));
        return true;
    }

    // Calls `visit(name, offsetField)` for each entry of the directory at `at`.
    template <typename Visit>
    bool forEntries(std::uint32_t at, Visit visit) {
        if (!fits(at, DIRECTORY_SIZE, size)) return fail("resource directory outside the resource section");
        const std::size_t count = static_cast<std::size_t>(le16(section + at + 12)) + le16(section + at + 14);
        if (!fits(at + DIRECTORY_SIZE, count * ENTRY_SIZE, size)) return fail("resource directory cut off");
        for (std::size_t i = 0; i < count; ++i) {
            if (++visited > MAX_ENTRIES_VISITED) return fail("resource tree has too many entries");
            const unsigned char* entry = section + at + DIRECTORY_SIZE + i * ENTRY_SIZE;
            ResourceName name;
            if (!readName(le32(entry), name)) return false;
            if (!visit(name, le32(entry + 4))) return false;
        }
        return true;
    }

    bool subdirectory(std::uint32_t field, std::uint32_t& at) {
        if (!(field & HIGH_BIT)) return fail("resource directory entry points at data too early");
        at = field & ~HIGH_BIT;
        return true;
    }

    bool readData(std::uint32_t field, ResourceItem& item) {
        if (field & HIGH_BIT) return fail("resource tree deeper than three levels");
        if (!fits(field, DATA_ENTRY_SIZE, size)) return fail("resource data entry outside the resource section");
        const std::uint32_t dataRva = le32(section + field);
        const std::uint32_t length = le32(section + field + 4);
        if (dataRva < rva || !fits(dataRva - rva, length, size)) {
            return fail("resource data outside the resource section");
        }
        dataBytes += length;
        if (dataBytes > MAX_DATA_BYTES) return fail("resource data larger than 256 MiB");
        item.codePage = le32(section + field + 8);
        const unsigned char* from = section + (dataRva - rva);
        item.data.assign(from, from + length);
        return true;
    }
};

void appendName(Bytes& strings, const std::u16string& text) {
    append16(strings, static_cast<std::uint32_t>(text.size()));
    for (char16_t unit : text) append16(strings, unit);
}

}  // namespace

bool operator<(const ResourceName& a, const ResourceName& b) {
    if (a.isText() != b.isText()) return a.isText();
    if (a.isText()) return a.text < b.text;
    return a.id < b.id;
}

bool operator==(const ResourceName& a, const ResourceName& b) { return a.id == b.id && a.text == b.text; }

void ResourceTree::put(const ResourceName& type, const ResourceName& name, std::uint16_t language, Bytes data) {
    ResourceItem& item = types_[type][name][language];
    item.codePage = 0;
    item.data = std::move(data);
}

void ResourceTree::remove(const ResourceName& type, const ResourceName& name) {
    auto names = types_.find(type);
    if (names == types_.end()) return;
    names->second.erase(name);
    if (names->second.empty()) types_.erase(names);
}

const LanguageMap* ResourceTree::find(const ResourceName& type, const ResourceName& name) const {
    auto names = types_.find(type);
    if (names == types_.end()) return nullptr;
    auto languages = names->second.find(name);
    return languages == names->second.end() ? nullptr : &languages->second;
}

std::uint16_t ResourceTree::unusedIconId() const {
    std::uint32_t highest = 0;
    auto icons = types_.find(ResourceName::number(RT_ICON_TYPE));
    if (icons != types_.end()) {
        for (const auto& entry : icons->second) {
            if (!entry.first.isText() && entry.first.id > highest) highest = entry.first.id;
        }
    }
    return static_cast<std::uint16_t>(highest + 1);  // callers check for 0 (all ids taken)
}

bool readResourceTree(const unsigned char* section, std::size_t sectionSize, std::uint32_t sectionRva,
                      ResourceTree& tree, std::string& error) {
    tree = ResourceTree{};
    Reader reader{section, sectionSize, sectionRva, 0, 0, error};
    return reader.forEntries(0, [&](const ResourceName& type, std::uint32_t typeField) {
        std::uint32_t namesAt = 0;
        if (!reader.subdirectory(typeField, namesAt)) return false;
        return reader.forEntries(namesAt, [&](const ResourceName& name, std::uint32_t nameField) {
            std::uint32_t languagesAt = 0;
            if (!reader.subdirectory(nameField, languagesAt)) return false;
            return reader.forEntries(languagesAt, [&](const ResourceName& language, std::uint32_t dataField) {
                if (language.isText()) return reader.fail("resource language given as a name");
                ResourceItem item;
                if (!reader.readData(dataField, item)) return false;
                tree.types()[type][name][language.id] = std::move(item);
                return true;
            });
        });
    });
}

Bytes writeResourceTree(const ResourceTree& tree, std::uint32_t sectionRva) {
    // First pass: where every directory, name text and data entry goes.
    const TypeMap& types = tree.types();
    std::size_t nameDirectories = 0;
    std::size_t languageDirectories = 0;
    std::size_t leaves = 0;
    std::size_t entries = types.size();
    for (const auto& type : types) {
        ++nameDirectories;
        entries += type.second.size();
        for (const auto& name : type.second) {
            ++languageDirectories;
            entries += name.second.size();
            leaves += name.second.size();
        }
    }
    const std::size_t directoriesSize = (1 + nameDirectories + languageDirectories) * DIRECTORY_SIZE + entries * ENTRY_SIZE;

    Bytes strings;
    std::map<std::u16string, std::uint32_t> stringAt;
    auto nameField = [&](const ResourceName& name) -> std::uint32_t {
        if (!name.isText()) return name.id;
        auto known = stringAt.find(name.text);
        if (known != stringAt.end()) return known->second;
        const auto field = static_cast<std::uint32_t>(directoriesSize + strings.size()) | HIGH_BIT;
        appendName(strings, name.text);
        stringAt.emplace(name.text, field);
        return field;
    };
    for (const auto& type : types) {
        nameField(type.first);
        for (const auto& name : type.second) nameField(name.first);
    }
    std::size_t dataEntriesAt = directoriesSize + strings.size();
    dataEntriesAt = (dataEntriesAt + 7) & ~std::size_t(7);
    Bytes out(dataEntriesAt + leaves * DATA_ENTRY_SIZE, 0);
    std::copy(strings.begin(), strings.end(), out.begin() + static_cast<std::ptrdiff_t>(directoriesSize));

    // Directories breadth first: the root, the name directories, the language directories.
    std::size_t nextDirectory = 0;
    auto writeDirectory = [&](std::size_t named, std::size_t numbered) {
        const std::size_t at = nextDirectory;
        put16(out.data() + at + 12, static_cast<std::uint32_t>(named));
        put16(out.data() + at + 14, static_cast<std::uint32_t>(numbered));
        nextDirectory += DIRECTORY_SIZE + (named + numbered) * ENTRY_SIZE;
        return at;
    };
    auto counts = [](const auto& map, std::size_t& named, std::size_t& numbered) {
        named = numbered = 0;
        for (const auto& entry : map) (entry.first.isText() ? named : numbered)++;
    };
    std::size_t named = 0;
    std::size_t numbered = 0;
    counts(types, named, numbered);
    const std::size_t root = writeDirectory(named, numbered);
    std::vector<std::size_t> nameDirs;
    for (const auto& type : types) {
        counts(type.second, named, numbered);
        nameDirs.push_back(writeDirectory(named, numbered));
    }
    std::vector<std::size_t> languageDirs;
    for (const auto& type : types) {
        for (const auto& name : type.second) languageDirs.push_back(writeDirectory(0, name.second.size()));
    }

    std::size_t typeIndex = 0;
    std::size_t languageIndex = 0;
    std::size_t leafIndex = 0;
    for (const auto& type : types) {
        unsigned char* typeEntry = out.data() + root + DIRECTORY_SIZE + typeIndex * ENTRY_SIZE;
        put32(typeEntry, nameField(type.first));
        put32(typeEntry + 4, static_cast<std::uint32_t>(nameDirs[typeIndex]) | HIGH_BIT);
        std::size_t nameIndex = 0;
        for (const auto& name : type.second) {
            unsigned char* nameEntry = out.data() + nameDirs[typeIndex] + DIRECTORY_SIZE + nameIndex * ENTRY_SIZE;
            const std::size_t languageDir = languageDirs[languageIndex++];
            put32(nameEntry, nameField(name.first));
            put32(nameEntry + 4, static_cast<std::uint32_t>(languageDir) | HIGH_BIT);
            std::size_t index = 0;
            for (const auto& language : name.second) {
                unsigned char* entry = out.data() + languageDir + DIRECTORY_SIZE + index * ENTRY_SIZE;
                const std::size_t dataEntry = dataEntriesAt + leafIndex * DATA_ENTRY_SIZE;
                put32(entry, language.first);
                put32(entry + 4, static_cast<std::uint32_t>(dataEntry));
                put32(out.data() + dataEntry, static_cast<std::uint32_t>(sectionRva + out.size()));
                put32(out.data() + dataEntry + 4, static_cast<std::uint32_t>(language.second.data.size()));
                put32(out.data() + dataEntry + 8, language.second.codePage);
                out.insert(out.end(), language.second.data.begin(), language.second.data.end());
                padTo(out, 8);
                ++index;
                ++leafIndex;
            }
            ++nameIndex;
        }
        ++typeIndex;
    }
    return out;
}

}  // namespace kvxpack
