// describeKey, seekByKey and stepRecords on arbitrary answers of the record
// manager (through the data layer's scripted stand-in): Stat answers with
// any record length, page size, key count and segment chain, and reads that
// return any status, data length, data and key. The data layer must never
// write outside the caller's record area or its own buffers, and what it
// reports stays within the sizes of a call.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/data.h"
#include "session/session.h"
#include "tests/data/scripted_record_manager.h"

namespace {

constexpr std::int16_t kFile = 514;

// An answer of arbitrary bytes, status and returned data length.
scripted::Answer arbitraryAnswer(FuzzedDataProvider& input) {
    scripted::Answer a;
    a.status = input.ConsumeIntegral<std::int16_t>();
    a.data = input.ConsumeRandomLengthString(kDataBufferSize);
    a.setsDataLength = input.ConsumeBool();
    a.dataLength = input.ConsumeIntegral<std::uint32_t>();
    a.key = input.ConsumeRandomLengthString(kKeyBufferSize);
    return a;
}

void checkEntry(const std::vector<unsigned char>& area) {
    const OpenFileEntry& entry = openFileTable.entries[findSlot(kFile)];
    if (entry.keyValue.size() > static_cast<std::size_t>(kKeyBufferSize - 1)) std::abort();
    if (entry.recordLength < 0 || entry.recordLength > static_cast<std::int32_t>(area.size()))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    openFileTable = OpenFileTable{};
    sessionSettings = SessionSettings{};
    scripted::install();

    // A sound open first: a record area of its own size on the heap, so that
    // any write past it is caught.
    const int recordLength = input.ConsumeIntegralInRange(1, kDataBufferSize);
    std::vector<unsigned char> area(static_cast<std::size_t>(recordLength));
    const int keyLength = input.ConsumeIntegralInRange(1, 32);
    scripted::answerOpen(recordLength, {{keyLength}});
    std::int16_t status = -1;
    openDataFile(kFile, "DADES\\CobramH", area.data(), recordLength, status);
    if (status != 0 || findSlot(kFile) <= 0) std::abort();

    // describeKey on two arbitrary Stat answers.
    const auto keyNumber = input.ConsumeIntegral<std::int16_t>();
    scripted::answer(arbitraryAnswer(input));
    scripted::answer(arbitraryAnswer(input));
    std::int16_t foundKey = -1, foundRecord = -1;
    describeKey(kFile, keyNumber, foundKey, foundRecord);
    if (foundKey < 0 || foundKey > kKeyBufferSize - 1) std::abort();
    if (foundRecord < 0 || foundRecord > kDataBufferSize) std::abort();

    // seekByKey: its two Stat calls and its read, all arbitrary.
    for (int i = 0; i < 3; ++i) scripted::answer(arbitraryAnswer(input));
    const std::string keyValue = input.ConsumeRandomLengthString(300);
    seekByKey(kFile, input.ConsumeIntegralInRange<std::int16_t>(-2, 4), keyValue,
              input.ConsumeIntegral<std::int16_t>(), status);
    checkEntry(area);

    // stepRecords over arbitrary answers, forward or backward.
    const auto count = input.ConsumeIntegralInRange<std::int16_t>(-4, 4);
    for (int i = 0; i < 4; ++i) scripted::answer(arbitraryAnswer(input));
    stepRecords(kFile, count, status);
    checkEntry(area);

    setRecordManager(nullptr);
    return 0;
}
