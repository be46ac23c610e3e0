#pragma once
// The class path: the executable itself, `classpath` entries, CLASSPATH, CLASS_PATH and
// the archives under every `libs` directory, joined by the platform's class path separator
// (";" on Windows, ":" on Linux). `classpath` values themselves always split on ";".

#include "base/AppString.h"

namespace kvx {

class ConfigStore;
class StringPool;

// `kept`: separator-led entries that follow the executable (the jars it carries whole).
AppString buildClassPath(const ConfigStore& store, const AppString& kept = AppString());
// Appends the separator and each non-empty entry of the separator-joined `list` to `out`
// (CLASSPATH and CLASS_PATH: an empty entry would mean the current directory to Java).
void appendNonEmptyEntries(const AppString& list, AppString& out);
// Callback for `classpath` values (context: the AppString accumulator): appends the
// separator and one expanded entry, resolved beside the executable, per non-empty
// ";"-separated piece.
void appendClassPathValue(void* accumulator, const char* value);
// Callback that adds an environment-expanded value to a StringPool (also used for the
// `option` and `property` keys).
void addExpandedValue(void* pool, const char* value);
// Appends the separator and the path of every ".jar"/".zip" archive under `directory`, at
// any depth, to `out`, in enumeration order.
void scanLibraryDirectory(const AppString& directory, AppString& out);

}  // namespace kvx
