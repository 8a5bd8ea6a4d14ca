// GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA: the
// VS_VERSIONINFO block of a Windows executable's resources (PE) or of the
// ".vs_version_info" section of an ELF program.
//
// The caller's buffer holds the block as stored (UTF-16 strings), then a
// trailer, then room where VerQueryValueA puts each string in the system code
// page: every string value has a slot of its own there, twice the size of its
// UTF-16 bytes plus two, so a query never moves or overwrites another.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "paths.h"
#include "text.h"

namespace {

constexpr size_t kMaxBlock = 0xFFFF;  // the root's wLength is 16 bits
constexpr char kElfSection[] = ".vs_version_info";
constexpr uint32_t kResourceTypeVersion = 16;
constexpr uint32_t kMaxSections = 96;  // as the Windows loader
constexpr uint32_t kMaxDirectoryEntries = 4096;
constexpr uint32_t kTrailerMagic = 0x4956444D;  // "MDVI"
constexpr WORD kTextValue = 1;

struct Trailer {
  uint32_t magic;
  uint32_t blockSize;
  uint32_t bufferSize;
  uint32_t reserved;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

// Reads ranges of a file; every read is checked against the file's size.
class FileReader {
 public:
  explicit FileReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      off_t end = lseek(fd_, 0, SEEK_END);
      size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
  }
  ~FileReader() {
    if (fd_ >= 0) close(fd_);
  }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  bool Read(uint64_t offset, void* out, size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    auto* bytes = static_cast<uint8_t*>(out);
    while (count > 0) {
      ssize_t n = pread(fd_, bytes, count, static_cast<off_t>(offset));
      if (n <= 0) return false;
      bytes += n;
      offset += static_cast<uint64_t>(n);
      count -= static_cast<size_t>(n);
    }
    return true;
  }

  // Up to `count` bytes from `offset`, cut at the end of the file.
  std::vector<uint8_t> ReadUpTo(uint64_t offset, size_t count) const {
    if (offset >= size_) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, size_ - offset)));
    if (!Read(offset, bytes.data(), bytes.size())) bytes.clear();
    return bytes;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// ---------------------------------------------------------------------------
// PE: the first RT_VERSION resource of the resource directory.
class PeImage {
 public:
  explicit PeImage(const FileReader& file) : file_(file) {}

