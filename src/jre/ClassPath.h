#pragma once
// The class path: the executable itself, `classpath` entries, CLASSPATH, CLASS_PATH and
// the archives under every `libs` directory.

#include "base/AppString.h"

namespace kvx {

class ConfigStore;
class StringPool;

AppString buildClassPath(const ConfigStore& store);
// Callback for `classpath` values: appends ";" and one resolved entry per non-empty piece.
void appendClassPathValue(void* accumulator, const char* value);
// Callback that adds an environment-expanded value to a StringPool (also used for the
// `option` and `property` keys).
void addExpandedValue(void* pool, const char* value);
// Appends ";" and the path of every ".jar"/".zip" archive under `directory` to `out`.
void scanLibraryDirectory(const AppString& directory, AppString& out);

}  // namespace kvx
