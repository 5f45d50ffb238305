#include "tests/state/pe_image.h"

#include <cstring>

namespace petest {

namespace {

// Bounds-checked little-endian reads over the file's bytes.
class Reader {
  public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}

    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    std::optional<std::uint32_t> U32(std::size_t offset) const {
        if (!Has(offset, 4)) {
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8) | static_cast<unsigned char>(bytes_[offset + i]);
        }
        return v;
    }
    std::optional<std::uint16_t> U16(std::size_t offset) const {
        if (!Has(offset, 2)) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes_[offset]) |
                                          (static_cast<unsigned char>(bytes_[offset + 1]) << 8));
    }
    std::optional<std::string> CString(std::size_t offset) const {
        if (!Has(offset, 1)) {
            return std::nullopt;
        }
        const std::size_t end = bytes_.find('\0', offset);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        return bytes_.substr(offset, end - offset);
    }
    std::string Slice(std::size_t offset, std::size_t count) const {
        return Has(offset, count) ? bytes_.substr(offset, count) : std::string();
    }

  private:
    const std::string& bytes_;
};

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

std::optional<std::size_t> ToOffset(const std::vector<Section>& sections, std::uint32_t rva) {
    for (const auto& s : sections) {
        const std::uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva - s.virtualAddress < size) {
            return static_cast<std::size_t>(s.rawOffset) + (rva - s.virtualAddress);
        }
    }
    return std::nullopt;
}

// Offset of the first entry with id under a resource directory, or nullopt.
std::optional<std::uint32_t> ResourceChild(const Reader& r, std::size_t base, std::uint32_t dir,
                                           std::optional<std::uint32_t> id) {
    const auto named = r.U16(base + dir + 12);
    const auto ids = r.U16(base + dir + 14);
    if (!named || !ids) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(*named + *ids) && i < 1024; ++i) {
        const std::size_t entry = base + dir + 16 + i * 8;
        const auto name = r.U32(entry);
        const auto target = r.U32(entry + 4);
        if (!name || !target) {
            return std::nullopt;
        }
        if (!id || (!(*name & 0x80000000u) && *name == *id)) {
            return *target;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<PeImage> ReadPeImage(const std::string& bytes) {
    const Reader r(bytes);
    if (r.Slice(0, 2) != "MZ") {
        return std::nullopt;
    }
    const auto peOffset = r.U32(0x3C);
    if (!peOffset || r.Slice(*peOffset, 4) != std::string("PE\0\0", 4)) {
        return std::nullopt;
    }
    const std::size_t file = *peOffset + 4;
    const std::size_t optional = file + 20;
    PeImage image;
    const auto machine = r.U16(file);
    const auto sectionCount = r.U16(file + 2);
    const auto optionalSize = r.U16(file + 16);
    const auto magic = r.U16(optional);
    const auto subsystem = r.U16(optional + 68);
    const auto dirCount = r.U32(optional + 92);
    if (!machine || !sectionCount || !optionalSize || !magic || !subsystem || !dirCount ||
        *magic != 0x10b) {
        return std::nullopt;
    }
    image.machine = *machine;
    image.magic = *magic;
    image.subsystem = *subsystem;

    std::vector<Section> sections;
    const std::size_t table = optional + *optionalSize;
    for (std::size_t i = 0; i < *sectionCount; ++i) {
        const std::size_t h = table + i * 40;
        const auto vs = r.U32(h + 8), va = r.U32(h + 12), rs = r.U32(h + 16), ro = r.U32(h + 20);
        if (!vs || !va || !rs || !ro) {
            return std::nullopt;
        }
        sections.push_back({*va, *vs, *ro, *rs});
    }

    // Imports: 20-byte descriptors up to an all-zero one.
    if (*dirCount > 1) {
        const auto importRva = r.U32(optional + 96 + 8);
        if (importRva && *importRva != 0) {
            const auto at = ToOffset(sections, *importRva);
            if (!at) {
                return std::nullopt;
            }
            for (std::size_t d = *at; r.Has(d, 20) && image.imports.size() < 256; d += 20) {
                const auto nameRva = r.U32(d + 12);
                if (!nameRva || *nameRva == 0) {
                    break;
                }
                const auto nameAt = ToOffset(sections, *nameRva);
                const auto name = nameAt ? r.CString(*nameAt) : std::nullopt;
                if (!name) {
                    return std::nullopt;
                }
                image.imports.push_back(*name);
            }
        }
    }

    // The manifest: resource type 24, id 1, first language.
    if (*dirCount > 2) {
        const auto resRva = r.U32(optional + 96 + 16);
        const auto base = resRva && *resRva ? ToOffset(sections, *resRva) : std::nullopt;
        if (base) {
            auto type = ResourceChild(r, *base, 0, 24u);
            auto name = type && (*type & 0x80000000u)
                            ? ResourceChild(r, *base, *type & 0x7FFFFFFFu, 1u)
                            : std::nullopt;
            auto lang = name && (*name & 0x80000000u)
                            ? ResourceChild(r, *base, *name & 0x7FFFFFFFu, std::nullopt)
                            : std::nullopt;
            if (lang && !(*lang & 0x80000000u)) {
                const auto dataRva = r.U32(*base + *lang);
                const auto size = r.U32(*base + *lang + 4);
                const auto at = dataRva ? ToOffset(sections, *dataRva) : std::nullopt;
                if (at && size) {
                    image.manifest = r.Slice(*at, *size);
                }
            }
        }
    }
    // The load configuration (directory 10); DependentLoadFlags at 0x36 of
    // the PE32 structure.
    if (*dirCount > 10) {
        const auto rva = r.U32(optional + 96 + 80);
        const auto size = r.U32(optional + 96 + 84);
        const auto at = rva && *rva ? ToOffset(sections, *rva) : std::nullopt;
        const auto ownSize = at ? r.U32(*at) : std::nullopt;
        if (at && size && ownSize && *ownSize == *size && *size >= 0x38) {
            image.dependentLoadFlags = r.U16(*at + 0x36);
        }
    }
    return image;
}

}  // namespace petest
