/* Machine-dependent JNI types for Windows builds (i686 and x86-64). */
#ifndef KVX_JNI_MD_H
#define KVX_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* The 32-bit Windows runtimes call natives and the invocation interface with stdcall. */
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
