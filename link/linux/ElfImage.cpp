// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/linux/ElfImage.h"

#include <elf.h>

#include <cstring>

namespace qx {

namespace {

template <typename T>
bool readAt(std::span<const uint8_t> image, uint64_t offset, T& out) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&out, image.data() + offset, sizeof(T));
    return true;
}

bool fits(std::span<const uint8_t> image, uint64_t offset, uint64_t count, uint64_t size) {
    if (size != 0 && count > (UINT64_MAX / size)) {
        return false;
    }
    const uint64_t bytes = count * size;
    return offset <= image.size() && bytes <= image.size() - offset;
}

} // namespace

std::string checkElfImage(std::span<const uint8_t> image) {
    Elf64_Ehdr eh;
    if (!readAt(image, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) {
        return "not an ELF image";
    }
    if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB ||
        eh.e_type != ET_DYN) {
        return "not a 64-bit little-endian shared object";
    }
#if defined(__x86_64__)
    if (eh.e_machine != EM_X86_64) {
        return "built for another processor";
    }
#elif defined(__aarch64__)
    if (eh.e_machine != EM_AARCH64) {
        return "built for another processor";
    }
#endif
    if (eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0 ||
        !fits(image, eh.e_phoff, eh.e_phnum, sizeof(Elf64_Phdr))) {
        return "program headers outside the image";
    }
    if (eh.e_shnum != 0 && (eh.e_shentsize != sizeof(Elf64_Shdr) ||
                            !fits(image, eh.e_shoff, eh.e_shnum, sizeof(Elf64_Shdr)))) {
        return "section headers outside the image";
    }
    bool loadable = false;
    for (uint16_t i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        readAt(image, eh.e_phoff + uint64_t{i} * sizeof(Elf64_Phdr), ph);
        if (ph.p_type != PT_LOAD && ph.p_type != PT_DYNAMIC) {
            continue;
        }
        if (!fits(image, ph.p_offset, 1, ph.p_filesz)) {
            return "a segment lies outside the image";
        }
        loadable = loadable || ph.p_type == PT_LOAD;
    }
    return loadable ? std::string{} : "no loadable segment";
}

namespace {

constexpr uint64_t align4(uint64_t n) {
    return (n + 3) & ~uint64_t{3};
}

// Looks for the build-id note among the notes of one segment.
std::string buildIdIn(std::span<const uint8_t> notes) {
    static constexpr char kGnu[] = "GNU"; // with its NUL, as the note stores it
    uint64_t at = 0;
    while (notes.size() - at >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr nh;
        std::memcpy(&nh, notes.data() + at, sizeof nh);
        at += sizeof nh;
        const uint64_t nameLen = align4(nh.n_namesz);
        const uint64_t descLen = align4(nh.n_descsz);
        if (nameLen > notes.size() - at || descLen > notes.size() - at - nameLen) {
            return {};
        }
        const uint8_t* name = notes.data() + at;
        const uint8_t* desc = name + nameLen;
        if (nh.n_type == NT_GNU_BUILD_ID && nh.n_namesz == sizeof kGnu &&
            std::memcmp(name, kGnu, sizeof kGnu) == 0) {
            static constexpr char kHex[] = "0123456789abcdef";
            std::string hex;
            for (uint32_t i = 0; i < nh.n_descsz; ++i) {
                hex += kHex[desc[i] >> 4];
                hex += kHex[desc[i] & 0x0F];
            }
            return hex;
        }
        at += nameLen + descLen;
    }
    return {};
}

} // namespace

std::string elfBuildId(std::span<const uint8_t> image) {
    if (!checkElfImage(image).empty()) {
        return {};
    }
    Elf64_Ehdr eh;
    readAt(image, 0, eh);
    for (uint16_t i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        readAt(image, eh.e_phoff + uint64_t{i} * sizeof(Elf64_Phdr), ph);
        if (ph.p_type != PT_NOTE || !fits(image, ph.p_offset, 1, ph.p_filesz)) {
            continue;
        }
        std::string id = buildIdIn(image.subspan(ph.p_offset, ph.p_filesz));
        if (!id.empty()) {
            return id;
        }
    }
    return {};
}

} // namespace qx
