// Export macro shared by every library of the project.
//
// All libraries are built with hidden visibility; a class or function marked ORVEX_API is part of
// its library's binary interface and is the only thing a host (or another library) may link
// against.
#pragma once

#if defined(_WIN32)
#define ORVEX_API __declspec(dllexport)
#else
#define ORVEX_API __attribute__((visibility("default")))
#endif