  std::vector<uint8_t> VersionResource() {
    uint8_t dos[64];
    if (!file_.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
    const uint64_t pe = Get32(dos + 0x3C);
    uint8_t header[24];
    if (!file_.Read(pe, header, sizeof header) || std::memcmp(header, "PE\0\0", 4) != 0) return {};
    const uint32_t sections = Get16(header + 6);
    const uint32_t optionalSize = Get16(header + 20);
    uint8_t magic[2];
    if (sections > kMaxSections || !file_.Read(pe + 24, magic, 2)) return {};
    const bool plus = Get16(magic) == 0x20b;
    if (!plus && Get16(magic) != 0x10b) return {};
    const uint32_t countField = plus ? 108 : 92;
    uint8_t count[4], directory[8];
    if (countField + 4 > optionalSize || !file_.Read(pe + 24 + countField, count, 4) || Get32(count) <= 2) return {};
    const uint32_t resourceField = countField + 4 + 2 * 8;
    if (resourceField + 8 > optionalSize || !file_.Read(pe + 24 + resourceField, directory, 8)) return {};

    sections_ = file_.ReadUpTo(pe + 24 + optionalSize, 40 * sections);
    auto root = RvaToOffset(Get32(directory), 16);
    if (!root) return {};
    root_ = *root;
    // Type, name, language: the version type, then the first of each.
    auto names = Descend(root_, kResourceTypeVersion);
    auto languages = names ? Descend(*names, std::nullopt) : std::nullopt;
    auto data = languages ? Entry(*languages, std::nullopt) : std::nullopt;
    uint8_t record[8];
    if (!data || (*data & 0x80000000u) != 0 || !file_.Read(root_ + *data, record, sizeof record)) return {};
    const uint32_t size = static_cast<uint32_t>(std::min<size_t>(Get32(record + 4), kMaxBlock));
    auto offset = RvaToOffset(Get32(record), size);
    if (!offset) return {};
    return file_.ReadUpTo(*offset, size);
  }

 private:
  // The file offset of `size` bytes at a relative virtual address.
  std::optional<uint64_t> RvaToOffset(uint32_t rva, uint32_t size) const {
    for (size_t at = 0; at + 40 <= sections_.size(); at += 40) {
      const uint8_t* section = sections_.data() + at;
      const uint32_t virtualSize = Get32(section + 8), address = Get32(section + 12);
      const uint32_t rawSize = Get32(section + 16), rawOffset = Get32(section + 20);
      if (rva < address || rva - address >= std::max(virtualSize, rawSize)) continue;
      const uint64_t inside = rva - address;
      if (inside + size > rawSize) return std::nullopt;
      return rawOffset + inside;
    }
    return std::nullopt;
  }

  // The entry of a directory with the id (or the first one), as its raw
  // OffsetToData field.
  std::optional<uint32_t> Entry(uint64_t directory, std::optional<uint32_t> id) const {
    uint8_t header[16];
    if (!file_.Read(directory, header, sizeof header)) return std::nullopt;
    const uint32_t named = Get16(header + 12);
    const uint32_t total = std::min(named + Get16(header + 14), kMaxDirectoryEntries);
    const std::vector<uint8_t> entries = file_.ReadUpTo(directory + 16, 8 * total);
    for (size_t i = id ? named : 0; 8 * i + 8 <= entries.size(); ++i) {
      const uint8_t* entry = entries.data() + 8 * i;
      if (!id || Get32(entry) == *id) return Get32(entry + 4);
    }
    return std::nullopt;
  }

  // The subdirectory that an entry of `directory` points to.
  std::optional<uint64_t> Descend(uint64_t directory, std::optional<uint32_t> id) const {
    auto entry = Entry(directory, id);
    if (!entry || (*entry & 0x80000000u) == 0) return std::nullopt;
    return root_ + (*entry & 0x7FFFFFFFu);
  }

  const FileReader& file_;
  std::vector<uint8_t> sections_;  // the section table, 40 bytes per section
  uint64_t root_ = 0;
};

// ---------------------------------------------------------------------------
// ELF (32 or 64 bits, little-endian): the bytes of the version section.
std::vector<uint8_t> ElfVersionSection(const FileReader& file) {
  uint8_t header[64];
  if (!file.Read(0, header, 52) ||
      std::memcmp(header,
                  "\x7F"
                  "ELF",
                  4) != 0 ||
      header[5] != 1)
    return {};
  const bool wide = header[4] == 2;
  if (!wide && header[4] != 1) return {};
  if (wide && !file.Read(0, header, 64)) return {};
  const uint64_t table = wide ? Get64(header + 0x28) : Get32(header + 0x20);
  const uint32_t entrySize = Get16(header + (wide ? 0x3A : 0x2E));
  const uint32_t count = Get16(header + (wide ? 0x3C : 0x30));
  const uint32_t namesIndex = Get16(header + (wide ? 0x3E : 0x32));
  const uint32_t needed = wide ? 0x40 : 0x28;
  if (entrySize < needed || namesIndex >= count) return {};

  struct Section {
    uint32_t name, type;
    uint64_t offset, size;
  };
  auto section = [&](uint32_t i) -> std::optional<Section> {
    uint8_t raw[0x40];
    if (!file.Read(table + static_cast<uint64_t>(entrySize) * i, raw, needed)) return std::nullopt;
    if (wide) return Section{Get32(raw), Get32(raw + 4), Get64(raw + 0x18), Get64(raw + 0x20)};
    return Section{Get32(raw), Get32(raw + 4), Get32(raw + 0x10), Get32(raw + 0x14)};
  };
  auto names = section(namesIndex);
  if (!names) return {};
  for (uint32_t i = 0; i < count; ++i) {
    auto s = section(i);
    if (!s) return {};
    char name[sizeof kElfSection];
    if (s->type == 8 /* SHT_NOBITS */ || s->name > names->size || names->size - s->name < sizeof name ||
        !file.Read(names->offset + s->name, name, sizeof name) || std::memcmp(name, kElfSection, sizeof name) != 0)
      continue;
    return file.ReadUpTo(s->offset, static_cast<size_t>(std::min<uint64_t>(s->size, kMaxBlock)));
  }
  return {};
}

// ---------------------------------------------------------------------------
// The nodes of a version block: wLength, wValueLength, wType, a
// zero-terminated UTF-16 key, the value and the children, each 4-aligned.
struct Node {
  size_t begin = 0, end = 0;
  std::u16string key;
  WORD type = 0;
  size_t value = 0, valueBytes = 0;
  size_t children = 0;
};

std::optional<Node> ParseNode(const uint8_t* block, size_t offset, size_t limit) {
  if (offset > limit || limit - offset < 6) return std::nullopt;
  const size_t length = Get16(block + offset);
  if (length < 6 || length > limit - offset) return std::nullopt;
  Node node;
  node.begin = offset;
  node.end = offset + length;
  const size_t valueLength = Get16(block + offset + 2);
  node.type = Get16(block + offset + 4);
  size_t at = offset + 6;
  for (;; at += 2) {
    if (at + 2 > node.end) return std::nullopt;
    const char16_t c = Get16(block + at);
    if (c == 0) break;
    node.key.push_back(c);
  }
  node.value = std::min(Align4(at + 2), node.end);
  node.valueBytes = std::min(node.type == kTextValue ? valueLength * 2 : valueLength, node.end - node.value);
  node.children = std::min(Align4(node.value + node.valueBytes), node.end);
  return node;
}

bool KeyEquals(const std::u16string& key, const std::wstring& wanted) {
  if (key.size() != wanted.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(key[i])) != std::towlower(static_cast<wint_t>(wanted[i]))) return false;
  }
  return true;
}

