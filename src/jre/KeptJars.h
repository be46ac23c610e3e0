#pragma once
// Jars packed whole (kvxpack --keep-jars) reach the runtime as files of their own, so that
// every framework that reads one resource name from each jar sees each jar's copy. The
// first start copies each into the per-user cache, named by its SHA-256; later starts reuse
// the copies when a record of each file's identity (size, times, file number) still matches,
// and hash a copy whose identity changed before trusting it again.
//
// Embedded lines, written by kvxpack:  keepjar <sha256> <size> <offset in the file> <name>

#include "base/AppString.h"
#include "base/LaunchError.h"

namespace kvx {

class ConfigStore;

// Makes sure every kept jar of the executable at `executable` lies in the cache and appends
// the class path separator and the path of each to `entries`, in packed order. Returns
// LAUNCH_OK (also when there is none), LAUNCH_KEPT_JARS_UNWRITABLE with the cache folder in
// `folder`, or LAUNCH_VM_INIT_FAILED when the executable's own record of them is damaged.
LaunchError prepareKeptJars(const ConfigStore& store, const AppString& executable, AppString& entries,
                            AppString& folder);

}  // namespace kvx
