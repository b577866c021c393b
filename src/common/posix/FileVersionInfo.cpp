// The version block of an ELF executable: the contents of its ".brekver" section.
#include <elf.h>

#include <cstring>
#include <fstream>
#include <optional>

#include "common/FileVersionInfo.h"
#include "common/VersionRecord.h"

namespace brek {
namespace {

struct SectionPlace {
  std::uint64_t offset = 0, size = 0;
};

template <class T>
bool ReadAt(std::ifstream& f, std::uint64_t offset, T& out) {
  f.seekg(static_cast<std::streamoff>(offset));
  f.read(reinterpret_cast<char*>(&out), sizeof out);
  return static_cast<bool>(f);
}

template <class Ehdr, class Shdr>
std::optional<SectionPlace> FindSection(std::ifstream& f, const char* wanted) {
  Ehdr eh{};
  if (!ReadAt(f, 0, eh) || eh.e_shentsize != sizeof(Shdr) || eh.e_shstrndx >= eh.e_shnum) return std::nullopt;
  Shdr names{};
  if (!ReadAt(f, eh.e_shoff + std::uint64_t{eh.e_shstrndx} * sizeof(Shdr), names)) return std::nullopt;
  const std::size_t wantedLen = std::strlen(wanted);
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Shdr sh{};
    if (!ReadAt(f, eh.e_shoff + std::uint64_t{i} * sizeof(Shdr), sh)) return std::nullopt;
    if (sh.sh_name + wantedLen + 1 > names.sh_size) continue;
    char name[32] = {};
    f.seekg(static_cast<std::streamoff>(names.sh_offset + sh.sh_name));
    f.read(name, static_cast<std::streamsize>(wantedLen + 1));
    if (!f) return std::nullopt;
    if (std::memcmp(name, wanted, wantedLen + 1) == 0 && sh.sh_type != SHT_NOBITS)
      return SectionPlace{sh.sh_offset, sh.sh_size};
  }
  return std::nullopt;
}

std::optional<SectionPlace> FindVersionSection(std::ifstream& f) {
  unsigned char ident[EI_NIDENT] = {};
  f.read(reinterpret_cast<char*>(ident), EI_NIDENT);
  if (!f || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
  f.clear();
  if (ident[EI_CLASS] == ELFCLASS64) return FindSection<Elf64_Ehdr, Elf64_Shdr>(f, kVersionRecordSection);
  if (ident[EI_CLASS] == ELFCLASS32) return FindSection<Elf32_Ehdr, Elf32_Shdr>(f, kVersionRecordSection);
  return std::nullopt;
}

}  // namespace

std::uint32_t FileVersionInfoSize(const std::string& fileName) {
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return 0;
  const auto place = FindVersionSection(f);
  if (!place || place->size == 0 || place->size > 65536) return 0;
  return static_cast<std::uint32_t>(place->size);
}

bool ReadFileVersionInfo(const std::string& fileName, std::vector<unsigned char>& buffer) {
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return false;
  const auto place = FindVersionSection(f);
  if (!place || place->size > buffer.size()) return false;
  f.seekg(static_cast<std::streamoff>(place->offset));
  f.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(place->size));
  return static_cast<bool>(f);
}

bool QueryVersionValue(const std::vector<unsigned char>& block, const std::string& subBlock,
                       std::string& value) {
  return QueryVersionRecord(block, subBlock, value);
}

}  // namespace brek
