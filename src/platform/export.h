// Marks the plug-in's entry points as exported from the DLL / shared object.
#pragma once

#if defined(_WIN32)
#define HALCYRA_EXPORT __declspec(dllexport)
#else
#define HALCYRA_EXPORT __attribute__((visibility("default")))
#endif
