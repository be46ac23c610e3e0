#pragma once
// What differs between platforms when the launcher looks for a Java runtime and loads it:
// the library's file name, the layout of a Java home, the PATH list syntax, and a Java
// home that the system itself names.

#include <cstdint>

#include "base/AppString.h"

namespace kvx::platform {

// File name of the runtime library: "jvm.dll" on Windows, "libjvm.so" on Linux.
const char* jvmLibraryName();

// The directory suffixes a Java home is searched under, in search order. Each is empty or
// ends in a separator. Windows: "", "bin\", "jre\bin\", "..\jre\bin\". Linux: "", "lib/",
// "jre/lib/amd64/", "../jre/lib/amd64/" (JDK 9+ keeps lib/server, JDK 8 jre/lib/amd64/server).
int32_t javaHomeSuffixCount();
// Suffix `i`; "" for an index out of range.
const char* javaHomeSuffix(int32_t i);

// The character between the entries of the PATH variable: ";" on Windows, ":" on Linux.
char pathListSeparator();

// True for a character that ends the directory part of the runtime library's path when a
// failed load puts that directory's parent on PATH: "\" and "/" on both systems, since
// discovery itself joins with "/" (C:\jdk/jre\bin\client/jvm.dll).
bool isLibraryDirSeparator(char c);

// A Java home named by the system rather than by the user: on Linux /usr/lib/jvm/default-java
// when it exists, else the home of the `java` found on PATH with links resolved (ending in
// "/"). Empty when there is none; always empty on Windows, where the registry names runtimes.
AppString systemJavaHome();

// The folders beside the executable that may hold a runtime shipped with the application,
// in search order, each ending in a separator: "runtime", "jre", "jdk".
int32_t bundledRuntimeFolderCount();
const char* bundledRuntimeFolder(int32_t i);

// Folders whose sub-directories are Java homes put there by package managers, each ending
// in "/": on Linux /usr/lib/jvm/ and SDKMAN's ~/.sdkman/candidates/java/ (when HOME is
// set); none on Windows, where installers register runtimes in the registry.
int32_t installedRuntimeRootCount();
AppString installedRuntimeRoot(int32_t i);

// Arranges for `handler` to run when the runtime ends the process itself (System.exit,
// Runtime.halt), after its own shutdown work (the class-data archive is written by then):
// through the exit handlers of the runtime's C library, which it calls last. Linux: the one C
// library of the process. Windows: the runtime's own (ucrtbase, or an msvcr*.dll), which is
// not this program's. False when no such library is loaded.
[[nodiscard]] bool runWhenRuntimeExits(void (*handler)());

}  // namespace kvx::platform
