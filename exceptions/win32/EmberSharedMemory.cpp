// Named shared memory of the module options on Windows: paging-file backed file mappings.
#include "EmberSharedMemory.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>

#include "EmberModuleOptions.h"
#include "classlib/SysUtils.h"

namespace {

// Areas are made in steps of 64 KB, so that options that grow a little still fit an area that
// another module keeps open (a mapping cannot change its size once made).
constexpr uint32_t kAreaGranularity = 65536;
constexpr uint32_t kSizeWord = 4;

// The areas this module keeps open, by module. The lock guards the map's links only: areas are
// opened and closed, and the map's entries made and freed, outside it, so that a thread killed
// there (an allocation may wait for the memory manager) leaves no one waiting.
using TAreas = std::map<uintptr_t, TEmberSharedArea>;
std::mutex gAreasLock;
TAreas gAreas;

// Keeps `area` as the one of `module` (an entry of `spare` when it has one, else one made here);
// one that another thread kept meanwhile stays, and `area` is closed.
void KeepArea(uintptr_t module, const TEmberSharedArea& area, TAreas::node_type spare) {
  if (spare.empty()) {
    TAreas made;
    made.emplace(module, area);
    spare = made.extract(module);
  }
  spare.key() = module;
  spare.mapped() = area;
  TAreas::insert_return_type kept;
  {
    std::lock_guard<std::mutex> lock(gAreasLock);
    kept = gAreas.insert(std::move(spare));
  }
  if (!kept.inserted) CloseSharedMemory(kept.node.mapped());
}

uint32_t ReadSizeWord(const uint8_t* view) {
  uint32_t size;
  std::memcpy(&size, view, 4);
  return size;
}

// Bytes mapped from `view` on, as the system reports them (whole pages).
SIZE_T MappedBytes(const void* view) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(view, &info, sizeof info) != sizeof info) return 0;
  return reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize - reinterpret_cast<uintptr_t>(view);
}

// Maps a whole mapping and checks its size word; a closed area when it is inconsistent.
TEmberSharedArea MapArea(HANDLE mapping, DWORD access, uint32_t newAreaSize) {
  TEmberSharedArea area;
  auto* view = static_cast<uint8_t*>(MapViewOfFile(mapping, access, 0, 0, 0));
  if (!view) {
    CloseHandle(mapping);
    return area;
  }
  SIZE_T mapped = MappedBytes(view);
  uint32_t areaSize = newAreaSize ? newAreaSize : ReadSizeWord(view);
  if (newAreaSize) std::memcpy(view, &areaSize, 4);
  if (areaSize <= kSizeWord || areaSize > mapped) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return area;
  }
  area.Handle = mapping;
  area.Data = view + kSizeWord;
  area.DataCapacity = areaSize - kSizeWord;
  return area;
}

}  // namespace

std::string SharedMemoryName(uintptr_t module) {
  return IntToHex(GetCurrentProcessId(), 8) + IntToHex(static_cast<uint32_t>(module), 8);
}

TEmberSharedArea OpenSharedMemory(uintptr_t module, uint32_t dataSize) {
  std::string name = SharedMemoryName(module);
  if (dataSize == 0) {
    // Only reading: an area that does not exist is not made (and nothing is left behind).
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    return mapping ? MapArea(mapping, FILE_MAP_READ, 0) : TEmberSharedArea();
  }
  if (dataSize > 0x7FFFFFFFu - kAreaGranularity) return TEmberSharedArea();
  uint32_t areaSize = (dataSize + kSizeWord + kAreaGranularity - 1) / kAreaGranularity * kAreaGranularity;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, areaSize, name.c_str());
  if (!mapping) return TEmberSharedArea();
  // An existing area keeps the size it was made with; its size word says which.
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return MapArea(mapping, FILE_MAP_READ | FILE_MAP_WRITE, existed ? 0 : areaSize);
}

void CloseSharedMemory(TEmberSharedArea& area) {
  if (area.Data) UnmapViewOfFile(area.Data - kSizeWord);
  if (area.Handle) CloseHandle(area.Handle);
  area = TEmberSharedArea();
}

bool SaveOptionsToSharedMemory(const TEmberModuleOptions& options) {
  uintptr_t module = options.ModuleHandle();
  if (!module) return false;
  TMemoryStream stream;
  uint8_t marker = 1;
  stream.WriteBuffer(&marker, 1);
  options.SaveToStream(stream);
  uint32_t size = static_cast<uint32_t>(stream.GetSize());

  // The area is opened anew, so that one no other module holds grows with the options.
  TAreas::node_type previous;
  {
    std::lock_guard<std::mutex> lock(gAreasLock);
    previous = gAreas.extract(module);
  }
  if (!previous.empty()) CloseSharedMemory(previous.mapped());
  TEmberSharedArea area = OpenSharedMemory(module, size);
  if (!area.Open()) return false;
  const bool fits = size <= area.DataCapacity;
  {
    // One writer at a time (the area is the same memory for all).
    std::lock_guard<std::mutex> lock(gAreasLock);
    if (fits) {
      std::memcpy(area.Data, stream.Memory(), size);
      std::memset(area.Data + size, 0, area.DataCapacity - size);
    } else {
      // Another module still holds a smaller area open: a cut-off stream would be read as
      // options, so the area says it holds none.
      area.Data[0] = 0;
    }
  }
  KeepArea(module, area, std::move(previous));
  return fits;
}

bool LoadOptionsFromSharedMemory(TEmberModuleOptions& options) {
  uintptr_t module = options.ModuleHandle();
  if (!module) return false;
  TEmberSharedArea area = OpenSharedMemory(module, 0);
  if (!area.Open()) return false;
  bool loaded = false;
  try {
    if (area.Data[0] != 0) {
      TMemoryStream stream;
      stream.WriteBuffer(area.Data + 1, static_cast<int32_t>(area.DataCapacity - 1));
      stream.SetPosition(0);
      // Reading is not a change of this module's options: nothing is published back.
      options.BeginUpdate();
      try {
        options.LoadFromStream(stream, EmberLibraryVersion);
      } catch (...) {
        options.EndUpdate();
        throw;
      }
      options.EndUpdate();
      loaded = true;
    }
  } catch (...) {
    CloseSharedMemory(area);
    throw;
  }
  CloseSharedMemory(area);
  return loaded;
}

bool ResetModuleSharedMemory(uintptr_t module) {
  if (!module) return false;
  {
    std::lock_guard<std::mutex> lock(gAreasLock);
    auto existing = gAreas.find(module);
    // The first data byte, not the size word: readers must still find the area's size.
    if (existing != gAreas.end()) {
      existing->second.Data[0] = 0;
      return true;
    }
  }
  TEmberSharedArea area = OpenSharedMemory(module, 1);
  if (!area.Open()) return false;
  area.Data[0] = 0;
  KeepArea(module, area, TAreas::node_type());
  return true;
}

void CloseModuleSharedMemory() {
  TAreas closing;
  {
    std::lock_guard<std::mutex> lock(gAreasLock);
    closing.swap(gAreas);
  }
  for (auto& [module, area] : closing) CloseSharedMemory(area);
}
