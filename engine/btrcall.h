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
 * codes. It is returned as a whole int, so that a caller that reads the full
 * return register (BTRCALL declared returning int) gets the status and a
 * caller that reads its low 16 bits gets it too. On 32-bit Windows the entry
 * is __stdcall: it removes its 28 bytes of arguments, and reads only the low
 * bits of the 8- and 16-bit arguments.
 * engine::Entry is this function's type. */
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

NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV BTRCALL(uint16_t operation, void* positionBlock,
                                                  void* dataBuffer, uint32_t* dataLength,
                                                  void* keyBuffer, uint8_t keyLength,
                                                  int8_t keyNumber);

/* The other entries of the documented API, for programs that import them:
 * BTRCALL32 is BTRCALL under another name. BTRCALLID and BTRCALLID32 take a
 * client identifier last (16 bytes: 12 of the application's, a 2-byte
 * service agent and a 2-byte client number); every client identifier is
 * served as the process's one client, as BTRCALL serves it: one
 * transaction, the same position blocks, and Reset and Stop end the work
 * of all of them. A null client identifier is taken as BTRCALL's call. */
NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV BTRCALL32(uint16_t operation, void* positionBlock,
                                                    void* dataBuffer, uint32_t* dataLength,
                                                    void* keyBuffer, uint8_t keyLength,
                                                    int8_t keyNumber);
NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV BTRCALLID(uint16_t operation, void* positionBlock,
                                                    void* dataBuffer, uint32_t* dataLength,
                                                    void* keyBuffer, uint8_t keyLength,
                                                    int8_t keyNumber, void* clientId);
NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV BTRCALLID32(uint16_t operation, void* positionBlock,
                                                      void* dataBuffer, uint32_t* dataLength,
                                                      void* keyBuffer, uint8_t keyLength,
                                                      int8_t keyNumber, void* clientId);

#ifdef __cplusplus
}
#endif

#endif
