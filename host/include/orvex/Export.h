// Export and import macros of the host's libraries and the shared records.
//
// Each library has its own macro: it exports while that library is built (its target defines
// ORVEX_BUILDING_<LIBRARY>) and imports everywhere else. On Windows that is dllexport and
// dllimport; on ELF both are default visibility, since every library is built with hidden
// visibility. Only what carries its library's macro is part of that library's binary interface.
#pragma once

#if defined(_WIN32)
#define ORVEX_DECL_EXPORT __declspec(dllexport)
#define ORVEX_DECL_IMPORT __declspec(dllimport)
#else
#define ORVEX_DECL_EXPORT __attribute__((visibility("default")))
#define ORVEX_DECL_IMPORT __attribute__((visibility("default")))
#endif

// The shared records and result codes (orvex_records).
#if defined(ORVEX_BUILDING_RECORDS)
#define ORVEX_RECORDS_API ORVEX_DECL_EXPORT
#else
#define ORVEX_RECORDS_API ORVEX_DECL_IMPORT
#endif

// The common runtime library (orvex_runtime).
#if defined(ORVEX_BUILDING_RUNTIME)
#define ORVEX_RUNTIME_API ORVEX_DECL_EXPORT
#else
#define ORVEX_RUNTIME_API ORVEX_DECL_IMPORT
#endif

// The host plugin library (orvex_hostplugin).
#if defined(ORVEX_BUILDING_HOSTPLUGIN)
#define ORVEX_HOSTPLUGIN_API ORVEX_DECL_EXPORT
#else
#define ORVEX_HOSTPLUGIN_API ORVEX_DECL_IMPORT
#endif
