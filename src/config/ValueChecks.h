#pragma once
// Checks of configuration values that the launcher and the packager must agree on.

namespace kvx {

// `single_instance`: 1 to 64 letters, digits, '.', '_' and '-' (it becomes part of a pipe or
// socket name).
bool isSingleInstanceName(const char* name);
// `jre_url`: http: or https: (either case), something after it, and no white space, control
// character or '"' (nothing the shell could read as a second argument or a command).
bool isJreDownloadAddress(const char* url);

}  // namespace kvx