std::optional<Node> FindChild(const uint8_t* block, const Node& parent, const std::wstring& key) {
  for (size_t at = parent.children; at < parent.end;) {
    auto child = ParseNode(block, at, parent.end);
    if (!child) return std::nullopt;
    if (KeyEquals(child->key, key)) return child;
    at = Align4(child->end);
  }
  return std::nullopt;
}

// The version block of a file, trimmed to its root's length, or empty with
// the last error set.
std::vector<uint8_t> ReadVersionBlock(LPCSTR fileName) {
  auto path = w32::PosixArgument(fileName);
  if (!path) return {};
  FileReader file(*path);
  if (!file.IsOpen()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return {};
  }
  std::vector<uint8_t> block = PeImage(file).VersionResource();
  if (block.empty()) block = ElfVersionSection(file);
  auto root = block.empty() ? std::nullopt : ParseNode(block.data(), 0, block.size());
  if (!root || !KeyEquals(root->key, L"VS_VERSION_INFO")) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return {};
  }
  block.resize(root->end);
  return block;
}

size_t BufferSize(size_t blockSize) { return Align4(blockSize) + sizeof(Trailer) + 2 * blockSize + 2; }

std::wstring Utf16ToWide(const uint8_t* bytes, size_t count) {
  std::u16string units;
  for (size_t i = 0; i + 1 < count; i += 2) {
    const char16_t c = Get16(bytes + i);
    if (c == 0) break;
    units.push_back(c);
  }
  std::wstring out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  const std::vector<uint8_t> block = ReadVersionBlock(lptstrFilename);
  if (block.empty()) return 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(BufferSize(block.size()));
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<uint8_t> block = ReadVersionBlock(lptstrFilename);
  if (block.empty()) return FALSE;
  if (dwLen < BufferSize(block.size())) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = static_cast<uint8_t*>(lpData);
  std::memset(out, 0, BufferSize(block.size()));
  std::memcpy(out, block.data(), block.size());
  const Trailer trailer{kTrailerMagic, static_cast<uint32_t>(block.size()), dwLen, 0};
  std::memcpy(out + Align4(block.size()), &trailer, sizeof trailer);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) return FALSE;
  auto* buffer = static_cast<uint8_t*>(const_cast<void*>(pBlock));
  // Only a buffer that GetFileVersionInfoA filled carries the trailer that
  // bounds it.
  const size_t declared = Get16(buffer);
  Trailer trailer;
  std::memcpy(&trailer, buffer + Align4(declared), sizeof trailer);
  if (trailer.magic != kTrailerMagic || trailer.blockSize != declared || trailer.bufferSize < BufferSize(declared))
    return FALSE;
  auto node = ParseNode(buffer, 0, declared);
  if (!node) return FALSE;

  const std::wstring path = w32::AcpToWide(lpSubBlock);
  for (size_t at = 0; node && at < path.size();) {
    size_t end = path.find(L'\\', at);
    if (end == std::wstring::npos) end = path.size();
    if (end > at) node = FindChild(buffer, *node, path.substr(at, end - at));
    at = end + 1;
  }
  if (!node || (node->valueBytes == 0 && node->begin == 0)) return FALSE;

  if (node->type != kTextValue) {
    *lplpBuffer = buffer + node->value;
    if (puLen != nullptr) *puLen = static_cast<UINT>(node->valueBytes);
    return TRUE;
  }
  const std::string text = w32::WideToAcp(Utf16ToWide(buffer + node->value, node->valueBytes));
  const size_t slot = Align4(declared) + sizeof(Trailer) + 2 * node->value;
  const size_t room = 2 * node->valueBytes + 2;
  if (text.size() + 1 > room) return FALSE;
  std::memcpy(buffer + slot, text.c_str(), text.size() + 1);
  *lplpBuffer = buffer + slot;
  if (puLen != nullptr) *puLen = static_cast<UINT>(text.size() + 1);
  return TRUE;
}
