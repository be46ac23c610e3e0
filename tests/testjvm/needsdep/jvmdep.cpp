// jvmdep.dll: the library that jvm-needsdep/jvm.dll imports from.

extern "C" __declspec(dllexport) const char* kvx_testjvm_dependency() { return "jvmdep"; }
