/* How the library marks what it exports (C and C++ alike). */
#ifndef STRATA_EXPORT_H_
#define STRATA_EXPORT_H_

#ifndef STRATA_API
#if defined(_WIN32)
#define STRATA_API __declspec(dllexport)
#else
#define STRATA_API __attribute__((visibility("default")))
#endif
#endif

#endif /* STRATA_EXPORT_H_ */
