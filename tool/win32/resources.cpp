#include "win32/resources.h"

namespace tillwright::win32 {
namespace {

constexpr DWORD kHighBit = 0x80000000u;

const IMAGE_RESOURCE_DIRECTORY_ENTRY *Entries(const IMAGE_RESOURCE_DIRECTORY *directory) {
  return reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY *>(directory + 1);
}

const IMAGE_RESOURCE_DIRECTORY *Subdirectory(const BYTE *root, const IMAGE_RESOURCE_DIRECTORY_ENTRY &entry) {
  if ((entry.OffsetToData & kHighBit) == 0) return nullptr;
  return reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY *>(root + (entry.OffsetToData & ~kHighBit));
}

bool SameName(const BYTE *root, const IMAGE_RESOURCE_DIRECTORY_ENTRY &entry, std::wstring_view name) {
  if ((entry.Name & kHighBit) == 0) return false;
  const auto *text = reinterpret_cast<const IMAGE_RESOURCE_DIR_STRING_U *>(root + (entry.Name & ~kHighBit));
  if (text->Length != name.size()) return false;
  return ::CompareStringOrdinal(text->NameString, text->Length, name.data(), static_cast<int>(name.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

std::span<const std::byte> NamedResource(HMODULE module, LPCWSTR type, std::wstring_view name) {
  const DWORD typeId = LOWORD(reinterpret_cast<ULONG_PTR>(type));
  const auto *base = reinterpret_cast<const BYTE *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  if (base == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return {};
  const auto *headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &resources = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  if (resources.VirtualAddress == 0) return {};
  const BYTE *root = base + resources.VirtualAddress;
  const auto *types = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY *>(root);

  // Types, then names, then languages; named entries come before those with ids.
  const IMAGE_RESOURCE_DIRECTORY *names = nullptr;
  const int typeCount = types->NumberOfNamedEntries + types->NumberOfIdEntries;
  for (int i = types->NumberOfNamedEntries; i < typeCount && names == nullptr; ++i) {
    if (Entries(types)[i].Name == typeId) names = Subdirectory(root, Entries(types)[i]);
  }
  if (names == nullptr) return {};
  const IMAGE_RESOURCE_DIRECTORY *languages = nullptr;
  for (int i = 0; i < names->NumberOfNamedEntries && languages == nullptr; ++i) {
    if (SameName(root, Entries(names)[i], name)) languages = Subdirectory(root, Entries(names)[i]);
  }
  if (languages == nullptr || languages->NumberOfNamedEntries + languages->NumberOfIdEntries == 0) return {};
  const IMAGE_RESOURCE_DIRECTORY_ENTRY &first = Entries(languages)[0];
  if ((first.OffsetToData & kHighBit) != 0) return {};
  const auto *data = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY *>(root + first.OffsetToData);
  return {reinterpret_cast<const std::byte *>(base + data->OffsetToData), data->Size};
}

}  // namespace tillwright::win32
