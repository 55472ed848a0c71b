// ORU_EXPORT marks the names the module file exports. Everything else is
// hidden: the build compiles the module with hidden visibility by default.
#pragma once

#if defined(ORU_STATIC_CORE)
// The engine compiled into a test program: nothing to export.
#define ORU_EXPORT
#elif defined(_WIN32)
#define ORU_EXPORT __declspec(dllexport)
#else
#define ORU_EXPORT __attribute__((visibility("default")))
#endif
