// A stand-in for an installed record manager's DLL, for the tests of its
// loading: the entry BTRCALL with the record manager's calling convention,
// which answers with what it was given.
#include <cstdint>
#include <cstring>

#if defined(FAKE_EXPORTS_FROM_DEF)
#define FAKE_EXPORT  // the module's .def file names the export
#elif defined(_WIN32)
#define FAKE_EXPORT __declspec(dllexport)
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define FAKE_CONV __stdcall
#else
#define FAKE_CONV
#endif

// Copies the key buffer into the data buffer, returns the key length as the
// data length and a status made of the operation and the key number.
extern "C" FAKE_EXPORT int FAKE_CONV BTRCALL(std::uint16_t operation, void* positionBlock,
                                             void* dataBuffer, std::uint32_t* dataLength,
                                             void* keyBuffer, std::uint8_t keyLength,
                                             std::int8_t keyNumber) {
    if (positionBlock == nullptr || dataBuffer == nullptr || dataLength == nullptr ||
        keyBuffer == nullptr || keyLength > *dataLength)
        return 99;
    std::memcpy(dataBuffer, keyBuffer, keyLength);
    *dataLength = keyLength;
    return operation * 1000 + keyNumber;
}
