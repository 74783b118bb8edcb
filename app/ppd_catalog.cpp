// The drivers of the Printer Application: the PPD directories read into a catalog.
#include "app/ppd_catalog.h"

#include <dirent.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/handles.h"
#include "log/text.h"

namespace {

constexpr char kPpdSuffix[] = ".ppd";
constexpr char kGzipPpdSuffix[] = ".ppd.gz";

bool ends_with(const char* text, const char* suffix) {
  const size_t length = strlen(text);
  const size_t suffix_length = strlen(suffix);
  return length > suffix_length && strcmp(text + length - suffix_length, suffix) == 0;
}

void note_skipped(DriverCatalog* catalog, const char* path, const char* why) {
  if (catalog->num_skipped >= kMaxSkipped) return;
  format_text(catalog->skipped[catalog->num_skipped++], kSkipReasonSize, "%s: %s", path, why);
}

// The PPD's *1284DeviceID, *NickName and the check that it opens at all.
bool read_entry(DriverEntry* entry, const char* path, char* why, size_t why_size) {
  UniquePpd ppd = openDriverPpd(path, why, why_size);
  if (ppd == nullptr) return false;
  copy_text(entry->ppd_path, sizeof(entry->ppd_path), path);
  const char* nickname = ppd->nickname != nullptr ? ppd->nickname : ppd->modelname;
  copy_text(entry->description, sizeof(entry->description),
            nickname != nullptr ? nickname : entry->name);
  ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
  if (id != nullptr && id->value != nullptr) {
    copy_text(entry->device_id, sizeof(entry->device_id), id->value);
  }
  return true;
}

void scan_directory(DriverCatalog* catalog, const char* directory) {
  UniqueDir dir(opendir(directory));
  if (dir == nullptr) return;
  while (dirent* file = readdir(dir.get())) {
    if (!ends_with(file->d_name, kPpdSuffix) && !ends_with(file->d_name, kGzipPpdSuffix)) continue;
    char path[kPpdPathSize];
    if (!format_text(path, sizeof(path), "%s/%s", directory, file->d_name)) continue;
    if (catalog->count >= kMaxDrivers) {
      note_skipped(catalog, path, "too many drivers");
      continue;
    }
    DriverEntry* entry = &catalog->entries[catalog->count];
    memset(entry, 0, sizeof(*entry));
    driverNameOfFile(entry->name, sizeof(entry->name), file->d_name);
    if (findDriver(*catalog, entry->name) != nullptr) {
      note_skipped(catalog, path, "a driver of the same name comes first");
      continue;
    }
    char why[256];
    if (!read_entry(entry, path, why, sizeof(why))) {
      note_skipped(catalog, path, why);
      continue;
    }
    catalog->count++;
  }
}

int compare_entries(const void* a, const void* b) {
  return strcmp(static_cast<const DriverEntry*>(a)->name, static_cast<const DriverEntry*>(b)->name);
}

// The maker and model of an IEEE 1284 device ID, by either spelling of the keys.
bool maker_and_model(const char* device_id, char* maker, size_t maker_size, char* model,
                     size_t model_size) {
  CupsOptions pairs;
  pairs.count = papplDeviceParseID(device_id, &pairs.options);
  const char* mfg = pairs.get("MANUFACTURER");
  if (mfg == nullptr) mfg = pairs.get("MFG");
  const char* mdl = pairs.get("MODEL");
  if (mdl == nullptr) mdl = pairs.get("MDL");
  if (mfg == nullptr || mdl == nullptr) return false;
  copy_text(maker, maker_size, mfg);
  copy_text(model, model_size, mdl);
  return true;
}

}  // namespace

void driverNameOfFile(char* name, size_t size, const char* file_name) {
  if (size == 0) return;
  copy_text(name, size, file_name);
  const size_t length = strlen(name);
  for (const char* suffix : {kGzipPpdSuffix, kPpdSuffix}) {
    const size_t n = strlen(suffix);
    if (length > n && strcmp(name + length - n, suffix) == 0) {
      name[length - n] = '\0';
      break;
    }
  }
  for (char* p = name; *p != '\0'; p++) {
    const unsigned char c = static_cast<unsigned char>(*p);
    *p = isalnum(c) != 0 || c == '-' || c == '_' ? static_cast<char>(tolower(c)) : '_';
  }
}

void scanPpdDirectories(DriverCatalog* catalog, const char* directories) {
  char list[kPpdPathSize * kMaxPpdDirectories];
  copy_text(list, sizeof(list), directories);
  char* save = nullptr;
  for (char* dir = strtok_r(list, ":", &save); dir != nullptr;
       dir = strtok_r(nullptr, ":", &save)) {
    scan_directory(catalog, dir);
  }
  qsort(catalog->entries, static_cast<size_t>(catalog->count), sizeof(DriverEntry),
        compare_entries);
  for (int i = 0; i < catalog->count; i++) {
    DriverEntry& entry = catalog->entries[i];
    catalog->drivers[i] = {entry.name, entry.description,
                           entry.device_id[0] != '\0' ? entry.device_id : nullptr, nullptr};
  }
}

const DriverEntry* findDriver(const DriverCatalog& catalog, const char* name) {
  for (int i = 0; name != nullptr && i < catalog.count; i++) {
    if (strcmp(catalog.entries[i].name, name) == 0) return &catalog.entries[i];
  }
  return nullptr;
}

const char* matchDeviceId(const DriverCatalog& catalog, const char* device_id) {
  char maker[kDescriptionSize];
  char model[kDescriptionSize];
  if (device_id == nullptr ||
      !maker_and_model(device_id, maker, sizeof(maker), model, sizeof(model))) {
    return nullptr;
  }
  for (int i = 0; i < catalog.count; i++) {
    char driver_maker[kDescriptionSize];
    char driver_model[kDescriptionSize];
    if (!maker_and_model(catalog.entries[i].device_id, driver_maker, sizeof(driver_maker),
                         driver_model, sizeof(driver_model))) {
      continue;
    }
    if (strcasecmp(maker, driver_maker) == 0 && strcasecmp(model, driver_model) == 0) {
      return catalog.entries[i].name;
    }
  }
  return nullptr;
}
