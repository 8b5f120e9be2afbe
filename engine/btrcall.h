/* The record manager's single entry: one call per operation on a data file.
 *
 *   operation      operation code (engine/api.h: op::)
 *   positionBlock  the caller's 128-byte block for the file, filled by Open
 *   dataBuffer     record or description; dataLength in: bytes offered,
 *                  out: bytes returned
 *   keyBuffer      key value or path; at least 255 bytes
 *   keyLength      bytes of the key buffer offered
 *   keyNumber      key (index) number, or the mode for Open and Create
 *
 * Returns the status: 0 on success, else the record manager's classic status
 * codes (engine/api.h: status::). engine::Entry is this function's type. */
#ifndef NUBO_ENGINE_BTRCALL_H
#define NUBO_ENGINE_BTRCALL_H

#include <stdint.h>

/* The same convention as the contract's (engine/api.h). */
#ifndef NUBO_BTRCALL_CONV
#if defined(_WIN32) && !defined(_WIN64)
#define NUBO_BTRCALL_CONV __stdcall
#else
#define NUBO_BTRCALL_CONV
#endif
#endif

#if defined(_WIN32) && defined(NUBO_ENGINE_SHARED_BUILD)
#define NUBO_BTRCALL_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define NUBO_BTRCALL_EXPORT __attribute__((visibility("default")))
#else
#define NUBO_BTRCALL_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

NUBO_BTRCALL_EXPORT int16_t NUBO_BTRCALL_CONV BTRCALL(uint16_t operation, void* positionBlock,
                                                      void* dataBuffer, uint32_t* dataLength,
                                                      void* keyBuffer, uint8_t keyLength,
                                                      int8_t keyNumber);

#ifdef __cplusplus
}
#endif

#endif
