#pragma once
// TrayIconTable: the process-wide ordered list of tray icon records, each with the global
// reference that keeps its Java object alive while the icon is shown. Plain storage: the
// caller (SystemTray natives) holds the tray lock around every use and owns the records.

#include <jni.h>

#include <cstdint>

namespace kvx {

struct TrayIconRecord;

struct TrayIconEntry {
    int32_t id = 0;                    // the record's icon id, also the handle Java keeps in `h`
    TrayIconRecord* record = nullptr;  // owned by the tray natives, not by the table
    jobject ref = nullptr;             // global reference while shown, else null
};

class TrayIconTable {
public:
    TrayIconTable() = default;
    TrayIconTable(const TrayIconTable&) = delete;
    TrayIconTable& operator=(const TrayIconTable&) = delete;
    ~TrayIconTable();  // frees the storage only; records are released by their owner

    // Makes room for `needed` entries; false (table unchanged) when memory ran out.
    [[nodiscard]] bool reserve(int32_t needed);
    [[nodiscard]] bool append(const TrayIconEntry& entry);
    // Index of the first entry with this id, or -1.
    int32_t indexOf(int32_t id) const;
    TrayIconEntry& at(int32_t index) { return entries_[index]; }
    const TrayIconEntry& at(int32_t index) const { return entries_[index]; }
    // Removes one entry, keeping the order of the others.
    void removeAt(int32_t index);
    // Hands the entries over (the caller frees them with `freeEntries`) and leaves the table
    // empty with no storage.
    TrayIconEntry* takeAll(int32_t& count);
    static void freeEntries(TrayIconEntry* entries);

    int32_t size() const { return size_; }
    int32_t capacity() const { return capacity_; }

private:
    TrayIconEntry* entries_ = nullptr;
    int32_t size_ = 0;
    int32_t capacity_ = 0;
};

}  // namespace kvx
