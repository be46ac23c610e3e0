#pragma once
// Diagnostics for users and support: with the environment variable KVX_TRACE set to a file
// path (lines are appended) or to "-" (standard error), the launcher writes one line per
// step of the launch. Unset or empty, every call is one test of a flag read once.
//
//   trace("candidate %s rejected: %s", path.c_str(), reason);
//
// Lines start with "kvx: " and end with a newline added here; each is flushed at once, so
// a crash keeps what came before it. Safe to call from any thread.

namespace kvx {

#if defined(__GNUC__)
#define KVX_TRACE_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define KVX_TRACE_FORMAT
#endif

// True when KVX_TRACE asks for lines; for work that only a trace line needs.
bool traceEnabled();
// Writes one formatted line (printf conventions) when tracing is enabled.
void trace(const char* format, ...) KVX_TRACE_FORMAT;
// Reads KVX_TRACE again and reopens the output (tests only; not thread-safe with trace).
void traceRestart();

}  // namespace kvx
